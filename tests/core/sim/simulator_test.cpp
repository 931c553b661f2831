#include "core/sim/simulator.hpp"

#include "core/app/message_sink.hpp"
#include "core/config/bytes.hpp"
#include "core/sim/forward_model.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

namespace quarv::sim {
namespace {

using test::readBytes;
using test::TempDir;

SimOptions smallPlane(std::uint8_t type) {
    SimOptions o = sceneDefaults("plane");
    o.scanner.scanType = type;
    o.scanner.shotsPerLine = 16;
    o.scanner.lines = 5;
    o.scanner.samplesPerPulse = 300;
    o.scanner.pulsesPerPosition = 3;
    o.distance = 5.0;
    return o;
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

TEST(Simulator, EveryScanTypeAndPeakLayoutHasItsRecordSizes) {
    struct Case {
        std::uint8_t type;
        bool peak;
        std::uint64_t recordSize, records, truthRows;
    };
    // W = 16, L = 5, N = 300, P = 3 (stare) or W.
    const Case cases[] = {
        {0, false, 22 + 64 + 16 * (12 + 600), 5, 80},
        {1, false, 26 + 3 * (12 + 600), 80, 80},
        {2, false, 22 + 64 + 16 * (12 + 600), 5, 80},
        {3, false, 22 + 64 + 16 * (12 + 600), 5, 80},
        {4, false, 18 + 80 * 16 + 8 * 16 * 300, 5, 320},
        {0, true, 22 + 64 + 32 * 16, 5, 80},
        {1, true, 26 + 32 * 3, 80, 80},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << int(c.type) << (c.peak ? " peak" : ""));
        SimOptions o = smallPlane(c.type);
        o.peakFile = c.peak;
        const auto path = dir / (c.peak ? "scan.pek" : "scan.raw");
        SimResult r;
        RecordingSink sink;
        ASSERT_TRUE(simulate(o, path, r, sink)) << sink.last();
        EXPECT_EQ(r.records, c.records);
        EXPECT_EQ(r.truth.size(), c.truthRows); // the plane fills the whole view
        EXPECT_EQ(r.beyondRecord, 0u);
        const auto bytes = readBytes(path);
        ASSERT_EQ(bytes.size(), kScanHeaderSize + c.records * c.recordSize + kTrailerSize);
        const ScanHeader h = headerOf(bytes);
        EXPECT_EQ(h.fileKind, c.peak ? kFileKindPeak : kFileKindWaveform);
        EXPECT_EQ(h.scanner.scanType(), c.type);
        // Trailer: the two temperatures and the marker.
        const std::uint8_t* t = bytes.data() + bytes.size() - kTrailerSize;
        EXPECT_EQ(le::f32(t), 11.6f);
        EXPECT_EQ(le::f32(t + 4), 12.4f);
        EXPECT_EQ(le::u16(t + 8), kTrailerMarker);
    }
    SimOptions bowtiePeaks = smallPlane(4);
    bowtiePeaks.peakFile = true;
    SimResult r;
    RecordingSink sink;
    EXPECT_FALSE(simulate(bowtiePeaks, dir / "b.pek", r, sink));
    EXPECT_EQ(sink.last(), "ERROR, Simulator, peak files have no Moving Bowtie layout!");
    SimOptions badScene = smallPlane(0);
    badScene.scene = "moon";
    EXPECT_FALSE(simulate(badScene, dir / "m.raw", r, sink));
    EXPECT_EQ(sink.last(), "ERROR, Simulator, unknown scene: moon");
    EXPECT_FALSE(std::filesystem::exists(dir / "m.raw"));
}

TEST(Simulator, SameSeedSameRecordingOtherSeedOtherNoise) {
    TempDir dir;
    NullSink sink;
    SimResult a, b, c;
    const SimOptions o = smallHarbour(24, 6);
    SimOptions other = o;
    other.seed = 2;
    ASSERT_TRUE(simulate(o, dir / "a.raw", a, sink));
    ASSERT_TRUE(simulate(o, dir / "b.raw", b, sink));
    ASSERT_TRUE(simulate(other, dir / "c.raw", c, sink));
    EXPECT_EQ(readBytes(dir / "a.raw"), readBytes(dir / "b.raw"));
    EXPECT_NE(readBytes(dir / "a.raw"), readBytes(dir / "c.raw"));
    ASSERT_EQ(a.truth.size(), b.truth.size());
    for (std::size_t i = 0; i < a.truth.size(); ++i) EXPECT_EQ(a.truth[i].range, b.truth[i].range);
}

// What is in the file agrees with the truth: readings, horizontal positions, pulse words, and a
// pulse at the truth's position in the waveform.
TEST(Simulator, RecordsAgreeWithTheTruth) {
    TempDir dir;
    NullSink sink;
    SimOptions o = smallHarbour(40, 12);
    o.scanner.scanType = 3;
    o.waveform.noiseSigma = 0;
    o.waveform.clipLevel = 30000; // nothing clips: the peak sample is the echo's
    SimResult r;
    ASSERT_TRUE(simulate(o, dir / "h.raw", r, sink));
    const auto bytes = readBytes(dir / "h.raw");
    const ScanHeader h = headerOf(bytes);
    const ScanGeometry g = ScanGeometry::of(h);
    const auto off = lineRecordOffsets(g);
    const std::uint32_t size = waveformRecordSize(g);
    const ForwardModel model(h, 11.6f, 12.4f);
    Scene scene;
    ASSERT_TRUE(buildSimScene(o, scene));
    ASSERT_GT(r.truth.size(), 400u);
    for (const TruthRow& t : r.truth) {
        const std::uint8_t* rec = bytes.data() + recordOffset(size, t.line);
        EXPECT_EQ(le::u16(rec), kRecordSync);
        const float el = le::f32(rec + off.elevation);
        const float az = le::f32(rec + off.azimuth + 4 * t.shot);
        const double horPos = le::f64(rec + off.horPos + 8 * t.shot);
        EXPECT_EQ(le::u32(rec + off.words + 4 * t.shot), t.line * 40 + t.shot);
        EXPECT_NEAR(horPos, 0.5e-9, 0.2e-9); // 0.5 ns with 0.02 ns jitter
        const ShotBeam beam = model.beam(az, el);
        EXPECT_EQ(t.azimuthDeg, beam.azDeg);
        EXPECT_EQ(t.elevationDeg, beam.elDeg);
        const Vec3 p = beam.ray.at(t.range);
        EXPECT_NEAR(norm(p - t.point), 0.0, 1e-9);
        EXPECT_NEAR(scene.distanceTo(t.object, t.point), 0.0, 1e-7);
        EXPECT_EQ(t.kind, scene.kind(t.object));
        // The raw position is the record position of the range, in raw samples.
        EXPECT_NEAR(t.rawPosition * 4.0, model.recordPosition(t.range, beam.excess, horPos), 1e-9);
        // The waveform peaks at the sample nearest to the truth's position.
        const std::uint8_t* wave = rec + off.samples + 2ull * g.samplesPerPulse * t.shot;
        const auto sample = [&](long i) { return le::i16(wave + 2 * i); };
        const long k = std::lround(t.rawPosition);
        if (t.amplitude > 20) {
            EXPECT_GE(sample(k), sample(k - 1));
            EXPECT_GE(sample(k), sample(k + 1));
            EXPECT_NEAR(sample(k) - o.waveform.baseline, t.amplitude, 0.2 * t.amplitude + 1);
        }
    }
}

TEST(Simulator, ScatterersLeaveASecondReturnBehindThem) {
    TempDir dir;
    NullSink sink;
    for (bool second : {true, false}) {
        SimOptions o = smallHarbour(150, 20);
        o.waveform.noiseSigma = 0;
        o.waveform.backscatter = 0;
        o.waveform.windowEcho = 0;
        o.waveform.clipLevel = 30000;
        o.scatterers = 8000; // dense enough to be hit in a small scan
        o.secondReturn = second;
        SimResult r;
        ASSERT_TRUE(simulate(o, dir / "s.raw", r, sink));
        const auto bytes = readBytes(dir / "s.raw");
        const ScanGeometry g = ScanGeometry::of(headerOf(bytes));
        const auto off = lineRecordOffsets(g);
        int scatterers = 0, withSecond = 0;
        for (const TruthRow& t : r.truth) {
            if (t.kind != SurfaceKind::Scatterer) continue;
            ++scatterers;
            const std::uint8_t* wave = bytes.data() + recordOffset(waveformRecordSize(g), t.line) +
                                       off.samples + 2ull * g.samplesPerPulse * t.shot;
            // Without noise, backscatter and window echo, anything above the baseline more than
            // six pulse widths after the scatterer is light from behind it.
            for (long i = std::lround(t.rawPosition) + 15; i < long(g.samplesPerPulse); ++i) {
                if (le::i16(wave + 2 * i) > 8) {
                    ++withSecond;
                    break;
                }
            }
        }
        EXPECT_GT(scatterers, 10);
        if (second)
            EXPECT_EQ(withSecond, scatterers);
        else
            EXPECT_EQ(withSecond, 0);
    }
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
        if (peak >= 780)
            EXPECT_EQ(value(3), 8999999488.0);
        else
            EXPECT_NEAR(value(3), (t.amplitude / 1.5) * (t.amplitude / 1.5), 1e-6 * value(3));
    }
    // Shots without a return carry zeros but their horizontal position.
    for (std::uint32_t line = 0; line < 8; ++line) {
        const std::uint8_t* rec = bytes.data() + recordOffset(peakLineRecordSize(g), line);
        for (std::uint32_t s = 0; s < 30; ++s) {
            if (hit.count({line, s})) continue;
            EXPECT_EQ(le::f64(rec + off.values[0] + 8 * s), 0.0);
            EXPECT_EQ(le::f64(rec + off.values[2] + 8 * s), 0.0);
        }
    }
}

TEST(Simulator, HarbourShowsEveryKindOfSurfaceAndWritesItsTruth) {
    TempDir dir;
    RecordingSink sink;
    SimResult r;
    const SimOptions o = smallHarbour(128, 60);
    ASSERT_TRUE(simulate(o, dir / "h.raw", r, sink)) << sink.last();
    std::map<SurfaceKind, int> kinds;
    for (const TruthRow& t : r.truth) ++kinds[t.kind];
    for (SurfaceKind k : {SurfaceKind::Bottom, SurfaceKind::Pipe, SurfaceKind::Wall,
                          SurfaceKind::Rock, SurfaceKind::Scatterer})
        EXPECT_GT(kinds[k], 0) << surfaceKindName(k);
    EXPECT_EQ(r.truth.size(), 128u * 60u); // floor and wall close the view
    EXPECT_GT(r.saturated, 0u);            // the nearest floor and the pipe top clip
    EXPECT_LT(r.saturated, r.truth.size() / 2);

    ASSERT_TRUE(writeTruthCsv(dir / "truth.csv", r.truth, sink));
    std::ifstream in(dir / "truth.csv");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "line,shot,azimuth,elevation,x,y,z,range");
    std::size_t rows = 0;
    while (std::getline(in, line)) {
        std::istringstream ss(line);
        std::vector<double> f;
        for (std::string cell; std::getline(ss, cell, ',');) f.push_back(std::stod(cell));
        ASSERT_EQ(f.size(), 8u);
        const TruthRow& t = r.truth[rows++];
        EXPECT_EQ(f[0], t.line);
        EXPECT_EQ(f[1], t.shot);
        EXPECT_EQ(static_cast<float>(f[2]), static_cast<float>(t.azimuthDeg));
        EXPECT_NEAR(f[4], t.point.x, 1e-7 * (1 + std::fabs(t.point.x)));
        EXPECT_NEAR(f[6], t.point.z, 1e-7 * (1 + std::fabs(t.point.z)));
        EXPECT_NEAR(f[7], t.range, 1e-7 * t.range);
    }
    EXPECT_EQ(rows, r.truth.size());
}

} // namespace
} // namespace quarv::sim
