// The batch report: one row per recording (path, kind, counts, the layer's window and SNR limit,
// processing seconds, outputs, status and message) as CSV or, for a name ending in ".json", as
// JSON; a one-line summary; and the JSON read back, so that the reports of a batch split over
// several machines merge into the report the batch would have written.
#pragma once

#include "core/app/recording_job.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace quarv {

class MessageSink;

struct CampaignRow {
    std::string path;
    JobSummary summary; // seconds: 0 when skipped
    std::vector<std::string> outputs;
    std::string status; // "processed", "skipped" or "failed"
    std::string message;
};

std::string reportCsv(const std::vector<CampaignRow>& rows);
std::string reportJson(const std::vector<CampaignRow>& rows);
// Atomically; JSON when the name ends in ".json" (any case). False with "ERROR writing report:
// PATH" otherwise.
bool writeReport(const std::filesystem::path& path, const std::vector<CampaignRow>& rows,
                 MessageSink& sink);
// Appends the rows of a JSON report; false with the reason in `problem`.
bool readReportJson(const std::filesystem::path& path, std::vector<CampaignRow>& rows,
                    std::string& problem);

// "N recordings: P processed, S skipped, F failed; X points, T s" (T: `seconds`).
std::string summaryLine(const std::vector<CampaignRow>& rows, double seconds);
bool anyFailed(const std::vector<CampaignRow>& rows);

} // namespace quarv
