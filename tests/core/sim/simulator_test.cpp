// The recording simulator: its scene geometry, random streams and waveform synthesis, and the
// files it writes checked against the ground truth it reports.
#include "core/sim/simulator.hpp"

#include "core/app/message_sink.hpp"
#include "core/config/bytes.hpp"
#include "core/sim/forward_model.hpp"
#include "core/sim/waveform_synth.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>

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
    EXPECT_FALSE(isSceneName("moon"));
    Scene none;
    EXPECT_FALSE(buildScene("moon", SceneParams{}, none));
    // The plane lies square to the boresight at the distance asked for.
    SceneParams p;
    p.distance = 7.5;
    p.sensor = {0.1, 0.2, 0.3};
    p.boresight = normalized({0.0, 1.0, -0.2});
    Scene plane;
    ASSERT_TRUE(isSceneName("plane") && buildScene("plane", p, plane));
    const auto h = plane.trace({p.sensor, p.boresight}, 0.0);
    ASSERT_TRUE(h);
    EXPECT_NEAR(h->t, 7.5, 1e-12);
    EXPECT_NEAR(dot(h->normal, p.boresight), -1.0, 1e-12);
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

TEST(SimWaveform, PulsesNoiseClippingAndBackscatter) {
    WaveformOptions o;
    o.noiseSigma = o.backscatter = o.windowEcho = 0;
    Random rng(1);
    for (double pos : {100.0, 100.25, 213.8}) {
        std::vector<std::int16_t> w(400);
        const std::vector<Echo> e{{pos, 500.0}};
        synthesizeWaveform(o, e, {}, rng, w);
        // Whole counts: the clean signal rounded. Its centroid is the echo's position, its area
        // that of a sigma 2.5 Gaussian of 500 counts.
        double sum = 0, moment = 0;
        for (int i = 0; i < 400; ++i) {
            ASSERT_EQ(w[i], std::lround(cleanSignal(o, e, {}, i)));
            sum += w[i] - o.baseline;
            moment += (w[i] - o.baseline) * i;
        }
        EXPECT_NEAR(moment / sum, pos, 0.01);
        EXPECT_NEAR(sum, 500.0 * 2.5 * std::sqrt(2.0 * std::acos(-1.0)), 5.0);
        EXPECT_NEAR(cleanSignal(o, e, {}, pos) - o.baseline, 500.0, 1e-9);
    }
    // Clipping: a flat top symmetric about the strong echo, the weak one untouched.
    o.clipLevel = 820;
    std::vector<std::int16_t> w(400);
    synthesizeWaveform(o, std::vector<Echo>{{200.0, 3000.0}, {300.0, 400.0}}, {}, rng, w);
    const auto first = std::find(w.begin(), w.end(), 820) - w.begin();
    const auto last = w.rend() - std::find(w.rbegin(), w.rend(), 820) - 1;
    EXPECT_TRUE(first + last == 400 && last - first > 4 && w[300] == 408);
    EXPECT_EQ(*std::max_element(w.begin(), w.end()), 820);
    // Backscatter: nothing before the window, half-way up at it, a plain exponential decay after.
    const Backscatter water{50.0, 20.0, 60.0};
    const std::vector<Echo> none;
    EXPECT_NEAR(cleanSignal(o, none, water, 30.0), o.baseline, 1e-6);
    EXPECT_NEAR(cleanSignal(o, none, water, 50.0) - o.baseline, 30.0, 3.0);
    const double at = cleanSignal(o, none, water, 70.0) - o.baseline;
    EXPECT_NEAR(at, 60.0 * std::exp(-1.0 + 6.25 / 800.0), 1e-6);
    EXPECT_NEAR((cleanSignal(o, none, water, 90.0) - o.baseline) / at, std::exp(-1.0), 1e-6);
    // Noise: its sigma (plus 1/12 from rounding to counts), the stream following the seed.
    o.noiseSigma = 3.0;
    o.baseline = 100;
    std::vector<std::int16_t> a(20000), b(20000), c(20000);
    Random ra(7), rb(7), rc(8);
    synthesizeWaveform(o, none, {}, ra, a);
    synthesizeWaveform(o, none, {}, rb, b);
    synthesizeWaveform(o, none, {}, rc, c);
    EXPECT_TRUE(a == b && a != c);
    double sum = 0, sum2 = 0;
    for (auto v : a) sum += v, sum2 += double(v) * v;
    EXPECT_NEAR(sum / 20000, 100.0, 0.1);
    EXPECT_NEAR(sum2 / 20000 - (sum / 20000) * (sum / 20000), 9.0 + 1.0 / 12.0, 0.3);
    EXPECT_TRUE(streamSeed(1, 1) != streamSeed(1, 2) && streamSeed(1, 1) != streamSeed(2, 1));
}

