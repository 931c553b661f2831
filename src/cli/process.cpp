// quarv-cli process FILE: the Process command without the workstation. The file goes through the
// same engine and request protocol as the build dialog's run (kind as requestForPath decides: LAS
// import, cloud file rebuild, or a raw recording processed and then clutter-filtered),
// into a layer whose settings come from CFG/layers.lcfg with the options on top. The layer is
// then exported with the same code as the workstation's Save commands, and every committed slot
// can be dumped as CSV.
#include "cli/commands.hpp"
#include "cli/output_options.hpp"
#include "core/app/message_sink.hpp"
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/config/atomic_file.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/scan/processing_session.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace quarv::cli {
namespace {

const std::string kUsageText =
    std::string("FILE [--home DIR] [--layer L] [--range-min M] [--range-max M] [--snr-min S]\n"
                "             [--filter-distance D] [--no-filter] [--show-saturated] [--las OUT]\n"
                "             [--xyz OUT] [--points OUT.csv]\n") +
    kOutputUsage + "   process a recording into a layer and export it";
const char* const kUsage = kUsageText.c_str();

// Counts what was reported so that the command knows whether the run refused its file.
class CountingSink final : public MessageSink {
public:
    void report(const std::string& text) override {
        count.fetch_add(1);
        inner_.report(text);
    }
    std::atomic<int> count{0};

private:
    StderrSink inner_;
};

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

bool writePointsCsv(const CloudStore& store, std::uint32_t layer, const std::filesystem::path& path,
                    MessageSink& sink) {
    AtomicFileWriter out;
    if (!out.open(path)) {
        sink.report(formatMessage("ERROR writing points file: %s", path.c_str()));
        return false;
    }
    std::FILE* f = out.stream();
    std::fputs("x,y,z,azimuth,elevation,range,amplitude,snr,saturated,valid,sequence,line,"
               "peakPosition\n",
               f);
    const std::uint32_t n = store.pointCount(layer);
    for (std::uint32_t i = 0; i < n; ++i) {
        const CloudPoint& p = store.point(layer, i);
        std::fprintf(f, "%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g,%u,%u,%u,%u,%.9g\n", double(p.x),
                     double(p.y), double(p.z), double(p.azimuth), double(p.elevation),
                     double(p.range), double(p.amplitude), double(p.snr), unsigned(p.saturated),
                     unsigned(p.isValid()), unsigned(p.sequence), unsigned(p.line),
                     double(p.peakPosition));
    }
    if (std::ferror(f) || !out.commit()) {
        sink.report(formatMessage("ERROR writing points file: %s", path.c_str()));
        return false;
    }
    return true;
}

int usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "quarv-cli process: %s\n", problem.c_str());
    std::fprintf(stderr, "usage: quarv-cli process %s\n", kUsage);
    return 2;
}

int runProcess(int argc, char** argv) {
    std::vector<std::string> flags = {"no-filter", "show-saturated"};
    flags.insert(flags.end(), kOutputFlags.begin(), kOutputFlags.end());
    const Args args(argc, argv, flags);
    const auto layerArg = args.number("layer");
    const auto rangeMin = args.number("range-min");
    const auto rangeMax = args.number("range-max");
    const auto snrMin = args.number("snr-min");
    const auto distance = args.number("filter-distance");
    if (!args.error().empty()) return usage(args.error());
    if (args.positional().size() != 1) return usage("");
    const double layerValue = layerArg.value_or(0.0);
    if (layerValue < 0 || layerValue >= LAYER_COUNT || layerValue != std::floor(layerValue))
        return usage("--layer must be 0 to 4");
    const auto layer = static_cast<std::uint32_t>(layerValue);
    const std::filesystem::path file = args.positional()[0];
    OutputOptions outputs;
    std::string why;
    if (!parseOutputOptions(args, outputs, why) || !checkOutputOptions(outputs, file, why)) {
        std::fprintf(stderr, "quarv-cli process: %s\n", why.c_str());
        return 1;
    }

    CountingSink sink;
    const auto home = args.value("home");
    const ConfigRoot root = home ? ConfigRoot(*home) : ConfigRoot::fromEnvironment();
    if (!root.ensureCreated(sink)) return 1;

    auto store = std::make_unique<CloudStore>();
    if (!store->allocated()) {
        std::fprintf(stderr, "quarv-cli process: cannot allocate the point layers\n");
        return 1;
    }
    auto renderer = std::make_unique<CloudRenderer>(*store);
    readLayerList(store->layers(), LAYER_COUNT, root, "layers");
    store->resetAll();
    PointLayer& rec = store->layer(layer);
    if (rangeMin) rec.rangeMin = static_cast<float>(*rangeMin);
    if (rangeMax) rec.rangeMax = static_cast<float>(*rangeMax);
    if (snrMin) rec.snrMin = static_cast<float>(*snrMin);
    if (distance) rec.filterDistance = *distance;
    if (args.flag("no-filter")) rec.neighbourFilter = 0;
    if (args.flag("show-saturated")) rec.showSaturated = 1;

    TerminalProgress progress(::isatty(STDERR_FILENO) == 1);
    const auto t0 = std::chrono::steady_clock::now();
    {
        ProcessingSession session(*store, *renderer, root, sink, progress);
        // The build dialog's own values follow the layer, so laserscan.cfg records the run.
        session.setRangeWindow(rec.rangeMin, rec.rangeMax);
        session.setSnrMin(rec.snrMin);

        const ProcessRequest request = requestForPath(file);
        const int before = sink.count.load();
        const std::uint32_t refusedBefore = session.refusedRuns();
        bool opened = false;
        if (request == ProcessRequest::ImportLas)
            opened = session.openLas(file);
        else if (request == ProcessRequest::ProcessCloudFile)
            opened = session.openCloudFile(file);
        else
            opened = session.openPlayback(file);
        if (!opened) {
            if (sink.count.load() == before)
                std::fprintf(stderr, "ERROR opening file: %s\n", file.c_str());
            return 1;
        }
        session.setRequest(request);
        if (!session.startProcessing(layer)) return 1;
        while (!session.waitUntilIdle(std::chrono::hours(1))) {
        }
        progress.finish();
        if (session.refusedRuns() != refusedBefore) return 1; // the engine refused the file
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    bool ok = true;
    if (const auto las = args.value("las")) ok = exportLas(*renderer, *las, sink) && ok;
    if (const auto xyz = args.value("xyz")) ok = exportXyz(*renderer, *xyz, sink) && ok;
    if (const auto csv = args.value("points")) ok = writePointsCsv(*store, layer, *csv, sink) && ok;
    ok = writeOutputs(*store, layer, file, outputs, 0, sink) && ok;

    const std::uint32_t count = store->pointCount(layer);
    std::fprintf(stderr, "%s: %u points in layer %u, %u visible, %.2f s\n", file.c_str(), count,
                 layer, store->countVisible(layer, true), seconds);
    return ok ? 0 : 1;
}

const Registration kProcess({"process", kUsage, runProcess});

} // namespace
} // namespace quarv::cli
