// quarv-cli batch INPUT... --out DIR: a campaign of recordings processed like quarv-cli process,
// several at once, each into outputs of its own name under DIR, resumable (an up-to-date
// recording is skipped), with a report of every recording. --task K --tasks N runs the K-th of
// N contiguous shares of the same list, so GNU parallel and Slurm job arrays can spread one
// batch over machines and get the batch's own files; quarv-cli batch-merge joins their reports.
// Exit status: 0 all processed or skipped, 1 nothing could run, 2 usage, 3 a recording failed.
#include "cli/commands.hpp"
#include "cli/output_options.hpp"
#include "cli/processing_options.hpp"
#include "core/app/message_sink.hpp"
#include "core/campaign/campaign_runner.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/survey_export.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace quarv::cli {
namespace {

namespace fs = std::filesystem;

const std::string kUsage =
    std::string("INPUT... --out DIR [--jobs N] [--threads T] [--las] [--xyz] [--points]\n"
                "             [--export las|ply] [--report FILE] [--force] [--recursive]\n"
                "             [--task K --tasks N] [--list]\n             ") +
    kProcessingUsage +
    "\n             [--include-hidden] [--level] [--position E,N,H] [--heading DEG]"
    "\n             [--crs EPSG:X] [--position-crs EPSG:Y]   (with --export)"
    "\n             process recordings and folders of them";

int usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "quarv-cli batch: %s\n", problem.c_str());
    std::fprintf(stderr, "usage: quarv-cli batch %s\n", kUsage.c_str());
    return 2;
}

// The attribute-rich export of one processed recording (--export las|ply): the recording's own
// sidecar pose under the command line's, its own attitude when levelling.
CampaignOutput recordingExport(const std::string& extension, const OutputOptions& choices,
                               std::uint32_t layer) {
    return {"." + extension,
            [choices, layer](RecordingJob& job, const fs::path& path, MessageSink& sink) {
                const PointLayer& rec = job.store().layer(layer);
                const fs::path recording(
                    std::string(rec.name.data(), strnlen(rec.name.data(), rec.name.size())));
                OutputOptions o = choices;
                o.exportPath = path;
                return writeOutputs(job.store(), layer, recording, o, 0, sink);
            }};
}

// Progress on stderr. On a terminal one line redrawn in place: a bar of the recordings done and
// the percentage of each one in progress, finished recordings printed above it. Otherwise a line
// per recording started and finished and per quarter of a recording done.
class BatchProgress final : public CampaignProgress {
public:
    BatchProgress(std::size_t total, bool tty) : total_(total), tty_(tty) {}

    void started(std::size_t index, const CampaignItem& item) override {
        std::lock_guard lock(mutex_);
        running_.push_back({index, item.source.filename().string(), 0});
        if (!tty_) std::fprintf(stderr, "[%zu/%zu] %s\n", index + 1, total_, item.source.c_str());
        draw();
    }
    void percent(std::size_t index, int percent) override {
        std::lock_guard lock(mutex_);
        for (Running& r : running_) {
            if (r.index != index || percent <= r.percent) continue;
            if (!tty_ && percent / 25 > r.percent / 25)
                std::fprintf(stderr, "progress %s %d%%\n", r.name.c_str(), percent);
            r.percent = percent;
        }
        draw();
    }
    void finished(std::size_t index, const CampaignRow& row) override {
        std::lock_guard lock(mutex_);
        std::erase_if(running_, [&](const Running& r) { return r.index == index; });
        ++done_;
        clear();
        std::fprintf(stderr, "[%zu/%zu] %s: %s", index + 1, total_, row.path.c_str(),
                     row.status.c_str());
        if (row.status == "failed")
            std::fprintf(stderr, "\n");
        else
            std::fprintf(stderr, ", %u points, %.2f s\n", row.summary.points, row.summary.seconds);
        draw();
    }
    void finish() {
        std::lock_guard lock(mutex_);
        clear();
    }

private:
    struct Running {
        std::size_t index;
        std::string name;
        int percent;
    };

