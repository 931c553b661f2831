// quarv-gl-bench: the view's drawing and picking under a real GL context (run it under
// xvfb-run -a; on this machine that is Mesa's llvmpipe). Two clouds: the harbour demo recording
// processed by the engine, and five full layers (5 x 2,249,999 points). For each: the rebuild of
// the display data, a full frame, a frame during a drag (the subsample), and a pick. The drag
// frame is reported against the full frame of the same cloud in the same run; so are the depth
// shading and the legend against the plain frame, and the scan image of a 2048 x 2047 recording
// against the processing of that recording.
#include "core/app/message_sink.hpp"
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/scan/process_request.hpp"
#include "core/scan/processing_session.hpp"
#include "core/sim/simulator.hpp"
#include "core/viewer/view_aids.hpp"
#include "gui/viewer/child_view.hpp"
#include "gui/viewer/gl_format.hpp"

#include <QApplication>
#include <QTest>

#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quarv {
namespace {

// The view with its paint handler reachable, so that one frame can be timed on its own.
class BenchView : public CChildView {
public:
    void frame() {
        makeCurrent();
        paintGL();
        glFinish();
        doneCurrent();
    }
};

struct Cloud {
    std::unique_ptr<CloudStore> store = std::make_unique<CloudStore>();
    std::unique_ptr<CloudRenderer> renderer = std::make_unique<CloudRenderer>(*store);
    std::unique_ptr<BenchView> view = std::make_unique<BenchView>();
    std::uint64_t points = 0;

    void show(float zoom) {
        float x = 0, y = 5, z = 0;
        for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
            if (store->layer(l).inUse && store->centroid(l, x, y, z)) break;
        }
        view->setRenderer(renderer.get());
        view->setHasCloud(true);
        view->setTarget(x, y, z);
        view->resetCamera();
        view->camera().zoom = zoom;
        view->resize(1024, 768);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get())) std::fprintf(stderr, "view not exposed\n");
        points = renderer->visibleLayerPointTotal();
    }
};

// Five layers filled to the last slot: rolling ground 30 x 30 m, 6 to 36 m ahead, coloured by
// height, every point visible.
// Made on first use; released before the application goes (they hold widgets).
std::unique_ptr<Cloud> gFull, gDemo;

void releaseClouds() {
    gDemo.reset();
    gFull.reset();
}

Cloud& fullLayers() {
    if (!gFull) {
        gFull = std::make_unique<Cloud>();
        Cloud& c = *gFull;
        constexpr std::uint32_t kSide = 1500; // 1500 x 1500 = 2,250,000 >= a full layer
        for (std::uint32_t l = 0; l < LAYER_COUNT; ++l) {
            PointLayer& rec = c.store->layer(l);
            rec.pointSize = 1;
            c.store->setCurrentLayer(l);
            for (std::uint32_t i = 0; i < CloudStore::MAX_LAYER_POINTS; ++i) {
                CloudPoint& p = c.store->nextSlot(l);
                const float u = static_cast<float>(i % kSide) / kSide;
                const float v = static_cast<float>(i / kSide) / kSide;
                p.x = -15.0f + 30.0f * u + 0.002f * l;
                p.y = 6.0f + 30.0f * v;
                p.z = -4.0f + 0.8f * std::sin(6.0f * u) * std::cos(4.0f * v) + 0.01f * l;
                const auto shade = static_cast<std::uint8_t>(128 + 100 * std::sin(6.0f * u));
                p.color = {shade, static_cast<std::uint8_t>(60 + 40 * l), 200};
                p.valid = 1;
                p.range = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
                c.store->addStatistics(l, false, p.range, 0, 0, p); // for the centroid
                c.store->commit(l);
            }
        }
        c.show(6.0f);
    }
    return *gFull;
}

