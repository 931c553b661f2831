// quarv-cli process FILE: the Process command without the workstation. The file goes through the
// same engine and request protocol as the build dialog's run (kind as requestForPath decides: LAS
// import, cloud file rebuild, or a raw recording processed and then clutter-filtered),
// into a layer whose settings come from CFG/layers.lcfg with the options on top. The layer is
// then exported with the same code as the workstation's Save commands, and every committed slot
// can be dumped as CSV.
#include "cli/commands.hpp"
#include "cli/processing_options.hpp"
#include "core/app/message_sink.hpp"
#include "core/app/notifier.hpp"
#include "core/app/recording_job.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/config/config_root.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace quarv::cli {
namespace {

const std::string kUsage =
    std::string("FILE ") + kProcessingUsage +
    "\n             [--las OUT] [--xyz OUT] [--points OUT.csv]\n             "
    "process a recording into a layer and export it";

// Progress on stderr: a bar redrawn in place on a terminal, otherwise one line per new value.
class TerminalProgress final : public Notifier {
public:
    explicit TerminalProgress(bool tty) : tty_(tty) {}
    void cloudChanged() override {}
    void progress(int percent) override {
        if (percent == last_) return;
        last_ = percent;
        if (!tty_) {
            std::fprintf(stderr, "progress %d%%\n", percent);
            return;
        }
        constexpr int kWidth = 40;
        const int filled = std::clamp(percent, 0, 100) * kWidth / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled,
                     "########################################", kWidth - filled, "", percent);
        std::fflush(stderr);
        drawn_ = true;
    }
    void finish() {
        if (tty_ && drawn_) std::fprintf(stderr, "\r%*s\r", 48, "");
    }

private:
    bool tty_;
    bool drawn_ = false;
    int last_ = -1;
};

int usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "quarv-cli process: %s\n", problem.c_str());
    std::fprintf(stderr, "usage: quarv-cli process %s\n", kUsage.c_str());
    return 2;
}

int runProcess(int argc, char** argv) {
    const Args args(argc, argv, processingFlags({}));
    ProcessingOptions options;
    std::string problem;
    if (!parseProcessingOptions(args, options, problem)) return usage(problem);
    if (args.positional().size() != 1) return usage("");
    const std::uint32_t layer = options.layer;
    const std::filesystem::path file = args.positional()[0];

    StderrSink sink;
    const ConfigRoot& root = options.root;
    if (!root.ensureCreated(sink)) return 1;
    const LayerOverrides& overrides = options.overrides;

    TerminalProgress progress(::isatty(STDERR_FILENO) == 1);
    RecordingJob job(root, sink, progress);
    if (!job.allocated()) {
        std::fprintf(stderr, "quarv-cli process: cannot allocate the point layers\n");
        return 1;
    }
    const bool processed = job.run(file, layer, overrides);
    progress.finish();
    if (!processed) return 1;

    bool ok = true;
    if (const auto las = args.value("las")) ok = exportLas(job.renderer(), *las, sink) && ok;
    if (const auto xyz = args.value("xyz")) ok = exportXyz(job.renderer(), *xyz, sink) && ok;
    if (const auto csv = args.value("points"))
        ok = writePointsCsv(job.store(), layer, *csv, sink, job.store().layer(layer).returns > 1) &&
             ok;

    const JobSummary& run = job.summary();
    std::fprintf(stderr, "%s: %u points in layer %u, %u visible, %.2f s\n", file.c_str(),
                 run.points, layer, run.visible, run.seconds);
    return ok ? 0 : 1;
}

const Registration kProcess({"process", kUsage.c_str(), runProcess});

} // namespace
} // namespace quarv::cli
