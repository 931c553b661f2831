#include "core/cloud/cloud_file.hpp"

#include "core/app/message_sink.hpp"
#include "core/config/bytes.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace quarv {
namespace {

std::string bytesOf(const CloudRecord& r) {
    std::string s;
    for (std::uint8_t b : r) s += std::to_string(b) + " ";
    return s;
}

// The record coding both ways at the edges of each field, and a file written and read back.
TEST(CloudFile, RecordCodingAndFileRoundTripTranscript) {
    std::ostringstream out;
    out.precision(9);
    const CloudPeak peaks[] = {
        {3.5, 1.0, 437.5f, false},       {0.0, -1.0, 875.0f, false},
        {12.25, 0.0, 10.0f, true},       {200.0, 30.0, -4.0f, false},
        {-200.0, -30.0, 874.9f, false},  {-1.0, -1.0 / 1489, 1, false},
        {127.99999, 22.0, 3.43f, false}, {NAN, NAN, NAN, false},
        {2.75, -0.25, 900.0f, false},
    };
    for (const CloudPeak& p : peaks) {
        const CloudRecord r = encodeCloudRecord(p, kCloudAmplitudeScale);
        const DecodedCloudRecord d = decodeCloudRecord(r, kCloudAmplitudeScale);
        out << "encode " << p.range << " " << p.azimuthReading << " " << p.amplitude << " "
            << p.saturated << " -> " << bytesOf(r) << "-> " << d.range << " " << d.azimuthReading
            << " " << d.amplitude << "\n";
    }
    for (const std::uint8_t whole : {0, 1, 127, 128, 255}) {
        CloudRecord r{whole, 0xFF, 0xFF, 0x01, 0x80, 0xFF};
        const DecodedCloudRecord d = decodeCloudRecord(r, kCloudAmplitudeScale);
        out << "decode " << bytesOf(r) << "-> " << d.range << " " << d.azimuthReading << " "
            << d.amplitude << "\n";
    }

    CloudFileHeader header;
    for (std::size_t i = 0; i < header.reserved.size(); ++i)
        header.reserved[i] = std::uint8_t(i + 1);
    header.scanner.setShotsPerLine(3);
    header.digitizer.setSamplesPerPulse(512);
    header.processing.setRefractiveIndex(1.34);
    header.environment.setJob("harbour wall");
    header.calibration.setTimeOffsetNs(2.5f);
    header.panTilt.setTiltAngle(-12.0);
    header.attitude.setRollAngle(0.75);
    test::TempDir dir;
    const auto file = dir / "scan.3DC";
    CloudFileWriter writer;
    ASSERT_TRUE(writer.create(file, header));
    for (std::uint16_t l = 0; l < 3; ++l)
        ASSERT_TRUE(
            writer.writeLine(l + 10, 0.1f * l, std::span(peaks).subspan(l * 3, l == 1 ? 0 : 3)));
    ASSERT_TRUE(writer.close());
    out << "file " << test::digest(test::readBytes(file)) << "\n";

    CloudFile in;
    RecordingSink sink;
    ASSERT_TRUE(in.open(file, sink));
    EXPECT_TRUE(in.header() == header);
    out << "block " << in.cloudBlock().amplitudeScale << " " << in.cloudBlock().reserved << " "
        << in.cloudBlock().pointTotal << "\n";
    for (CloudLineHeader h; in.readLineHeader(h);) {
        out << "line " << h.lineNumber << " " << h.elevationReading << " " << h.recordCount << ":";
        for (std::uint32_t i = 0; i < h.recordCount; ++i) {
            CloudRecord r;
            ASSERT_TRUE(in.readPoint(r));
            CloudPoint p;
            in.decode(r, p);
            out << " (" << p.range << " " << p.azimuth << " " << p.amplitude << ")";
        }
        out << "\n";
    }
    EXPECT_TRUE(sink.messages().empty());
    test::expectGolden("cloud_file_records.txt", out.str());
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
        bytes.resize(bytes.size() == 1 ? 1 : message == version ? 600 : 561);
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
    ASSERT_TRUE(in.open(file, quiet));
    CloudLineHeader h;
    CloudRecord r;
    ASSERT_TRUE(in.readLineHeader(h) && in.readPoint(r) && in.readPoint(r));
    h.lineNumber = 99;
    EXPECT_FALSE(in.readLineHeader(h));
    EXPECT_EQ(h.lineNumber, 99);
    bytes.resize(kCloudHeaderSize + 12 + 6 + 5);
    test::writeBytes(file, bytes);
    ASSERT_TRUE(in.open(file, quiet));
    ASSERT_TRUE(in.readLineHeader(h) && in.readPoint(r));
    EXPECT_FALSE(in.readPoint(r));
}

} // namespace
} // namespace quarv
