#include "core/waveform/shot.hpp"

#include "core/scanfile/playback_file.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "core/scanfile/scanfile_fixtures.hpp"
#include "core/waveform/waveform_fixture.hpp"
#include "support/golden.hpp"

#include <limits>

namespace quarv {
namespace {

constexpr int kSamples = 400;

// The pulse of record k, pulse p sits at its own raw sample, so that a wrong record or pulse
// shows in the result; its horizontal position is (100 k + p) ns.
double centreOf(std::uint64_t k, std::uint32_t p) {
    return 60.0 + 7.0 * double(k) + 3.0 * p;
}
double horPosOf(std::uint64_t k, std::uint32_t p) {
    return (100.0 * double(k) + p) * 1e-9;
}
std::vector<std::int16_t> waveformOf(std::uint64_t k, std::uint32_t p) {
    return test::synthWaveform(kSamples, 100, 0, {{centreOf(k, p), 300 + 10.0 * p, 2.5}}, nullptr);
}

ScanHeader headerFor(std::uint8_t scanType) {
    ScanHeader h = test::makeHeader(scanType, 2, 3, kSamples); // configured temperature 17.25
    h.processing.setRefractiveIndex(1.34);
    h.processing.setInterpolation(4.0);
    h.processing.setRangeMin(0.5);
    h.processing.setRangeMax(50.0);
    h.calibration.setTimeScale(1.0f);
    h.calibration.setTimeOffsetNs(2.0f);
    h.calibration.setTempCoefC1(0.5);
    return h;
}

// Three records (stare: six positions) of the layout the scan type selects.
void writeRecording(const std::filesystem::path& file, std::uint8_t type,
                    std::optional<std::pair<float, float>> trailer) {
    RawFileWriter out;
    ASSERT_TRUE(out.open(file, headerFor(type)));
    const std::uint32_t perRecord = type == kScanTypeMovingBowtie ? 8u : 3u;
    for (std::uint32_t k = 0; k < (type == kScanTypeStopAndStare ? 6u : 3u); ++k) {
        std::vector<double> horPos;
        std::vector<std::uint32_t> words;
        std::vector<std::int16_t> samples;
        for (std::uint32_t p = 0; p < perRecord; ++p) {
            horPos.push_back(horPosOf(k, p));
            words.push_back(p);
            const auto w = waveformOf(k, p);
            samples.insert(samples.end(), w.begin(), w.end());
        }
        std::vector<float> angles(perRecord == 3 ? 2 : perRecord, 0.1f);
        if (type == kScanTypeMovingBowtie)
            ASSERT_TRUE(out.writeBowtieRecord(angles, angles, horPos, words, samples));
        else if (type == kScanTypeStopAndStare)
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
        WaveformProcessor processor(root_, sink_);
        return reader.open(file) && processShot(reader, processor, request, r, sink_);
    }
};

// Each layout addresses its record and pulse (the peak sample and the delay say which), with
// the trailer's temperatures or the configured one; the results as quarv-cli shot prints them.
TEST_F(Shot, EveryLayoutAddressesRecordAndPulse) {
    std::string transcript;
    for (std::uint8_t type : {3, 0, 1, 4}) {
        SCOPED_TRACE(int(type));
        const auto file = dir_ / "shot.raw";
        const bool trailer = type != 0;
        writeRecording(file, type, trailer ? std::optional{std::pair{12.5f, 13.0f}} : std::nullopt);
        for (std::uint64_t k = 0; k < (type == 1 ? 6u : 3u); k += (type == 1 ? 5 : 2)) {
            for (std::uint32_t p = 0; p < (type == 4 ? 8u : 3u); p += (type == 4 ? 7 : 2)) {
                ShotResult r;
                ASSERT_TRUE(shot(file, {k, p, {}, {}}, r)) << k << " " << p;
                EXPECT_TRUE(r.found && r.horPos == horPosOf(k, p) &&
                            r.tempA == (trailer ? 12.5f : 17.25f));
                EXPECT_EQ(r.rawPeakIndex, static_cast<std::uint32_t>(std::lround(centreOf(k, p))));
                // Position: peak + delay in samples - temperature correction.
                EXPECT_DOUBLE_EQ(r.position, r.quadPeak + 48 + horPosOf(k, p) * 4 / 2.5e-10 -
                                                 0.5 * (r.tempA + r.tempB) / 2);
                transcript += std::to_string(type) + " " + std::to_string(k) + " " +
                              std::to_string(p) + " " + shotJson(r) + "\n";
            }
        }
    }
    test::expectGolden("shot_layouts.txt", transcript);
    EXPECT_TRUE(sink_.messages().empty());
}

TEST_F(Shot, RangeOptionsReplaceTheWindowAndRefusalsSayWhy) {
    const auto file = dir_ / "window.raw";
    writeRecording(file, 3, std::nullopt);
    ShotResult r;
    ASSERT_TRUE(shot(file, {0, 0, {}, {}}, r));
    // The file's 0.5 .. 50 m: 2 x trunc(8.94) = 16, and beyond the record.
    EXPECT_TRUE(r.rawStart == 16 && r.rawEnd == kSamples && r.searchStart == 20 &&
                r.searchEnd == 4 * kSamples);
    ASSERT_TRUE(shot(file, {0, 0, 3.0, 5.0}, r));
    EXPECT_TRUE(r.searchStart == 324 && r.searchEnd == 812);
    EXPECT_FALSE(r.found); // the pulse at raw 60 is outside that window now

    const auto bowtie = dir_ / "bowtie.raw";
    writeRecording(bowtie, kScanTypeMovingBowtie, std::nullopt);
    const auto peaks = dir_ / "peaks.pek";
    RawFileWriter out;
    ASSERT_TRUE(out.open(peaks, headerFor(3)));
    const std::vector<double> v(3, 1.0);
    ASSERT_TRUE(out.writePeakLineRecord(0.1f, std::vector<float>(2, 0.0f), v, v, v, v));
    ASSERT_TRUE(out.finish(std::nullopt));
    const struct {
        std::filesystem::path file;
        ShotRequest request;
        const char* message;
    } cases[] = {
        {file, {3, 0, {}, {}}, "ERROR, shot: record 3 beyond the file (3 records)"},
        {file, {0, 3, {}, {}}, "ERROR, shot: pulse 3 beyond the record (3 pulses)"},
        {bowtie, {2, 8, {}, {}}, "ERROR, shot: pulse 8 beyond the record (8 pulses)"},
        {peaks, {0, 0, {}, {}}, "ERROR, shot: the file holds peak records, not waveforms"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(shot(c.file, c.request, r));
        EXPECT_EQ(sink_.last(), c.message);
    }
}

TEST(ShotJson, NumbersThatAreNotFiniteAreNull) {
    ShotResult r;
    r.intensity = std::numeric_limits<double>::quiet_NaN();
    r.tempA = std::numeric_limits<float>::infinity();
    const std::string json = shotJson(r);
    EXPECT_NE(json.find("\"intensity\":null,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"tempA\":null,"), std::string::npos) << json;
}

} // namespace
} // namespace quarv
