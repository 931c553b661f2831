#include "core/geo/pose.hpp"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>

namespace quarv {

namespace {

bool parseNumber(const std::string& text, double& out) {
    const char* first = text.data();
    const char* last = first + text.size();
    while (first < last && *first == ' ') ++first;
    while (last > first && last[-1] == ' ') --last;
    if (first < last && *first == '+') ++first;
    const auto [end, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && end == last && std::isfinite(out);
}

} // namespace

PoseInput PoseInput::overriddenBy(const PoseInput& over) const {
    PoseInput p = *this;
    if (over.position) p.position = over.position;
    if (over.headingDeg) p.headingDeg = over.headingDeg;
    if (!over.crs.empty()) p.crs = over.crs;
    if (!over.positionCrs.empty()) p.positionCrs = over.positionCrs;
    return p;
}

bool parsePosition(const std::string& text, std::array<double, 3>& out, std::string& why) {
    std::array<double, 3> v{};
    std::size_t from = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t comma = text.find(',', from);
        const bool last = i == 2;
        if (last != (comma == std::string::npos) ||
            !parseNumber(text.substr(from, last ? std::string::npos : comma - from), v[i])) {
            why = "position \"" + text + "\" is not three numbers E,N,H";
            return false;
        }
        from = comma + 1;
    }
    out = v;
    return true;
}

bool parseHeading(const std::string& text, double& out, std::string& why) {
    if (!parseNumber(text, out)) {
        why = "heading \"" + text + "\" is not a number of degrees";
        return false;
    }
    return true;
}

std::filesystem::path poseSidecarFor(const std::filesystem::path& recording) {
    std::filesystem::path p = recording;
    p.replace_extension(".pose.json");
    return p;
}

bool readPoseFile(const std::filesystem::path& path, PoseInput& out, std::string& why) {
    const std::string name = path.string();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot read pose file " + name;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    const nlohmann::json j = nlohmann::json::parse(text.str(), nullptr, false);
    if (j.is_discarded()) {
        why = "pose file " + name + " is not valid JSON";
        return false;
    }
    auto bad = [&](const std::string& what) {
        why = "pose file " + name + ": " + what;
        return false;
    };
    if (!j.is_object()) return bad("expected an object");
    PoseInput p;
    for (const auto& [key, value] : j.items()) {
        if (key == "position") {
            if (!value.is_array() || value.size() != 3) return bad("\"position\" is not [E, N, H]");
            std::array<double, 3> v{};
            for (std::size_t i = 0; i < 3; ++i) {
                if (!value[i].is_number() || !std::isfinite(value[i].get<double>()))
                    return bad("\"position\" is not [E, N, H]");
                v[i] = value[i].get<double>();
            }
            p.position = v;
        } else if (key == "heading") {
            if (!value.is_number() || !std::isfinite(value.get<double>()))
                return bad("\"heading\" is not a number");
            p.headingDeg = value.get<double>();
        } else if (key == "crs" || key == "position_crs") {
            if (!value.is_string()) return bad("\"" + key + "\" is not a string");
            (key == "crs" ? p.crs : p.positionCrs) = value.get<std::string>();
        } else {
            return bad("unknown key \"" + key + "\"");
        }
    }
    out = p;
    return true;
}

bool poseForRecording(const std::filesystem::path& recording, const PoseInput& given,
                      PoseInput& out, std::string& why) {
    PoseInput base;
    const std::filesystem::path sidecar = poseSidecarFor(recording);
    std::error_code ec;
    if (std::filesystem::exists(sidecar, ec) && !readPoseFile(sidecar, base, why)) return false;
    out = base.overriddenBy(given);
    return true;
}

} // namespace quarv
