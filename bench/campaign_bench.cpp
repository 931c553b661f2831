// The campaign batch: 8 simulated recordings (plane scene, 100 lines x 500 shots x 400 samples,
// about 40 MB each) processed into LAS with one and with two jobs at a time, the worker threads
// (threads 0: one per hardware thread) split between the jobs. The throughput of --jobs 2 is
// judged against --jobs 1 in the same run; one job on one thread shows what a single core does.
// The recordings are written before the first benchmark and deleted when the program ends.
#include "core/app/message_sink.hpp"
#include "core/campaign/campaign_runner.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/config/config_root.hpp"
#include "core/sim/simulator.hpp"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace quarv {
namespace {

namespace fs = std::filesystem;
constexpr int kRecordings = 8;

struct Campaign {
    fs::path dir;
    ConfigRoot root;
    std::vector<CampaignItem> items;
    std::uint64_t waveforms = 0;

    Campaign() {
        std::string pattern = (fs::temp_directory_path() / "quarv-campaign-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return;
        dir = pattern;
        root = ConfigRoot(dir / "home");
        StderrSink sink;
        if (!root.ensureCreated(sink)) return;
        for (int i = 0; i < kRecordings; ++i) {
            sim::SimOptions opt = sim::sceneDefaults("plane");
            opt.distance = 5.0 + i * 0.25;
            opt.seed = static_cast<std::uint32_t>(i + 1);
            opt.scanner.shotsPerLine = 500;
            opt.scanner.lines = 100;
            opt.scanner.samplesPerPulse = 400;
            sim::SimResult result;
            const fs::path file = dir / "in" / formatMessage("r%d.raw", i);
            fs::create_directories(file.parent_path());
            if (!sim::simulate(opt, file, result, sink)) return;
            waveforms += 500 * 100;
        }
        std::vector<std::string> notes;
        items = collectRecordings({dir / "in"}, false, dir / "out", notes);
    }
    ~Campaign() {
        std::error_code ec;
        if (!dir.empty()) fs::remove_all(dir, ec);
    }
};

Campaign& campaign() {
    static Campaign c;
    return c;
}

class Quiet final : public CampaignProgress {
    void started(std::size_t, const CampaignItem&) override {}
    void percent(std::size_t, int) override {}
    void finished(std::size_t, const CampaignRow&) override {}
};

void BM_CampaignJobs(benchmark::State& state) {
    Campaign& c = campaign();
    if (c.items.size() != kRecordings) {
        state.SkipWithError("could not write the recordings");
        return;
    }
    CampaignSettings settings;
    settings.outDir = c.dir / "out";
    settings.jobs = static_cast<unsigned>(state.range(0));
    settings.workers = static_cast<unsigned>(state.range(1));
    settings.force = true;
    const std::vector<CampaignOutput> outputs = {
        {".las", [](RecordingJob& job, const fs::path& p, MessageSink& s) {
             return exportLas(job.renderer(), p, s);
         }}};
    StderrSink sink;
    Quiet quiet;
    runCampaign(c.items, c.root, settings, outputs, quiet, sink); // warms the page cache
    std::int64_t processed = 0;
    for (auto _ : state)
        for (const CampaignRow& row : runCampaign(c.items, c.root, settings, outputs, quiet, sink))
            processed += row.status == "processed";
    if (processed != kRecordings * state.iterations()) state.SkipWithError("a recording failed");
    state.counters["recordings/s"] = benchmark::Counter(
        static_cast<double>(kRecordings * state.iterations()), benchmark::Counter::kIsRate);
    state.counters["waveforms/s"] = benchmark::Counter(
        static_cast<double>(c.waveforms * state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CampaignJobs)
    ->Args({1, 1})
    ->Args({1, 0})
    ->Args({2, 0})
    ->ArgNames({"jobs", "threads"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace
} // namespace quarv
