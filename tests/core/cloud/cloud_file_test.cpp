#include "core/cloud/cloud_file.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace quarv {
namespace {

// The record coding both ways at the edges of each field, and a file written and read back.
TEST(CloudFile, RecordCodingAndFileRoundTripTranscript) {
    test::Transcript t;
    const CloudPeak peaks[] = {{3.5, 1.0, 437.5f, false},       {0.0, -1.0, 875.0f, false},
                               {12.25, 0.0, 10.0f, true},       {200.0, 30.0, -4.0f, false},
                               {-200.0, -30.0, 874.9f, false},  {-1.0, -1.0 / 1489, 1, false},
                               {127.99999, 22.0, 3.43f, false}, {NAN, NAN, NAN, false},
                               {2.75, -0.25, 900.0f, false}};
    auto record = [&](const CloudRecord& r) {
        const DecodedCloudRecord d = decodeCloudRecord(r, kCloudAmplitudeScale);
        t.put(r[0], r[1], r[2], r[3], r[4], r[5], "->", d.range, d.azimuthReading, d.amplitude);
    };
    for (const CloudPeak& p : peaks) {
        t.out << p.range << " " << p.azimuthReading << " " << p.amplitude << " " << p.saturated
              << ": ";
        record(encodeCloudRecord(p, kCloudAmplitudeScale));
    }
    for (const std::uint8_t whole : {0, 1, 127, 128, 255})
        record({whole, 0xFF, 0xFF, 0x01, 0x80, 0xFF});

    CloudFileHeader header;
    header.reserved[13] = 14;
    header.scanner.setShotsPerLine(3);
    header.digitizer.setSamplesPerPulse(512);
    header.processing.setRefractiveIndex(1.34);
    header.calibration.setTimeOffsetNs(2.5f);
    header.panTilt.setTiltAngle(-12.0);
    header.environment.setJob("harbour wall");
    header.attitude.setRollAngle(0.75);
    test::TempDir dir;
    const auto file = dir / "scan.3DC";
    CloudFileWriter writer;
    ASSERT_TRUE(writer.create(file, header));
    for (std::uint16_t l = 0; l < 3; ++l)
        ASSERT_TRUE(
            writer.writeLine(l + 10, 0.1f * l, std::span(peaks).subspan(l * 3, l == 1 ? 0 : 3)));
    ASSERT_TRUE(writer.close());
    t.put("file", test::digest(test::readBytes(file)));
    CloudFile in;
    RecordingSink sink;
    ASSERT_TRUE(in.open(file, sink));
    EXPECT_TRUE(in.header() == header);
    t.put("block", in.cloudBlock().amplitudeScale, in.cloudBlock().reserved,
          in.cloudBlock().pointTotal);
    for (CloudLineHeader h; in.readLineHeader(h);) {
        t.put("line", h.lineNumber, h.elevationReading, h.recordCount);
        CloudRecord r;
        CloudPoint p;
        for (std::uint32_t i = 0; i < h.recordCount && in.readPoint(r); ++i) {
            in.decode(r, p);
            t.put(" point", p.range, p.azimuth, p.amplitude);
        }
    }
    EXPECT_TRUE(sink.messages().empty());
    test::expectGolden("cloud_file_records.txt", t.str());
}

TEST(CloudFile, RefusedFilesAndCutReads) {
    test::TempDir dir;
    RecordingSink sink;
    CloudFile in;
    EXPECT_FALSE(in.open(dir / "absent.3DC", sink));
    EXPECT_EQ(sink.last(), "ERROR opening file: " + (dir / "absent.3DC").string());
    const std::string version = "ERROR: Loading 3DC file, invalid file version";
    const std::pair<std::vector<std::uint8_t>, std::string> cases[] = {
        {{3, 0, 1}, version},  // a raw recording's version word
        {{48, 0, 2}, version}, // another kind
        {{48}, version},
        {{48, 0, 1}, "ERROR: Loading 3DC file, file too short: " + (dir / "x.3DC").string()},
    };
    for (auto [bytes, message] : cases) {
        bytes.resize(bytes.size() == 1 ? 1 : message == version ? 600 : kCloudHeaderSize - 1);
        sink.clear();
        test::writeBytes(dir / "x.3DC", bytes);
        EXPECT_FALSE(in.open(dir / "x.3DC", sink));
        EXPECT_EQ(sink.messages(), std::vector<std::string>{message});
        CloudLineHeader h;
        EXPECT_FALSE(in.readLineHeader(h));
    }
    // A wrong line marker ends the read with the outputs unchanged; so does a cut record.
    const auto file = dir / "m.3DC";
    CloudFileWriter writer;
    const std::vector<CloudPeak> two{{1.0, 0.0, 1.0f, false}, {2.0, 0.0, 2.0f, false}};
    ASSERT_TRUE(writer.create(file, CloudFileHeader{}) && writer.writeLine(0, 0, two) &&
                writer.writeLine(1, 0, two) && writer.close());
    auto bytes = test::readBytes(file);
    bytes[kCloudHeaderSize + 24] ^= 0xFF; // marker of the second line
    test::writeBytes(file, bytes);
    NullSink quiet;
    CloudLineHeader h;
    CloudRecord r;
    ASSERT_TRUE(in.open(file, quiet) && in.readLineHeader(h) && in.readPoint(r) && in.readPoint(r));
    h.lineNumber = 99;
    EXPECT_FALSE(in.readLineHeader(h));
    EXPECT_EQ(h.lineNumber, 99);
    bytes.resize(kCloudHeaderSize + 12 + 6 + 5);
    test::writeBytes(file, bytes);
    ASSERT_TRUE(in.open(file, quiet) && in.readLineHeader(h) && in.readPoint(r));
    EXPECT_FALSE(in.readPoint(r));
}

} // namespace
} // namespace quarv