    void clear() {
        if (tty_ && drawn_) std::fprintf(stderr, "\r\033[K");
        drawn_ = false;
    }
    void draw() {
        if (!tty_) return;
        constexpr std::size_t kWidth = 30;
        const std::size_t filled = total_ ? done_ * kWidth / total_ : kWidth;
        std::string line = "\r\033[K[" + std::string(filled, '#') +
                           std::string(kWidth - filled, ' ') + "] " + std::to_string(done_) + "/" +
                           std::to_string(total_);
        for (const Running& r : running_)
            line += "  " + r.name + " " + std::to_string(r.percent) + "%";
        std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
        drawn_ = true;
    }

    std::mutex mutex_;
    std::size_t total_;
    bool tty_;
    bool drawn_ = false;
    std::size_t done_ = 0;
    std::vector<Running> running_;
};

// Messages of the runs on stderr, whole lines from any thread.
class LockedStderrSink final : public MessageSink {
public:
    void report(const std::string& text) override {
        std::lock_guard lock(mutex_);
        std::fprintf(stderr, "%s\n", text.c_str());
    }

private:
    std::mutex mutex_;
};

std::optional<unsigned> count(const Args& args, const char* name, unsigned lo, std::string& bad) {
    const auto v = args.number(name);
    if (!v) return std::nullopt;
    if (*v < lo || *v > 4096 || *v != std::floor(*v))
        bad = "--" + std::string(name) + " must be a whole number from " + std::to_string(lo);
    return static_cast<unsigned>(std::clamp(*v, 0.0, 4096.0));
}