// The harbour demo: simulated, then processed into layer 0 with the shipped layer settings.
Cloud& demo() {
    if (!gDemo) {
        gDemo = std::make_unique<Cloud>();
        Cloud& c = *gDemo;
        const std::filesystem::path dir = std::filesystem::temp_directory_path() / "quarv-gl-bench";
        std::filesystem::create_directories(dir);
        const ConfigRoot root(dir / "home");
        StderrSink sink;
        root.ensureCreated(sink);
        const std::filesystem::path raw = dir / "harbour.raw";
        if (!std::filesystem::exists(raw)) {
            sim::SimResult result;
            sim::simulate(sim::sceneDefaults("harbour"), raw, result, sink);
        }
        readLayerList(c.store->layers(), LAYER_COUNT, root, "layers");
        c.store->resetAll();
        NullNotifier notifier;
        ProcessingSession session(*c.store, *c.renderer, root, sink, notifier);
        session.setRangeWindow(c.store->layer(0).rangeMin, c.store->layer(0).rangeMax);
        session.setSnrMin(c.store->layer(0).snrMin);
        if (session.openPlayback(raw)) {
            session.setRequest(ProcessRequest::ProcessPlayback);
            session.startProcessing(0);
            session.waitUntilIdle(std::chrono::minutes(10));
        }
        c.show(0.8f);
    }
    return *gDemo;
}

Cloud& cloudFor(const benchmark::State& state) {
    return state.range(0) == 0 ? demo() : fullLayers();
}

void label(benchmark::State& state, const Cloud& c) {
    state.SetLabel(state.range(0) == 0 ? "demo" : "5 full layers");
    state.counters["points"] = static_cast<double>(c.points);
}

void BM_RebuildDisplayData(benchmark::State& state) {
    Cloud& c = cloudFor(state);
    GlCloudRenderer& gl = *c.view->glRenderer();
    for (auto _ : state) {
        c.view->makeCurrent();
        gl.buildDisplayList();
        glFinish();
        c.view->doneCurrent();
    }
    label(state, c);
}

void BM_FullFrame(benchmark::State& state) {
    Cloud& c = cloudFor(state);
    c.view->glRenderer()->setSubsample(false);
    c.view->frame(); // display data up to date
    for (auto _ : state) c.view->frame();
    label(state, c);
    // How much of the view the cloud covers: a frame of nothing would time nothing.
    const QImage image = c.view->grabFramebuffer();
    std::int64_t lit = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) lit += (image.pixel(x, y) & 0xFFFFFF) ? 1 : 0;
    }
    state.counters["covered"] = static_cast<double>(lit) / (image.width() * image.height());
}

void BM_DragFrame(benchmark::State& state) {
    Cloud& c = cloudFor(state);
    GlCloudRenderer& gl = *c.view->glRenderer();
    c.view->frame();
    // The full frame of the same cloud, timed here next to the drag frame.
    constexpr int kFull = 3;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kFull; ++i) c.view->frame();
    const double full =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / kFull;
    gl.setSubsample(true);
    double drag = 0;
    std::int64_t n = 0;
    for (auto _ : state) {
        const auto t = std::chrono::steady_clock::now();
        c.view->camera().rotZ += 0.3f; // as a drag turns it
        c.view->frame();
        drag += std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
        ++n;
    }
    state.counters["stride"] = gl.subsampleStride();
    gl.setSubsample(false);
    label(state, c);
    state.counters["full_over_drag"] = n > 0 ? full / (drag / n) : 0;
}

