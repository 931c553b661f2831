// processShot's refusals on simulated recordings (what it reports for a shot of each layout, also
// with its own window, is pinned end to end by quarv-cli shot in the slow golden test).
#include "core/waveform/shot.hpp"

#include "core/scanfile/line_arrays.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_fixture.hpp"
#include "support/recordings.hpp"

namespace quarv {
namespace {

class Shot : public test::WaveformFixture {
protected:
    bool shot(const std::filesystem::path& file, const ShotRequest& request, ShotResult& r) {
        PlaybackFile reader(sink_);
        WaveformProcessor processor(root_, sink_);
        return reader.open(file) && processShot(reader, processor, request, r, sink_);
    }
};

TEST_F(Shot, RefusalsSayWhyAndNumbersThatAreNotFiniteAreNull) {
    const auto line = test::makeRecording(dir_.path(), "line.raw", [](sim::SimOptions& s) {
        s.scanner.scanType = 3;
        s.scanner.lines = 3;
    });
    ShotResult r;
    const auto bowtie = test::makeRecording(dir_.path(), "bowtie.raw",
                                            [](sim::SimOptions& s) { s.scanner.scanType = 4; });
    const auto peaks = test::makeRecording(dir_.path(), "peaks.pek",
                                           [](sim::SimOptions& s) { s.peakFile = true; });
    const struct {
        std::filesystem::path file;
        ShotRequest request;
        const char* message;
    } cases[] = {
        {line, {3, 0, {}, {}}, "ERROR, shot: record 3 beyond the file (3 records)"},
        {line, {0, 48, {}, {}}, "ERROR, shot: pulse 48 beyond the record (48 pulses)"},
        {bowtie, {11, 192, {}, {}}, "ERROR, shot: pulse 192 beyond the record (192 pulses)"},
        {peaks, {0, 0, {}, {}}, "ERROR, shot: the file holds peak records, not waveforms"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(shot(c.file, c.request, r));
        EXPECT_EQ(sink_.last(), c.message);
    }
    ASSERT_TRUE(shot(bowtie, {11, 191, {}, {}}, r));
    r.intensity = std::numeric_limits<double>::quiet_NaN();
    r.tempA = std::numeric_limits<float>::infinity();
    const std::string json = shotJson(r); // numbers that are not finite are null
    EXPECT_NE(json.find("\"intensity\":null,\"horPosRange\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"tempA\":null,\"tempB\""), std::string::npos) << json;
}

// A whole line of each waveform layout read as arrays and processed on three threads gives, pulse
// by pulse, what processShot gives for the pulse read on its own.
TEST_F(Shot, LineArraysOnThreadsMatchEachShotAlone) {
    for (const int type : {0, 1, 4}) {
        const auto file = test::makeRecording(dir_.path(), "t.raw", [type](sim::SimOptions& s) {
            s.scanner.scanType = static_cast<std::uint8_t>(type);
            s.scanner.shotsPerLine = 12;
            s.scanner.pulsesPerPosition = 2;
            s.scanner.lines = 2;
        });
        PlaybackFile reader(sink_);
        ASSERT_TRUE(reader.open(file));
        const LineShape s = lineShapeOf(reader);
        std::vector<std::int16_t> samples(s.values() * s.samples);
        std::vector<double> horPos(s.values());
        ASSERT_TRUE(readLineWaveforms(reader, 1, samples, sink_));
        ASSERT_TRUE(readLineHorizontalPositions(reader, 1, horPos, sink_));
        ShotSettings settings;
        ASSERT_TRUE(shotSettingsOf(reader, 1.0, 9.0, settings));
        std::vector<ShotResult> many(s.values());
        ASSERT_TRUE(processShots(root_, settings, samples, horPos, many, 3, sink_));
        for (std::uint32_t i = 0; i < many.size(); ++i) {
            const bool stare = type == 1;
            const ShotRequest request{stare ? s.shots + i / s.pulses : 1, stare ? i % s.pulses : i,
                                      1.0, 9.0};
            ShotResult one;
            ASSERT_TRUE(shot(file, request, one));
            const auto key = [](const ShotResult& r) {
                return std::tuple(r.found, r.position, r.range, r.amplitude, r.snr, r.intensity,
                                  r.horPos);
            };
            EXPECT_EQ(key(many[i]), key(one)) << "type " << type << " value " << i;
        }
    }
}

} // namespace
} // namespace quarv