int runBatch(int argc, char** argv) {
    const Args args(argc, argv,
                    processingFlags({"las", "xyz", "points", "force", "recursive", "list",
                                     kOutputFlags[0], kOutputFlags[1]}));
    ProcessingOptions options;
    std::string problem;
    if (!parseProcessingOptions(args, options, problem)) return usage(problem);
    const auto jobs = count(args, "jobs", 1, problem);
    const auto task = count(args, "task", 0, problem);
    const auto tasks = count(args, "tasks", 1, problem);
    const auto threads = count(args, "threads", 1, problem);
    if (!args.error().empty()) return usage(args.error());
    if (!problem.empty()) return usage(problem);
    if (task.has_value() != tasks.has_value()) return usage("--task and --tasks go together");
    if (task && *task >= *tasks) return usage("--task must be below --tasks");
    const auto out = args.value("out");
    if (!out) return usage("--out DIR is required");
    if (args.positional().empty()) return usage("no INPUT given");
    const auto exportExt = args.value("export");
    if (exportExt && !surveyFormatOf("x." + *exportExt))
        return usage("--export must be las or ply");
    if (exportExt && args.flag("las") && surveyFormatOf("x." + *exportExt) == SurveyFormat::Las)
        return usage("--las and --export las would write the same file");
    OutputOptions exportChoices;
    if (!parseExportChoices(args, exportExt.has_value(), exportChoices, problem)) {
        std::fprintf(stderr, "quarv-cli batch: %s\n", problem.c_str());
        return 1;
    }

    // The outputs in a fixed order; their list is part of the settings the stamps record.
    std::vector<CampaignOutput> outputs;
    if (args.flag("las"))
        outputs.push_back({".las", [](RecordingJob& job, const fs::path& p, MessageSink& s) {
                               return exportLas(job.renderer(), p, s);
                           }});
    if (args.flag("xyz"))
        outputs.push_back({".xyz", [](RecordingJob& job, const fs::path& p, MessageSink& s) {
                               return exportXyz(job.renderer(), p, s);
                           }});
    const std::uint32_t layer = options.layer;
    if (args.flag("points"))
        outputs.push_back(
            {".points.csv", [layer](RecordingJob& job, const fs::path& p, MessageSink& s) {
                 return writePointsCsv(job.store(), layer, p, s,
                                       job.store().layer(layer).returns > 1);
             }});
    if (exportExt) outputs.push_back(recordingExport(*exportExt, exportChoices, layer));
    if (outputs.empty()) return usage("nothing to write: give --las, --xyz, --points or --export");

    std::vector<fs::path> inputs(args.positional().begin(), args.positional().end());
    std::vector<std::string> notes;
    std::vector<CampaignItem> items =
        collectRecordings(inputs, args.flag("recursive"), *out, notes);
    for (const std::string& note : notes)
        std::fprintf(stderr, "quarv-cli batch: %s\n", note.c_str());
    if (args.flag("list")) {
        for (std::size_t i = 0; i < items.size(); ++i)
            std::printf("%zu\t%s\t%s\n", i, items[i].source.c_str(), items[i].name.c_str());
        return 0;
    }
    if (task) {
        // Contiguous shares: the reports of tasks 0..N-1 joined in order are the batch's own.
        const std::size_t n = items.size(), begin = n * *task / *tasks,
                          end = n * (*task + 1) / *tasks;
        items = std::vector<CampaignItem>(items.begin() + static_cast<std::ptrdiff_t>(begin),
                                          items.begin() + static_cast<std::ptrdiff_t>(end));
    } else if (items.empty()) {
        std::fprintf(stderr, "quarv-cli batch: no recordings to process\n");
        return 1;
    }

    LockedStderrSink sink;
    if (!options.root.ensureCreated(sink)) return 1;
    std::error_code ec;
    fs::create_directories(*out, ec);
    if (ec || !fs::is_directory(*out)) {
        std::fprintf(stderr, "quarv-cli batch: cannot create the output folder %s\n", out->c_str());
        return 1;
    }

    CampaignSettings settings;
    settings.layer = layer;
    settings.overrides = options.overrides;
    settings.settingsText = options.settingsText() + "outputs";
    for (const CampaignOutput& o : outputs) settings.settingsText += " " + o.suffix;
    settings.settingsText += "\n";
    // The export's own choices change its bytes too (the sidecar is stamped per recording).
    if (exportExt) {
        const PoseInput& p = exportChoices.pose;
        char pose[256];
        std::snprintf(pose, sizeof pose,
                      "export hidden %d level %d position %s %a %a %a heading %s %a\n",
                      exportChoices.includeHidden, exportChoices.level, p.position ? "yes" : "no",
                      p.position ? (*p.position)[0] : 0.0, p.position ? (*p.position)[1] : 0.0,
                      p.position ? (*p.position)[2] : 0.0, p.headingDeg ? "yes" : "no",
                      p.headingDeg.value_or(0.0));
        settings.settingsText += pose + ("crs " + p.crs + " position-crs " + p.positionCrs + "\n");
    }
    settings.outDir = *out;
    settings.jobs = jobs.value_or(1);
    settings.workers = threads.value_or(0);
    settings.force = args.flag("force");

    const auto t0 = std::chrono::steady_clock::now();
    BatchProgress progress(items.size(), ::isatty(STDERR_FILENO) == 1);
    const std::vector<CampaignRow> rows =
        runCampaign(items, options.root, settings, outputs, progress, sink);
    progress.finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    bool reported = true;
    const auto report = args.value("report");
    if (report)
        reported = writeReport(*report, rows, sink);
    else if (!task)
        reported = writeReport(fs::path(*out) / "batch-report.csv", rows, sink);
    std::printf("batch: %s\n", summaryLine(rows, seconds).c_str());
    return anyFailed(rows) || !reported ? 3 : 0;
}

// The reports of the tasks of one batch (JSON, in task order) as one report.
int runBatchMerge(int argc, char** argv) {
    const Args args(argc, argv, {});
    if (args.positional().size() < 2) {
        std::fprintf(stderr, "usage: quarv-cli batch-merge OUT.csv|OUT.json PART.json...\n");
        return 2;
    }
    std::vector<CampaignRow> rows;
    for (std::size_t i = 1; i < args.positional().size(); ++i) {
        std::string problem;
        if (!readReportJson(args.positional()[i], rows, problem)) {
            std::fprintf(stderr, "quarv-cli batch-merge: %s\n", problem.c_str());
            return 1;
        }
    }
    StderrSink sink;
    if (!writeReport(args.positional()[0], rows, sink)) return 1;
    double seconds = 0;
    for (const CampaignRow& r : rows) seconds += r.summary.seconds;
    std::printf("batch: %s\n", summaryLine(rows, seconds).c_str());
    return anyFailed(rows) ? 3 : 0;
}

const Registration kBatch({"batch", kUsage.c_str(), runBatch});
const Registration kBatchMerge({"batch-merge",
                                "OUT.csv|OUT.json PART.json...   join the reports of batch tasks",
                                runBatchMerge});

} // namespace
} // namespace quarv::cli
