#include "core/campaign/campaign_report.hpp"

#include "core/app/message_sink.hpp"
#include "core/config/atomic_file.hpp"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>

namespace quarv {
namespace {

// Keys in the CSV's column order.
using json = nlohmann::ordered_json;

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string number(const char* format, double v) {
    char text[64];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

bool endsWithJson(const std::filesystem::path& path) {
    std::string e = path.extension().string();
    for (char& c : e)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return e == ".json";
}

} // namespace

std::string reportCsv(const std::vector<CampaignRow>& rows) {
    std::string out = "path,kind,lines,shots_per_line,waveforms,points,visible,removed_by_filter,"
                      "range_min,range_max,snr_min,seconds,outputs,status,message\n";
    for (const CampaignRow& r : rows) {
        const JobSummary& s = r.summary;
        std::string outputs;
        for (const std::string& o : r.outputs) outputs += (outputs.empty() ? "" : ";") + o;
        out += csvField(r.path) + "," + csvField(s.kind) + "," + std::to_string(s.lines) + "," +
               std::to_string(s.shotsPerLine) + "," + std::to_string(s.waveforms) + "," +
               std::to_string(s.points) + "," + std::to_string(s.visible) + "," +
               std::to_string(s.removedByFilter) + "," + number("%g", s.rangeMin) + "," +
               number("%g", s.rangeMax) + "," + number("%g", s.snrMin) + "," +
               number("%.3f", s.seconds) + "," + csvField(outputs) + "," + r.status + "," +
               csvField(r.message) + "\n";
    }
    return out;
}

std::string reportJson(const std::vector<CampaignRow>& rows) {
    json list = json::array();
    for (const CampaignRow& r : rows) {
        const JobSummary& s = r.summary;
        list.push_back({{"path", r.path},
                        {"kind", s.kind},
                        {"lines", s.lines},
                        {"shots_per_line", s.shotsPerLine},
                        {"waveforms", s.waveforms},
                        {"points", s.points},
                        {"visible", s.visible},
                        {"removed_by_filter", s.removedByFilter},
                        {"range_min", s.rangeMin},
                        {"range_max", s.rangeMax},
                        {"snr_min", s.snrMin},
                        {"seconds", s.seconds},
                        {"outputs", r.outputs},
                        {"status", r.status},
                        {"message", r.message}});
    }
    // Paths are bytes, not necessarily UTF-8: replaced rather than refused.
    return json{{"recordings", list}}.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool writeReport(const std::filesystem::path& path, const std::vector<CampaignRow>& rows,
                 MessageSink& sink) {
    const std::string text = endsWithJson(path) ? reportJson(rows) : reportCsv(rows);
    if (writeFileAtomically(path, text.data(), text.size())) return true;
    sink.report(formatMessage("ERROR writing report: %s", path.c_str()));
    return false;
}

bool readReportJson(const std::filesystem::path& path, std::vector<CampaignRow>& rows,
                    std::string& problem) {
    std::ifstream in(path);
    if (!in) {
        problem = "cannot read " + path.string();
        return false;
    }
    try {
        const json doc = json::parse(in);
        for (const json& j : doc.at("recordings")) {
            CampaignRow r;
            JobSummary& s = r.summary;
            j.at("path").get_to(r.path);
            j.at("kind").get_to(s.kind);
            j.at("lines").get_to(s.lines);
            j.at("shots_per_line").get_to(s.shotsPerLine);
            j.at("waveforms").get_to(s.waveforms);
            j.at("points").get_to(s.points);
            j.at("visible").get_to(s.visible);
            j.at("removed_by_filter").get_to(s.removedByFilter);
            j.at("range_min").get_to(s.rangeMin);
            j.at("range_max").get_to(s.rangeMax);
            j.at("snr_min").get_to(s.snrMin);
            j.at("seconds").get_to(s.seconds);
            j.at("outputs").get_to(r.outputs);
            j.at("status").get_to(r.status);
            j.at("message").get_to(r.message);
            rows.push_back(std::move(r));
        }
    } catch (const json::exception& e) {
        problem = path.string() + " is not a batch report (" + e.what() + ")";
        return false;
    }
    return true;
}

std::string summaryLine(const std::vector<CampaignRow>& rows, double seconds) {
    std::size_t processed = 0, skipped = 0, failed = 0;
    std::uint64_t points = 0;
    for (const CampaignRow& r : rows) {
        processed += r.status == "processed";
        skipped += r.status == "skipped";
        failed += r.status == "failed";
        points += r.summary.points;
    }
    return formatMessage("%zu recordings: %zu processed, %zu skipped, %zu failed; %llu points, "
                         "%.2f s",
                         rows.size(), processed, skipped, failed,
                         static_cast<unsigned long long>(points), seconds);
}

bool anyFailed(const std::vector<CampaignRow>& rows) {
    for (const CampaignRow& r : rows)
        if (r.status == "failed") return true;
    return false;
}

} // namespace quarv
