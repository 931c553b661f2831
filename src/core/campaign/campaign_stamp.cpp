#include "core/campaign/campaign_stamp.hpp"

#include "core/config/atomic_file.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/scan/laser_scan_settings.hpp"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace quarv {
namespace {

namespace fs = std::filesystem;

std::uint64_t fnv1a(const void* data, std::size_t size,
                    std::uint64_t hash = 0xcbf29ce484222325ULL) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) hash = (hash ^ p[i]) * 0x100000001b3ULL;
    return hash;
}

std::string hex(std::uint64_t v) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, v);
    return text;
}

std::string fileDigest(const fs::path& path) {
    if (!isRegularFile(path)) return "absent";
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return hex(fnv1a(bytes.data(), bytes.size()));
}

// Size and modification time to the nanosecond: any rewrite of the file changes one of them.
std::string identity(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec) return "absent";
    const auto time = fs::last_write_time(path, ec).time_since_epoch().count();
    return std::to_string(size) + " " + std::to_string(time);
}

} // namespace

std::string configurationText(const ConfigRoot& root) {
    // A run writes laserscan.cfg with its own window and limit (they follow the layer, which the
    // layer list and the settings text already cover) and the average window 0 kept as 1;
    // completed like that, the file reads the same before and after any run.
    LaserScanSettings settings;
    loadLaserScanSettings(root, settings);
    settings.complete(settings.averageWindow(), 0, 0, 0);
    return "layers.lcfg " + fileDigest(layerListPath(root, "layers")) + "\n" + kPulseTemplateName +
           " " + fileDigest(root.pulseTemplatePath()) + "\n" + LaserScanSettings::kFileName + " " +
           hex(fnv1a(settings.bytes.data(), 18)) + "\n";
}

std::string recordingDigest(const std::string& settings, const fs::path& recording) {
    fs::path sidecar = recording;
    sidecar.replace_extension(".pose.json");
    const std::string text =
        settings + "recording " + identity(recording) + "\nsidecar " + identity(sidecar) + "\n";
    return hex(fnv1a(text.data(), text.size()));
}

fs::path stampPath(const fs::path& outputBase) {
    fs::path p = outputBase;
    p += ".done";
    return p;
}

bool writeStamp(const fs::path& path, const CampaignStamp& stamp) {
    const JobSummary& s = stamp.summary;
    std::ostringstream out;
    // File names may hold spaces but never a slash.
    out << "quarv batch stamp 1\ndigest " << stamp.digest << "\noutputs ";
    for (std::size_t i = 0; i < stamp.outputs.size(); ++i)
        out << (i ? "/" : "") << stamp.outputs[i];
    char numbers[160];
    std::snprintf(numbers, sizeof numbers, "\nwindow %a %a %a\n", double(s.rangeMin),
                  double(s.rangeMax), double(s.snrMin));
    out << "\nkind " << s.kind << "\ncounts " << s.lines << ' ' << s.shotsPerLine << ' '
        << s.waveforms << ' ' << s.points << ' ' << s.visible << ' ' << s.removedByFilter
        << numbers;
    const std::string text = out.str();
    return writeFileAtomically(path, text.data(), text.size());
}

bool readStamp(const fs::path& path, CampaignStamp& stamp) {
    if (!isRegularFile(path)) return false;
    std::ifstream in(path);
    std::string line;
    if (!std::getline(in, line) || line != "quarv batch stamp 1") return false;
    stamp = {};
    JobSummary& s = stamp.summary;
    int fields = 0;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        const std::string key = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        std::istringstream values(rest);
        if (key == "digest") {
            stamp.digest = rest;
        } else if (key == "outputs") {
            for (std::string o; std::getline(values, o, '/');)
                if (!o.empty()) stamp.outputs.push_back(o);
        } else if (key == "kind") {
            s.kind = rest;
        } else if (key == "counts") {
            if (!(values >> s.lines >> s.shotsPerLine >> s.waveforms >> s.points >> s.visible >>
                  s.removedByFilter))
                return false;
        } else if (key == "window") {
            double v[3];
            if (std::sscanf(rest.c_str(), "%la %la %la", &v[0], &v[1], &v[2]) != 3) return false;
            s.rangeMin = float(v[0]), s.rangeMax = float(v[1]), s.snrMin = float(v[2]);
        } else {
            continue;
        }
        ++fields;
    }
    return fields == 5;
}

bool isUpToDate(const fs::path& path, const std::string& digest, CampaignStamp& stamp) {
    if (!readStamp(path, stamp) || stamp.digest != digest) return false;
    for (const std::string& output : stamp.outputs)
        if (!isRegularFile(path.parent_path() / output)) return false;
    return true;
}

} // namespace quarv
