// The recording simulator: its scene geometry, random streams and waveform synthesis, and the
// files it writes checked against the ground truth it reports.
#include "core/sim/simulator.hpp"

#include "core/app/message_sink.hpp"
#include "core/config/bytes.hpp"
#include "core/sim/forward_model.hpp"
#include "core/sim/waveform_synth.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

namespace quarv::sim {
namespace {

using test::readBytes;
using test::TempDir;

TEST(SimScene, RaysHitEachShapeAtItsNearestSurface) {
    Scene s;
    const int plane = s.addPlane({0, 0, -2}, {0, 0, 1}, SurfaceKind::Bottom, 0.3);
    const int sphere = s.addSphere({0, 5, 30}, 1.0, SurfaceKind::Rock, 0.4);
    // A 2 x 2 x 2 box turned 45 degrees puts an edge towards -Y.
    const int box = s.addBox({0, 10, 60}, {1, 1, 1}, 45.0, SurfaceKind::Wall, 0.5);
    const int pipe = s.addCylinder({-2, 6, 90}, {2, 6, 90}, 0.5, SurfaceKind::Pipe, 0.6);
    const double r2 = std::sqrt(0.5);
    const struct {
        Ray ray;
        double t;   // < 0: no hit
        int object; // the one it hits
    } cases[] = {
        {{{1, 1, 0}, {0, r2, -r2}}, 2.0 / r2, plane},
        {{{0, 0, -3}, {0, 0, 1}}, 1.0, plane},
        {{{0.6, 0, 30}, {0, 1, 0}}, 4.2, sphere},
        {{{0, 5, 30}, {0, 0, 1}}, 1.0, sphere},
        {{{1.0001, 0, 30}, {0, 1, 0}}, -1, sphere},
        {{{0, 7, 30}, {0, 1, 0}}, -1, sphere},
        {{{0, 0, 60}, {0, 1, 0}}, 10 - std::sqrt(2.0), box},
        {{{0, 10, 65}, {0, 0, -1}}, 4.0, box},
        {{{1.5, 0, 60}, {0, 1, 0}}, -1, box},
        {{{1.9, 0, 90.3}, {0, 1, 0}}, 5.6, pipe},
        {{{2.1, 0, 90}, {0, 1, 0}}, -1, pipe},
        {{{5, 6, 90.2}, {-1, 0, 0}}, 3.0, pipe},
        {{{0, 6, 90}, {1, 0, 0}}, 2.0, pipe},
    };
    for (const auto& c : cases) {
        const auto h = s.trace(c.ray, 0.0);
        if (c.t < 0) {
            EXPECT_TRUE(!h || h->object == plane) << c.object << " " << c.ray.origin.x;
            continue;
        }
        ASSERT_TRUE(h) << c.object << " " << c.t;
        EXPECT_EQ(h->object, c.object);
        EXPECT_NEAR(h->t, c.t, 1e-9) << c.object;
        EXPECT_NEAR(s.distanceTo(h->object, c.ray.at(h->t)), 0.0, 1e-9);
        EXPECT_LE(dot(h->normal, c.ray.dir), 0.0); // the normal faces the incoming beam
        EXPECT_NEAR(norm(h->normal), 1.0, 1e-12);
    }
    // A beam goes on past an ignored object (a scatterer it has already met).
    const int fish = s.addSphere({0, 4, 150}, 0.1, SurfaceKind::Scatterer, 2.0, 0.6);
    const int wall = s.addPlane({0, 10, 0}, {0, -1, 0}, SurfaceKind::Wall, 0.5);
    const Ray ray{{0, 0, 150}, {0, 1, 0}};
    const auto first = s.trace(ray, 0.0);
    ASSERT_TRUE(first && first->object == fish);
    EXPECT_NEAR(first->t, 3.9, 1e-12);
    const auto next = s.trace(ray, first->t, fish);
    ASSERT_TRUE(next && next->object == wall);
    EXPECT_TRUE(s.cover(fish) == 0.6 && s.kind(fish) == SurfaceKind::Scatterer);
}

TEST(SimScene, NamedScenesAndRandomRays) {
    Scene none;
    EXPECT_FALSE(isSceneName("moon") || buildScene("moon", SceneParams{}, none));
    // The plane lies square to the boresight at the distance asked for.
    SceneParams p;
    p.distance = 7.5;
    p.sensor = {0.1, 0.2, 0.3};
    p.boresight = normalized({0.0, 1.0, -0.2});
    Scene plane;
    ASSERT_TRUE(isSceneName("plane") && buildScene("plane", p, plane));
    const auto h = plane.trace({p.sensor, p.boresight}, 0.0);
    ASSERT_TRUE(h && std::fabs(h->t - 7.5) < 1e-12 && dot(h->normal, p.boresight) < -1 + 1e-12);
    // The harbour: every ray lands on the surface it hits and nothing else lies closer; its
    // scatterers follow the seed.
    Scene harbour, same, other;
    SceneParams a, b;
    a.scatterers = b.scatterers = 200;
    b.seed = 2;
    ASSERT_TRUE(buildScene("harbour", a, harbour) && buildScene("harbour", a, same));
    ASSERT_TRUE(buildScene("harbour", b, other) && buildScene("seabed", a, none));
    const Vec3 probe{0.5, 6.0, -1.0};
    const int last = static_cast<int>(harbour.size()) - 1;
    EXPECT_EQ(harbour.distanceTo(last, probe), same.distanceTo(last, probe));
    EXPECT_NE(harbour.distanceTo(last, probe), other.distanceTo(last, probe));
    Random r(9);
    for (int i = 0; i < 3000; ++i) {
        const Ray ray{{0, 0, 0}, normalized({r.uniform(-0.5, 0.5), 1.0, r.uniform(-1.2, 0.1)})};
        const auto hit = harbour.trace(ray, 0.0);
        ASSERT_TRUE(hit) << i; // floor and quay wall close the view
        ASSERT_NEAR(harbour.distanceTo(hit->object, ray.at(hit->t)), 0.0, 1e-7) << i;
        EXPECT_EQ(harbour.nearestObject(ray.at(hit->t), 1e-6), hit->object);
    }
}

TEST(Simulator, RefusalsAreNamedAndLeaveNoFile) {
    TempDir dir;
    RecordingSink sink;
    SimResult r;
    SimOptions bowtiePeaks = sceneDefaults("plane");
    bowtiePeaks.scanner.scanType = 4;
    bowtiePeaks.peakFile = true;
    EXPECT_FALSE(simulate(bowtiePeaks, dir / "b.pek", r, sink));
    EXPECT_EQ(sink.last(), "ERROR, Simulator, peak files have no Moving Bowtie layout!");
    SimOptions badScene = sceneDefaults("plane");
    badScene.scene = "moon";
    EXPECT_FALSE(simulate(badScene, dir / "m.raw", r, sink));
    EXPECT_EQ(sink.last(), "ERROR, Simulator, unknown scene: moon");
    SimOptions badScanner = sceneDefaults("plane");
    badScanner.scanner.interpolation = 2.5;
    EXPECT_FALSE(simulate(badScanner, dir / "i.raw", r, sink));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// What is in the file agrees with the truth: readings, horizontal positions, pulse words, a pulse
// at the truth's position in the waveform, and light from behind every scatterer.
TEST(Simulator, RecordsAgreeWithTheTruth) {
    TempDir dir;
    NullSink sink;
    SimOptions o = sceneDefaults("harbour");
    o.scanner.shotsPerLine = 60;
    o.scanner.lines = 16;
    o.scanner.scanType = 3;
    o.waveform.noiseSigma = o.waveform.backscatter = o.waveform.windowEcho = 0;
    o.waveform.clipLevel = 30000; // nothing clips: the peak sample is the echo's
    o.scatterers = 8000;          // dense enough to be hit in a small scan
    SimResult r;
    ASSERT_TRUE(simulate(o, dir / "h.raw", r, sink));
    const auto bytes = readBytes(dir / "h.raw");
    const ScanHeader h = ScanHeader::decode(
        std::span<const std::uint8_t, kScanHeaderSize>(bytes.data(), kScanHeaderSize));
    const ScanGeometry g = ScanGeometry::of(h);
    const auto off = lineRecordOffsets(g);
    const ForwardModel model(h, 11.6f, 12.4f);
    Scene scene;
    ASSERT_TRUE(buildSimScene(o, scene));
    ASSERT_GT(r.truth.size(), 400u);
    int scatterers = 0;
    for (const TruthRow& t : r.truth) {
        const std::uint8_t* rec = bytes.data() + recordOffset(waveformRecordSize(g), t.line);
        EXPECT_EQ(le::u16(rec), kRecordSync);
        const float az = le::f32(rec + off.azimuth + 4 * t.shot);
        const double horPos = le::f64(rec + off.horPos + 8 * t.shot);
        EXPECT_EQ(le::u32(rec + off.words + 4 * t.shot), t.line * 60 + t.shot);
        EXPECT_NEAR(horPos, 0.5e-9, 0.2e-9); // 0.5 ns with 0.02 ns jitter
        const ShotBeam beam = model.beam(az, le::f32(rec + off.elevation));
        EXPECT_TRUE(t.azimuthDeg == beam.azDeg && t.elevationDeg == beam.elDeg);
        EXPECT_NEAR(norm(beam.ray.at(t.range) - t.point), 0.0, 1e-9);
        EXPECT_NEAR(scene.distanceTo(t.object, t.point), 0.0, 1e-7);
        EXPECT_EQ(t.kind, scene.kind(t.object));
        // The raw position is the record position of the range, in raw samples.
        EXPECT_NEAR(t.rawPosition * 4.0, model.recordPosition(t.range, beam.excess, horPos), 1e-9);
        const std::uint8_t* wave = rec + off.samples + 2ull * g.samplesPerPulse * t.shot;
        const auto sample = [&](long i) { return le::i16(wave + 2 * i); };
        const long k = std::lround(t.rawPosition);
        if (t.amplitude > 20) { // the waveform peaks at the sample nearest the truth's position
            EXPECT_TRUE(sample(k) >= sample(k - 1) && sample(k) >= sample(k + 1));
            EXPECT_NEAR(sample(k) - o.waveform.baseline, t.amplitude, 0.2 * t.amplitude + 1);
        }
        if (t.kind != SurfaceKind::Scatterer) continue;
        // Anything above the baseline six pulse widths after a scatterer is light from behind.
        ++scatterers;
        bool second = false;
        for (long i = k + 15; i < long(g.samplesPerPulse); ++i) second = second || sample(i) > 8;
        EXPECT_TRUE(second) << t.line << " " << t.shot;
    }
    EXPECT_GT(scatterers, 10);
}

} // namespace
} // namespace quarv::sim
