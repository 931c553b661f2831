#include "core/cloud/cloud_file.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace quarv {
namespace {

// The record coding both ways at the edges of each field, and a file written and read back whole
// and damaged.
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
    // Read whole, cut inside the last record, and with the marker of the second line spoiled:
    // a read ends at the last whole record or line header.
    auto bytes = test::readBytes(file);
    for (int cut : {0, 1, 2}) {
        if (cut) test::writeBytes(file, bytes);
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
        if (cut == 0) bytes.resize(bytes.size() - 3);
        if (cut == 1) bytes[kCloudHeaderSize + 12 + 3 * 6] ^= 0xFF;
    }
    RecordingSink sink;
    EXPECT_FALSE(CloudFile().open(dir / "absent.3DC", sink));
    EXPECT_EQ(sink.messages(),
              std::vector<std::string>{"ERROR opening file: " + (dir / "absent.3DC").string()});
    test::expectGolden("cloud_file_records.txt", t.str());
}

} // namespace
} // namespace quarv
