// End to end: simulated recordings through the whole processing engine (the same session the
// workstation and quarv-cli process drive), compared with the simulator's ground truth.
#include "core/app/message_sink.hpp"
#include "core/app/notifier.hpp"
#include "core/cloud/cloud_renderer.hpp"
#include "core/cloud/cloud_store.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/scan/processing_session.hpp"
#include "core/sim/forward_model.hpp"
#include "core/sim/simulator.hpp"
#include "core/waveform/constants.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <memory>

namespace quarv {
namespace {

// The shipped defaults (layer list included), the point store and a processing session; each
// processed point is matched to its truth row by line and azimuth (as f32, as the point holds it).
struct Workstation {
    test::TempDir dir;
    ConfigRoot root{dir / "home"};
    RecordingSink sink;
    NullNotifier notifier;
    std::unique_ptr<CloudStore> store = std::make_unique<CloudStore>();
    std::unique_ptr<CloudRenderer> renderer = std::make_unique<CloudRenderer>(*store);
    std::unique_ptr<ProcessingSession> session;
    sim::SimResult truth;
    bool peak = false;
    std::map<std::pair<std::uint32_t, std::uint32_t>, const sim::TruthRow*> byShot;

    Workstation() {
        EXPECT_TRUE(root.ensureCreated(sink));
        EXPECT_TRUE(readLayerList(store->layers(), LAYER_COUNT, root, "layers"));
        session = std::make_unique<ProcessingSession>(*store, *renderer, root, sink, notifier);
    }
    std::filesystem::path file() const { return dir / (peak ? "scan.pek" : "scan.raw"); }
    void simulate(const sim::SimOptions& opt) {
        peak = opt.peakFile;
        ASSERT_TRUE(sim::simulate(opt, file(), truth, sink)) << sink.last();
        for (const auto& r : truth.truth) byShot[{r.line, r.shot}] = &r;
    }
    void process(std::uint32_t layer) {
        ASSERT_TRUE(session->openPlayback(file()));
        session->setRequest(ProcessRequest::ProcessPlayback);
        ASSERT_TRUE(session->startProcessing(layer));
        ASSERT_TRUE(session->waitUntilIdle(std::chrono::seconds(300))) << sink.last();
    }
    // The truth of point i of layer 0 (by line and the shot its side record names: the column of
    // a stare position, the pulse of a bowtie sweep) and the distance to it.
    std::pair<const sim::TruthRow*, double> match(std::uint32_t i, std::uint32_t layer = 0) const {
        const CloudPoint& p = store->point(layer, i);
        const auto it = byShot.find({p.line, store->extra(layer, i).shot});
        if (it == byShot.end()) return {nullptr, 0.0};
        const sim::Vec3& q = it->second->point;
        return {it->second, std::hypot(p.x - q.x, p.y - q.y, p.z - q.z)};
    }
};

// A plane square to the boresight: every shot comes back, on the truth within millimetres,
// whatever the distance, the medium, the scan type and record kind (line, Stop and Stare with P
// pulses a position, bowtie sweeps, peak files), the mount and the interpolation, with a
// calibration far from the identity (unequal factors of each sign, offsets, front glass, time
// offset and scale, a temperature term, trailer temperatures, jitter of the digitiser delay).
TEST(SimulatedScans, PlaneComesBackWithinMillimetres) {
    const struct {
        const char* name;
        double distance, index;
        std::uint8_t type;
        double panDeg, tiltDeg, interpolation;
        std::uint16_t pulses = 1; // per stare position
        bool peak = false, clean = false;
    } cases[] = {
        {"water 1.5 m", 1.5, 1.34, 0, 0, 0, 4},
        {"water 4 m, pan and tilt", 4.0, 1.34, 3, 14, -21, 4},
        {"water 4 m, stare P 4", 4.0, 1.34, 1, 14, -21, 4, 4},
        {"water 9 m, moving continuous", 9.0, 1.336, 2, -33, 8, 4},
        {"water 16 m, interpolation 8", 16.0, 1.34, 0, 5, -40, 8},
        {"air 3 m", 3.0, 1.000293, 0, -12, 17, 4},
        {"air 12 m, pan and tilt", 12.0, 1.000293, 3, 95, -30, 4},
        {"air 24 m", 24.0, 1.000293, 0, 0, 0, 4},
        {"clean line", 4.0, 1.34, 3, 14, -21, 4, 1, false, true},
        {"clean stare P 4", 4.0, 1.34, 1, 14, -21, 4, 4, false, true},
        {"clean bowtie", 4.0, 1.34, 4, 14, -21, 4, 1, false, true},
        {"clean peak line", 4.0, 1.34, 3, 14, -21, 4, 1, true, true},
        {"clean peak stare P 4", 4.0, 1.34, 1, 14, -21, 4, 4, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Workstation ws;
        // Every return in: a window past the plane's edges, no SNR limit, no clutter filter (the
        // scan is coarse; its neighbours lie farther apart than the shipped filter distance).
        PointLayer& layer = ws.store->layer(0);
        layer.rangeMin = 0.5f;
        layer.rangeMax = 40.0f;
        layer.snrMin = 0.0f;
        layer.neighbourFilter = 0;
        sim::SimOptions opt = sim::sceneDefaults("plane");
        opt.distance = c.distance;
        opt.seed = 11;
        sim::ScannerOptions& s = opt.scanner;
        s.scanType = c.type;
        s.pulsesPerPosition = c.pulses;
        opt.peakFile = c.peak;
        if (c.clean) {
            opt.waveform.noiseSigma = 0;
            opt.waveform.backscatter = 0;
            opt.waveform.windowEcho = 0;
            opt.waveform.clipLevel = 32767;
        }
        s.shotsPerLine = 48;
        s.lines = 24;
        s.refractiveIndex = c.index;
        s.interpolation = c.interpolation;
        s.panDeg = c.panDeg;
        s.tiltDeg = c.tiltDeg;
        s.azFactorNeg = 9.3f, s.azFactorPos = 10.8f, s.elFactorNeg = 4.6f, s.elFactorPos = 5.5f;
        s.xOffsetM = 0.041f, s.yOffsetM = 0.137f, s.zOffsetM = -0.058f;
        s.frontGlassOffsetM = 0.029f;
        s.timeOffsetNs = 2.7f, s.timeScale = 1.0006f;
        s.tempCoefC2 = 0.003, s.tempCoefC1 = -0.11, s.tempCoefC0 = 0.9;
        s.trailerTemperatures = std::make_pair(9.5f, 14.0f);
        // The digitiser starts the record a little before the plane's nearest return.
        const double tofNs = c.distance * 2.0 * c.index / sim::kSpeedOfLight * 1e9;
        s.horPosNs = std::max(0.0, tofNs - 15.0);
        s.horPosJitterNs = 0.05;
        ws.simulate(opt);
        ASSERT_EQ(ws.truth.truth.size(), (c.type == kScanTypeMovingBowtie ? 4u : 1u) * 48u * 24u);
        ws.process(0);

        const std::uint32_t count = ws.store->pointCount(0);
        EXPECT_EQ(count, ws.truth.truth.size());
        double sumSq = 0, worst = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            const CloudPoint& p = ws.store->point(0, i);
            const auto [t, d] = ws.match(i);
            ASSERT_NE(t, nullptr) << "line " << p.line << " azimuth " << p.azimuth;
            EXPECT_EQ(ws.store->extra(0, i).pulses, c.type == 1 ? c.pulses : 1);
            sumSq += d * d;
            worst = std::max(worst, d);
            EXPECT_NEAR(p.range, t->range, 0.01);
            EXPECT_FLOAT_EQ(p.elevation, static_cast<float>(t->elevationDeg));
            EXPECT_TRUE(p.valid);
        }
        const double rms = std::sqrt(sumSq / std::max<std::uint32_t>(count, 1));
        EXPECT_LT(rms, c.clean ? 0.0005 : 0.002);
        EXPECT_LT(worst, 0.010);
        std::printf("[ plane    ] %-32s %4u points, rms %.2f mm, max %.2f mm\n", c.name, count,
                    rms * 1e3, worst * 1e3);
    }
}

// The demo recording with the shipped layer settings: the fish and debris give isolated returns
// that the clutter filter removes; the floor, the pipe and the wall stay.
TEST(SimulatedScans, HarbourScatterersGoSurfacesStay) {
    Workstation ws;
    ws.simulate(sim::sceneDefaults("harbour"));
    ASSERT_TRUE(ws.store->layer(0).neighbourFilter);
    // Layer 1 the same but without the clutter filter: what the filter had to work on.
    const PointLayer& shipped = ws.store->layer(0);
    PointLayer& plain = ws.store->layer(1);
    plain.rangeMin = shipped.rangeMin;
    plain.rangeMax = shipped.rangeMax;
    plain.snrMin = shipped.snrMin;
    plain.showSaturated = shipped.showSaturated;
    plain.neighbourFilter = 0;
    ws.process(0);
    ws.process(1);

    std::map<sim::SurfaceKind, std::pair<int, int>> tally; // points without the filter, kept by it
    double sumSq = 0, worst = 0;
    int surfacePoints = 0, offTruth = 0;
    for (std::uint32_t layer : {0u, 1u}) {
        for (std::uint32_t i = 0; i < ws.store->pointCount(layer); ++i) {
            const CloudPoint& p = ws.store->point(layer, i);
            const auto [t, d] = ws.match(i, layer);
            ASSERT_NE(t, nullptr);
            if (d > 0.05) {
                offTruth += layer == 1;
            } else if (layer == 0) {
                tally[t->kind].second += p.valid;
            } else {
                ++tally[t->kind].first;
                if (t->kind == sim::SurfaceKind::Scatterer) continue;
                sumSq += d * d;
                worst = std::max(worst, d);
                ++surfacePoints;
            }
        }
    }
    for (const auto& [kind, n] : tally)
        std::printf("[ harbour  ] %-10s %6d points, %6d kept by the clutter filter\n",
                    sim::surfaceKindName(kind), n.first, n.second);
    const double rms = std::sqrt(sumSq / std::max(surfacePoints, 1));
    std::printf("[ harbour  ] surfaces rms %.2f mm, max %.2f mm\n", rms * 1e3, worst * 1e3);

    // Every shot gave a point, on its truth.
    EXPECT_EQ(ws.store->pointCount(1), ws.truth.truth.size());
    EXPECT_EQ(offTruth, 0);
    EXPECT_LT(rms, 0.002);
    // The scatterers are there before the filter and gone after it.
    EXPECT_GT(tally[sim::SurfaceKind::Scatterer].first, 150);
    EXPECT_EQ(tally[sim::SurfaceKind::Scatterer].second, 0);
    // Floor, pipe and wall stay (boulders lose a few points at their rims).
    for (sim::SurfaceKind k :
         {sim::SurfaceKind::Bottom, sim::SurfaceKind::Pipe, sim::SurfaceKind::Wall}) {
        EXPECT_GT(tally[k].first, 5000) << sim::surfaceKindName(k);
        EXPECT_GE(tally[k].second, tally[k].first * 995 / 1000) << sim::surfaceKindName(k);
    }
    EXPECT_GE(tally[sim::SurfaceKind::Rock].second, tally[sim::SurfaceKind::Rock].first * 95 / 100);
}

// The harbour with two returns a pulse, as the water gets murkier: the surface behind a fish or
// a piece of debris comes back as the pulse's later return, the first found return stays exactly
// what one-return processing makes, and no return lands where the beam met nothing.
TEST(SimulatedScans, SecondReturnsFindTheSurfacesBehindScatterers) {
    for (double turbidity : {0.0, 1.0, 2.0}) {
        Workstation ws;
        sim::SimOptions opt = sim::sceneDefaults("harbour");
        opt.turbidity = turbidity;
        ws.simulate(opt);
        for (std::uint32_t layer : {0u, 1u}) {
            PointLayer& l = ws.store->layer(layer);
            const PointLayer& shipped = ws.store->layer(0);
            l.rangeMin = shipped.rangeMin, l.rangeMax = shipped.rangeMax;
            l.snrMin = shipped.snrMin, l.showSaturated = shipped.showSaturated;
            l.neighbourFilter = 0;
            l.returns = static_cast<std::uint8_t>(layer + 1);
        }
        ws.process(0);
        ws.process(1);
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<const sim::TruthRow*>> echoes;
        for (const sim::TruthRow& e : ws.truth.echoes) echoes[{e.line, e.shot}].push_back(&e);
        const auto distance = [](const CloudPoint& p, const sim::TruthRow& e) {
            return std::hypot(p.x - e.point.x, p.y - e.point.y, p.z - e.point.z);
        };
        // The first found return of every pulse is the one-return point, bit for bit.
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::uint32_t>> second;
        std::uint32_t j = 0, added = 0, wrong = 0;
        for (std::uint32_t i = 0; i < ws.store->pointCount(1); ++i) {
            const CloudPoint& p = ws.store->point(1, i);
            const PointExtra& e = ws.store->extra(1, i);
            const CloudPoint& q = ws.store->point(0, std::min(j, ws.store->pointCount(0) - 1));
            if (j < ws.store->pointCount(0) && p.line == q.line &&
                e.shot == ws.store->extra(0, j).shot && p.x == q.x && p.y == q.y && p.z == q.z) {
                ++j;
                continue;
            }
            ++added;
            second[{p.line, e.shot}].push_back(i);
            double nearest = 1e9;
            for (const sim::TruthRow* t : echoes[{p.line, e.shot}])
                nearest = std::min(nearest, distance(p, *t));
            wrong += nearest > 0.05;
        }
        EXPECT_EQ(j, ws.store->pointCount(0));
        // Hidden surfaces: what the beam met behind a scatterer. No unbiased estimate of an
        // echo's delay is more precise than the Cramer-Rao bound of a Gaussian pulse (height A,
        // width s raw samples) in white noise: sd = noise sqrt(2 s / sqrt(pi)) / A samples.
        // The number within 2 mm that an estimator at the bound would find, by the echoes'
        // own heights, is what the second returns are held to.
        const double metresPerSample =
            SPEED_OF_LIGHT_MPS * RAW_SAMPLE_PERIOD_S / (2 * opt.scanner.refractiveIndex);
        int hidden = 0, found = 0, within2mm = 0;
        double atTheBound = 0;
        for (const auto& [shot, list] : echoes) {
            const auto s = std::find_if(list.begin(), list.end(), [](const sim::TruthRow* t) {
                return t->kind == sim::SurfaceKind::Scatterer;
            });
            const auto behind =
                std::find_if(s == list.end() ? s : s + 1, list.end(), [](const sim::TruthRow* t) {
                    return t->kind != sim::SurfaceKind::Scatterer;
                });
            if (behind == list.end()) continue;
            ++hidden;
            double nearest = 1e9;
            for (std::uint32_t i : second[shot])
                nearest = std::min(nearest, distance(ws.store->point(1, i), **behind));
            found += nearest < 0.05;
            within2mm += nearest < 0.002;
            const double sd = metresPerSample * opt.waveform.noiseSigma *
                              std::sqrt(2 * opt.waveform.pulseSigmaRaw / std::sqrt(M_PI)) /
                              (*behind)->amplitude;
            atTheBound += std::erf(0.002 / (std::sqrt(2.0) * sd));
        }
        std::printf("[ returns  ] turbidity %.0f: %4d hidden surfaces, %4d found (%5.1f %%), %4d "
                    "within 2 mm (%4.0f at the bound); %4u added points, %3u off every surface "
                    "(%4.2f %%)\n",
                    turbidity, hidden, found, 100.0 * found / std::max(hidden, 1), within2mm,
                    atTheBound, added, wrong, 100.0 * wrong / std::max(added, 1u));
        EXPECT_GT(hidden, 200);
        // Murkier water weakens what lies behind below the noise; the demo's water must not.
        if (turbidity == 0.0) {
            EXPECT_GE(found, hidden * 95 / 100);
            EXPECT_GE(within2mm, 0.95 * atTheBound);
        }
        EXPECT_LE(wrong * 200, added); // at most 0.5 %
    }
}

} // namespace
} // namespace quarv
