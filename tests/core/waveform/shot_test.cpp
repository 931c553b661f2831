#include "core/waveform/shot.hpp"

#include "core/scanfile/playback_file.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "core/waveform/waveform_fixture.hpp"
#include "core/waveform/waveform_processor.hpp"

#include <cmath>
#include <cstdio>
#include <limits>

namespace quarv {
namespace {

constexpr int kSamples = 400;

// The pulse of record k, pulse p sits at its own raw sample, so that a wrong record or pulse
// shows in the result; its horizontal position is (100 k + p) ns.
double centreOf(std::uint64_t k, std::uint32_t p) {
    return 60.0 + 7.0 * k + 3.0 * p;
}
double horPosOf(std::uint64_t k, std::uint32_t p) {
    return (100.0 * k + p) * 1e-9;
}

std::vector<std::int16_t> waveformOf(std::uint64_t k, std::uint32_t p) {
    return test::synthWaveform(kSamples, 100, 0, {{centreOf(k, p), 300 + 10.0 * p, 2.5}}, nullptr);
}

ScanHeader headerFor(std::uint8_t scanType, std::uint16_t shots, std::uint16_t pulses) {
    ScanHeader h;
    h.scanner.setShotsPerLine(shots);
    h.scanner.setLines(3);
    h.scanner.setScanType(scanType);
    h.digitizer.setSamplesPerPulse(kSamples);
    h.digitizer.setPulsesPerRecord(pulses);
    h.digitizer.setTemperatureC(21.5f);
    h.processing.setRefractiveIndex(1.34);
    h.processing.setInterpolation(4.0);
    h.processing.setRangeMin(0.5);
    h.processing.setRangeMax(50.0);
    h.calibration.setTimeScale(1.0f);
    h.calibration.setTimeOffsetNs(2.0f);
    h.calibration.setTempCoefC1(0.5);
    return h;
}

// Three records of the layout the scan type selects.
void writeRecording(const std::filesystem::path& file, std::uint8_t scanType,
                    std::optional<std::pair<float, float>> trailer) {
    const std::uint16_t shots = 2, pulses = 3;
    const ScanHeader h = headerFor(scanType, shots, pulses);
    RawFileWriter out;
    ASSERT_TRUE(out.open(file, h));
    const std::uint32_t perRecord = scanType == kScanTypeMovingBowtie ? 4u * shots : pulses;
    const std::uint32_t records = scanType == kScanTypeStopAndStare ? 3u * shots : 3u;
    for (std::uint32_t k = 0; k < records; ++k) {
        std::vector<double> horPos;
        std::vector<std::uint32_t> words;
        std::vector<std::int16_t> samples;
        for (std::uint32_t p = 0; p < perRecord; ++p) {
            horPos.push_back(horPosOf(k, p));
            words.push_back(p);
            const auto w = waveformOf(k, p);
            samples.insert(samples.end(), w.begin(), w.end());
        }
        std::vector<float> angles(perRecord == pulses ? shots : perRecord, 0.1f);
        if (scanType == kScanTypeMovingBowtie)
            ASSERT_TRUE(out.writeBowtieRecord(angles, angles, horPos, words, samples));
        else if (scanType == kScanTypeStopAndStare)
            ASSERT_TRUE(out.writeStareRecord(0.1f, 0.2f, horPos, words, samples));
        else
            ASSERT_TRUE(out.writeLineRecord(0.2f, angles, horPos, words, samples));
    }
    ASSERT_TRUE(out.finish(trailer));
}

class Shot : public test::WaveformFixture {
protected:
    bool shot(const std::filesystem::path& file, const ShotRequest& request, ShotResult& r) {
        PlaybackFile reader(sink_);
        if (!reader.open(file)) return false;
        WaveformProcessor processor(root_, sink_);
        return processShot(reader, processor, request, r, sink_);
    }
};

TEST_F(Shot, EveryLayoutAddressesRecordAndPulse) {
    const std::pair<std::uint8_t, std::uint32_t> layouts[] = {
        {3, 3}, {0, 3}, {kScanTypeStopAndStare, 3}, {kScanTypeMovingBowtie, 8}};
    for (auto [type, pulses] : layouts) {
        SCOPED_TRACE(int(type));
        char name[32];
        std::snprintf(name, sizeof name, "type%d.raw", type);
        const auto file = dir_ / name;
        writeRecording(file, type, std::pair{12.5f, 13.0f});
        // What a processor configured with the header makes of the same waveform.
        WaveformProcessor expected(root_, sink_);
        const ScanHeader h = headerFor(type, 2, 3);
        ASSERT_TRUE(expected.configure(h.digitizer, h.processing, h.calibration));
        const std::uint64_t records = type == kScanTypeStopAndStare ? 6 : 3;
        for (std::uint64_t k = 0; k < records; ++k) {
            for (std::uint32_t p = 0; p < pulses; ++p) {
                ShotResult r;
                ASSERT_TRUE(shot(file, {k, p, {}, {}}, r)) << k << " " << p;
                const auto w = waveformOf(k, p);
                float range = 0;
                std::uint16_t amplitude = 0;
                bool saturated = false, found = false;
                expected.processWaveform(w.data(), range, horPosOf(k, p), 12.5, 13.0, amplitude,
                                         saturated, found);
                ASSERT_TRUE(r.found);
                EXPECT_EQ(r.rawPeakIndex, static_cast<std::uint32_t>(std::lround(centreOf(k, p))));
                EXPECT_EQ(r.xcPeakIndex, expected.xcPeakIndex());
                EXPECT_EQ(r.quadPeak, expected.quadPeak());
                EXPECT_EQ(r.range, range);
                EXPECT_EQ(r.amplitude, amplitude);
                EXPECT_EQ(r.horPos, horPosOf(k, p));
                EXPECT_EQ(r.snr, expected.computeSnr());
                EXPECT_EQ(r.intensity, expected.computeXcIntensity());
                // Position: peak + delay in samples - temperature correction (0.5 x 12.75).
                EXPECT_DOUBLE_EQ(r.position, expected.quadPeak() + 48 +
                                                 horPosOf(k, p) * 4 / 2.5e-10 - 0.5 * 12.75);
            }
        }
    }
    EXPECT_TRUE(sink_.messages().empty());
}

TEST_F(Shot, TemperaturesComeFromAValidTrailerOrTheConfiguredValue) {
    const struct {
        std::optional<std::pair<float, float>> trailer;
        float a, b;
    } cases[] = {{std::pair{12.5f, 13.0f}, 12.5f, 13.0f},
                 {std::pair{0.0f, 55.0f}, 0.0f, 55.0f},
                 {std::pair{12.5f, 55.5f}, 21.5f, 21.5f},
                 {std::nullopt, 21.5f, 21.5f}};
    for (const auto& c : cases) {
        const auto file = dir_ / "trailer.raw";
        writeRecording(file, 3, c.trailer);
        ShotResult r;
        ASSERT_TRUE(shot(file, {1, 2, {}, {}}, r));
        EXPECT_EQ(r.tempA, c.a);
        EXPECT_EQ(r.tempB, c.b);
    }
}

TEST_F(Shot, RangeOptionsReplaceTheFilesWindow) {
    const auto file = dir_ / "window.raw";
    writeRecording(file, 3, std::nullopt);
    ShotResult r;
    ASSERT_TRUE(shot(file, {0, 0, {}, {}}, r));
    // The file's 0.5 .. 50 m: 2 x trunc(8.94) = 16, and beyond the record.
    EXPECT_EQ(r.rawStart, 16);
    EXPECT_EQ(r.rawEnd, kSamples);
    EXPECT_EQ(r.searchStart, 20);
    EXPECT_EQ(r.searchEnd, 4 * kSamples);
    ASSERT_TRUE(shot(file, {0, 0, 3.0, 5.0}, r));
    EXPECT_EQ(r.searchStart, 324);
    EXPECT_EQ(r.searchEnd, 812);
    // The pulse at raw 60 is outside that window now.
    EXPECT_FALSE(r.found);
}

TEST_F(Shot, RefusesWhatIsNotInTheFile) {
    const auto file = dir_ / "refuse.raw";
    writeRecording(file, 3, std::nullopt);
    const struct {
        ShotRequest request;
        const char* message;
    } cases[] = {
        {{3, 0, {}, {}}, "ERROR, shot: record 3 beyond the file (3 records)"},
        {{0, 3, {}, {}}, "ERROR, shot: pulse 3 beyond the record (3 pulses)"},
    };
    for (const auto& c : cases) {
        ShotResult r;
        EXPECT_FALSE(shot(file, c.request, r));
        EXPECT_EQ(sink_.last(), c.message);
    }
    const auto bowtie = dir_ / "bowtie.raw";
    writeRecording(bowtie, kScanTypeMovingBowtie, std::nullopt);
    ShotResult r;
    EXPECT_TRUE(shot(bowtie, {2, 7, {}, {}}, r));
    EXPECT_FALSE(shot(bowtie, {2, 8, {}, {}}, r));
    EXPECT_EQ(sink_.last(), "ERROR, shot: pulse 8 beyond the record (8 pulses)");

    // A peak recording has no waveforms.
    const auto peaks = dir_ / "peaks.pek";
    RawFileWriter out;
    ASSERT_TRUE(out.open(peaks, headerFor(3, 2, 3)));
    const std::vector<double> v(3, 1.0);
    ASSERT_TRUE(out.writePeakLineRecord(0.1f, std::vector<float>(2, 0.0f), v, v, v, v));
    ASSERT_TRUE(out.finish(std::nullopt));
    EXPECT_FALSE(shot(peaks, {0, 0, {}, {}}, r));
    EXPECT_EQ(sink_.last(), "ERROR, shot: the file holds peak records, not waveforms");
}

TEST(ShotJson, KeysInOrderDoublesAndFloatsAtTheirPrecision) {
    ShotResult r;
    r.found = true;
    r.rawPeakIndex = 301;
    r.xcPeakIndex = 1152;
    r.quadPeak = 1152.1;
    r.position = 1.0 / 3.0;
    r.range = 2.7966f;
    r.amplitude = 780;
    r.saturated = true;
    r.snr = 8999999488.0;
    r.intensity = std::numeric_limits<double>::quiet_NaN();
    r.horPosRange = std::numeric_limits<double>::infinity();
    r.horPos = 1e-7;
    r.tempA = 12.5f;
    r.tempB = 0.1f;
    r.searchStart = 20;
    r.searchEnd = -119012;
    r.rawStart = 34;
    r.rawEnd = -29778;
    EXPECT_EQ(shotJson(r),
              "{\"found\":true,\"rawPeakIndex\":301,\"xcPeakIndex\":1152,"
              "\"quadPeak\":1152.0999999999999,\"position\":0.33333333333333331,"
              "\"range\":2.7966001,\"amplitude\":780,\"saturated\":true,"
              "\"snr\":8999999488,\"intensity\":null,\"horPosRange\":null,\"horPos\":9."
              "9999999999999995e-08,"
              "\"tempA\":12.5,\"tempB\":0.100000001,\"searchStart\":20,\"searchEnd\":-119012,"
              "\"rawStart\":34,\"rawEnd\":-29778}");
}

} // namespace
} // namespace quarv