SimOptions smallHarbour(std::uint16_t shots, std::uint16_t lines) {
    SimOptions o = sceneDefaults("harbour");
    o.scanner.shotsPerLine = shots;
    o.scanner.lines = lines;
    return o;
}

ScanHeader headerOf(const std::vector<std::uint8_t>& bytes) {
    return ScanHeader::decode(
        std::span<const std::uint8_t, kScanHeaderSize>(bytes.data(), kScanHeaderSize));
}

TEST(Simulator, EveryScanTypeAndPeakLayoutHasItsRecordsAndRefusalsAreNamed) {
    // W = 16, L = 5, N = 300, P = 3 (stare) or W.
    const struct {
        std::uint8_t type;
        bool peak;
        std::uint64_t recordSize, records, truthRows;
    } cases[] = {
        {2, false, 22 + 64 + 16 * (12 + 600), 5, 80},
        {1, false, 26 + 3 * (12 + 600), 80, 80},
        {4, false, 18 + 80 * 16 + 8 * 16 * 300, 5, 320},
        {0, true, 22 + 64 + 32 * 16, 5, 80},
        {1, true, 26 + 32 * 3, 80, 80},
    };
    TempDir dir;
    RecordingSink sink;
    SimResult r;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << int(c.type) << (c.peak ? " peak" : ""));
        SimOptions o = sceneDefaults("plane");
        o.scanner.scanType = c.type;
        o.scanner.shotsPerLine = 16;
        o.scanner.lines = 5;
        o.scanner.samplesPerPulse = 300;
        o.scanner.pulsesPerPosition = 3;
        o.peakFile = c.peak;
        const auto path = dir / (c.peak ? "scan.pek" : "scan.raw");
        ASSERT_TRUE(simulate(o, path, r, sink)) << sink.last();
        EXPECT_TRUE(r.records == c.records && r.beyondRecord == 0u);
        EXPECT_EQ(r.truth.size(), c.truthRows); // the plane fills the whole view
        const auto bytes = readBytes(path);
        ASSERT_EQ(bytes.size(), kScanHeaderSize + c.records * c.recordSize + kTrailerSize);
        const ScanHeader h = headerOf(bytes);
        EXPECT_TRUE(h.fileKind == (c.peak ? kFileKindPeak : kFileKindWaveform) &&
                    h.scanner.scanType() == c.type);
        const std::uint8_t* t = bytes.data() + bytes.size() - kTrailerSize;
        EXPECT_TRUE(le::f32(t) == 11.6f && le::f32(t + 4) == 12.4f &&
                    le::u16(t + 8) == kTrailerMarker);
    }
    SimOptions bowtiePeaks = sceneDefaults("plane");
    bowtiePeaks.scanner.scanType = 4;
    bowtiePeaks.peakFile = true;
    EXPECT_FALSE(simulate(bowtiePeaks, dir / "b.pek", r, sink));
    EXPECT_EQ(sink.last(), "ERROR, Simulator, peak files have no Moving Bowtie layout!");
    SimOptions badScene = sceneDefaults("plane");
    badScene.scene = "moon";
    EXPECT_FALSE(simulate(badScene, dir / "m.raw", r, sink));
    EXPECT_EQ(sink.last(), "ERROR, Simulator, unknown scene: moon");
    EXPECT_FALSE(std::filesystem::exists(dir / "m.raw"));
}