void BM_Pick(benchmark::State& state) {
    Cloud& c = cloudFor(state);
    c.view->frame();
    // A spot on the cloud: down from the middle of the view until a point is hit.
    int y = 384;
    while (y < 760 && c.view->pickIndexAt(512, y) <= 0) y += 16;
    std::int64_t found = 0;
    for (auto _ : state) {
        found += c.view->pickIndexAt(512, y) > 0 ? 1 : 0;
    }
    label(state, c);
    state.counters["hit"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

// Frames of the same cloud in turn: plain (no shading, no legend), with depth shading, and with
// both; the second over the first and the third over the second are the costs of each. Ratios of
// the process's CPU time (llvmpipe draws on threads of this process), which the neighbours' load
// on a shared machine disturbs far less than the wall clock; the median over the iterations.
double processCpu() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void BM_DepthShadingFrame(benchmark::State& state) {
    Cloud& c = cloudFor(state);
    c.view->glRenderer()->setSubsample(false);
    c.view->frame();
    std::vector<double> shaded, legend, plainMs;
    const auto timed = [&](bool shading, bool withLegend) {
        c.view->setDepthShading(shading);
        c.view->setLegendShown(withLegend);
        const double t0 = processCpu();
        c.view->frame();
        return processCpu() - t0;
    };
    for (auto _ : state) {
        const double a = timed(false, false), b = timed(true, false), d = timed(true, true);
        shaded.push_back(b / a);
        legend.push_back(d / b);
        plainMs.push_back(1e3 * a);
    }
    label(state, c);
    state.counters["plain_cpu_ms"] = median(plainMs);
    state.counters["shaded_over_plain"] = median(shaded);
    state.counters["legend_over_shaded"] = median(legend);
}

// A 2048 x 2047 recording (short records: a target 2 m away) processed once into a layer, which
// holds the first 2,249,999 of its points; then the scan image of that layer, timed against the
// processing.
void BM_ScanImage(benchmark::State& state) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "quarv-gl-bench";
    std::filesystem::create_directories(dir);
    const ConfigRoot root(dir / "home");
    StderrSink sink;
    root.ensureCreated(sink);
    const std::filesystem::path raw = dir / "scan-2048x2047.raw";
    if (!std::filesystem::exists(raw)) {
        sim::SimOptions opt = sim::sceneDefaults("plane");
        opt.distance = 2.0;
        opt.scanner.shotsPerLine = 2048;
        opt.scanner.lines = 2047;
        opt.scanner.samplesPerPulse = 128;
        sim::SimResult result;
        if (!sim::simulate(opt, raw, result, sink)) return state.SkipWithError("simulator");
    }
    auto store = std::make_unique<CloudStore>();
    CloudRenderer renderer(*store);
    PointLayer& layer = store->layer(0);
    std::tie(layer.rangeMin, layer.rangeMax, layer.snrMin, layer.colorTo) =
        std::tuple(0.5f, 30.0f, 5.0f, Rgb{255, 255, 255});
    NullNotifier notifier;
    ProcessingSession session(*store, renderer, root, sink, notifier);
    session.setRangeWindow(0.5f, 30.0f);
    const auto t0 = std::chrono::steady_clock::now();
    if (session.openPlayback(raw)) {
        session.setRequest(ProcessRequest::ProcessPlayback);
        session.startProcessing(0);
        session.waitUntilIdle(std::chrono::hours(1));
    }
    const double processing =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ScanImage image;
    double build = 0;
    for (auto _ : state) {
        const auto t = std::chrono::steady_clock::now();
        buildScanImage(*store, 0, image);
        build += std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
    }
    state.counters["points"] = store->pointCount(0);
    state.counters["lines"] = image.lines;
    state.counters["shots"] = image.shots;
    state.counters["processing_s"] = processing;
    state.counters["build_over_processing"] =
        build / static_cast<double>(state.iterations()) / processing;
}

BENCHMARK(BM_DepthShadingFrame)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(7);
BENCHMARK(BM_ScanImage)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_RebuildDisplayData)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FullFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DragFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Pick)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace quarv

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--benchmark_list_tests") == 0 ||
            std::strncmp(argv[i], "--benchmark_list_tests=true", 27) == 0) {
            benchmark::RunSpecifiedBenchmarks();
            return 0;
        }
    }
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "quarv-gl-bench needs an X display: run it under xvfb-run -a.\n");
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    quarv::setDefaultGlFormat();
    QApplication app(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    quarv::releaseClouds();
    benchmark::Shutdown();
    return 0;
}