// What is in the file agrees with the truth: readings, horizontal positions, pulse words, a pulse
// at the truth's position in the waveform, and light from behind every scatterer.
TEST(Simulator, RecordsAgreeWithTheTruth) {
    TempDir dir;
    NullSink sink;
    SimOptions o = smallHarbour(60, 16);
    o.scanner.scanType = 3;
    o.waveform.noiseSigma = o.waveform.backscatter = o.waveform.windowEcho = 0;
    o.waveform.clipLevel = 30000; // nothing clips: the peak sample is the echo's
    o.scatterers = 8000;          // dense enough to be hit in a small scan
    SimResult r;
    ASSERT_TRUE(simulate(o, dir / "h.raw", r, sink));
    const auto bytes = readBytes(dir / "h.raw");
    const ScanHeader h = headerOf(bytes);
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

TEST(Simulator, PeakValuesGiveBackTheRange) {
    TempDir dir;
    NullSink sink;
    SimOptions o = smallHarbour(30, 8);
    o.peakFile = true;
    SimResult r;
    ASSERT_TRUE(simulate(o, dir / "h.pek", r, sink));
    const auto bytes = readBytes(dir / "h.pek");
    const ScanHeader h = headerOf(bytes);
    const ScanGeometry g = ScanGeometry::of(h);
    const auto off = peakLineRecordOffsets(g);
    const ForwardModel model(h, 11.6f, 12.4f);
    std::set<std::pair<std::uint32_t, std::uint32_t>> hit;
    for (const TruthRow& t : r.truth) {
        hit.insert({t.line, t.shot});
        const std::uint8_t* rec = bytes.data() + recordOffset(peakLineRecordSize(g), t.line);
        const auto value = [&](int k) { return le::f64(rec + off.values[k] + 8 * t.shot); };
        const ShotBeam beam =
            model.beam(le::f32(rec + off.azimuth + 4 * t.shot), le::f32(rec + off.elevation));
        EXPECT_NEAR(model.measuredRange(value(0), value(1)) - beam.excess, t.range, 1e-9);
        EXPECT_NEAR(value(1), 0.5e-9, 0.2e-9);
        const double peak = std::min(8.0 + t.amplitude, 820.0);
        EXPECT_EQ(value(2), std::floor(peak));
        EXPECT_NEAR(value(3), peak >= 780 ? 8999999488.0 : std::pow(t.amplitude / 1.5, 2),
                    1e-6 * value(3));
    }
    for (std::uint32_t line = 0; line < 8; ++line) // shots without a return carry zeros
        for (std::uint32_t s = 0; s < 30; ++s)
            if (!hit.count({line, s})) {
                const auto* rec = bytes.data() + recordOffset(peakLineRecordSize(g), line);
                EXPECT_EQ(le::f64(rec + off.values[2] + 8 * s), 0.0);
            }
}

TEST(Simulator, HarbourShowsEveryKindOfSurfaceAndWritesItsTruth) {
    TempDir dir;
    RecordingSink sink;
    SimResult r, again, other;
    SimOptions o = smallHarbour(128, 60);
    ASSERT_TRUE(simulate(o, dir / "h.raw", r, sink)) << sink.last();
    ASSERT_TRUE(simulate(o, dir / "same.raw", again, sink));
    o.seed = 2;
    ASSERT_TRUE(simulate(o, dir / "other.raw", other, sink));
    EXPECT_EQ(readBytes(dir / "h.raw"), readBytes(dir / "same.raw"));
    EXPECT_NE(readBytes(dir / "h.raw"), readBytes(dir / "other.raw"));
    std::map<SurfaceKind, int> kinds;
    for (const TruthRow& t : r.truth) ++kinds[t.kind];
    for (SurfaceKind k : {SurfaceKind::Bottom, SurfaceKind::Pipe, SurfaceKind::Wall,
                          SurfaceKind::Rock, SurfaceKind::Scatterer})
        EXPECT_GT(kinds[k], 0) << surfaceKindName(k);
    EXPECT_EQ(r.truth.size(), 128u * 60u); // floor and wall close the view
    EXPECT_TRUE(r.saturated > 0u && r.saturated < r.truth.size() / 2); // the nearest floor clips
}

} // namespace
} // namespace quarv::sim
