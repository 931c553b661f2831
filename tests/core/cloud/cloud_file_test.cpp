#include "core/cloud/cloud_file.hpp"

#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "core/config/bytes.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace quarv {
namespace {

using test::addPoint;

CloudRecord record(std::int8_t whole, std::uint16_t fraction, std::int16_t azimuth,
                   std::uint8_t amplitude) {
    CloudRecord r{};
    r[0] = static_cast<std::uint8_t>(whole);
    le::store<std::uint16_t>(r.data() + 1, fraction);
    le::store<std::int16_t>(r.data() + 3, azimuth);
    r[5] = amplitude;
    return r;
}

TEST(CloudFile, DecodingExamples) {
    struct Case {
        CloudRecord r;
        float range;
        double azimuth;
        float amplitude;
    };
    const Case cases[] = {
        {record(3, 32768, 0, 0), 3.500008f, 0.0, 0.0f},
        {record(-1, 0, -1489, 255), -1.0f, -1.0, 875.0f},
        {record(127, 65535, 32767, 128), 128.0f, 32767 / 1489.0, 439.2157f},
        {record(-127, 1, 1489, 1), -126.9999847f, 1.0, 3.4313725f},
    };
    for (const Case& c : cases) {
        const DecodedCloudRecord d = decodeCloudRecord(c.r, kCloudAmplitudeScale);
        EXPECT_NEAR(d.range, c.range, 1e-6);
        EXPECT_DOUBLE_EQ(d.azimuthReading, c.azimuth);
        EXPECT_NEAR(d.amplitude, c.amplitude, 1e-4);
    }
    // Full-scale and zero bytes decode exactly.
    EXPECT_EQ(decodeCloudRecord(record(0, 0, 0, 255), 255.0 / 875.0).amplitude, 875.0f);
    EXPECT_EQ(decodeCloudRecord(record(0, 0, 0, 0), 255.0 / 875.0).amplitude, 0.0f);
}

TEST(CloudFile, EncodingFollowsTheValueRanges) {
    struct Case {
        CloudPeak peak;
        int whole, fraction, azimuth, amplitude;
    };
    const Case cases[] = {
        {{3.5, 1.0, 437.5f, false}, 3, 32767, 1489, 127}, // 0.5 x 65535 = 32767.5
        {{0.0, -1.0, 875.0f, false}, 0, 0, -1488, 255},   // -1489 + 0.5 truncates to -1488
        {{12.25, 0.0, 10.0f, true}, 12, 16383, 0, 255},   // saturated
        {{200.0, 30.0, -4.0f, false}, 127, 65535, 32767, 0},
        {{-200.0, -30.0, 874.9f, false}, -127, 0, -32768, 254},
        {{std::nan(""), std::nan(""), std::nanf(""), false}, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const CloudRecord r = encodeCloudRecord(c.peak, kCloudAmplitudeScale);
        EXPECT_EQ(static_cast<std::int8_t>(r[0]), c.whole) << c.peak.range;
        EXPECT_EQ(le::u16(r.data() + 1), c.fraction) << c.peak.range;
        EXPECT_EQ(le::i16(r.data() + 3), c.azimuth) << c.peak.azimuthReading;
        EXPECT_EQ(r[5], c.amplitude) << c.peak.amplitude;
    }
}

CloudFileHeader sampleHeader() {
    CloudFileHeader h;
    for (std::size_t i = 0; i < h.reserved.size(); ++i)
        h.reserved[i] = static_cast<std::uint8_t>(i + 1);
    h.scanner.setShotsPerLine(3);
    h.scanner.setLines(4);
    h.digitizer.setSamplesPerPulse(512);
    h.processing.setRefractiveIndex(1.34);
    h.processing.setRangeMin(1.5);
    h.environment.setJob("harbour wall");
    h.calibration.setTimeOffsetNs(2.5f);
    h.panTilt.setTiltAngle(-12.0);
    h.attitude.setRollAngle(0.75);
    return h;
}

TEST(CloudFile, WriterOutputRebuildsIntoTheSameRangesAndReadings) {
    test::TempDir dir;
    const auto file = dir / "scan.3DC";
    const std::vector<std::vector<CloudPeak>> lines{
        {{2.0, 0.5, 100.0f, false}, {2.75, -0.25, 900.0f, false}, {3.125, 1.75, 50.0f, true}},
        {},
        {{10.0001, -3.0, 0.0f, false}},
    };
    CloudFileWriter writer;
    ASSERT_TRUE(writer.create(file, sampleHeader()));
    for (std::size_t l = 0; l < lines.size(); ++l)
        ASSERT_TRUE(writer.writeLine(static_cast<std::uint16_t>(l + 10), 0.1f * l, lines[l]));
    EXPECT_EQ(writer.pointTotal(), 4u);
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(std::filesystem::file_size(file), 562u + 3 * 12u + 4 * 6u);

    CloudFile in;
    RecordingSink sink;
    ASSERT_TRUE(in.open(file, sink));
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_TRUE(in.header() == sampleHeader());
    EXPECT_EQ(in.cloudBlock().amplitudeScale, 255.0 / 875.0);
    EXPECT_EQ(in.cloudBlock().reserved, 0.0);
    EXPECT_EQ(in.cloudBlock().pointTotal, 4u);
    for (std::size_t l = 0; l < lines.size(); ++l) {
        CloudLineHeader h;
        ASSERT_TRUE(in.readLineHeader(h));
        EXPECT_EQ(h.recordCount, lines[l].size());
        EXPECT_EQ(h.lineNumber, l + 10);
        EXPECT_EQ(h.elevationReading, 0.1f * l);
        for (const CloudPeak& peak : lines[l]) {
            CloudRecord r;
            ASSERT_TRUE(in.readPoint(r));
            CloudPoint p;
            in.decode(r, p);
            EXPECT_NEAR(p.range, peak.range, 1.0 / 65535);
            // Adding 0.5 and truncating toward zero rounds negative readings up to 1.5 counts
            // toward zero.
            EXPECT_NEAR(p.azimuth, peak.azimuthReading, 1.5 / 1489 + 1e-7);
            if (peak.azimuthReading >= 0) {
                EXPECT_NEAR(p.azimuth, peak.azimuthReading, 0.5 / 1489 + 1e-7);
            }
            const float amplitude = peak.saturated ? 875.0f : std::min(peak.amplitude, 875.0f);
            EXPECT_NEAR(p.amplitude, amplitude, 875.0 / 255);
        }
    }
    CloudLineHeader end;
    EXPECT_FALSE(in.readLineHeader(end)); // end of file
}

TEST(CloudFile, OpenMessages) {
    test::TempDir dir;
    RecordingSink sink;
    CloudFile in;
    EXPECT_FALSE(in.open(dir / "absent.3DC", sink));
    EXPECT_EQ(sink.last(), "ERROR opening file: " + (dir / "absent.3DC").string());

    struct Case {
        std::vector<std::uint8_t> bytes;
        std::string message;
    };
    std::vector<std::uint8_t> raw(600, 0);
    raw[0] = 3; // a raw recording's version word
    std::vector<std::uint8_t> kind2(600, 0);
    kind2[0] = 48;
    kind2[2] = 2;
    std::vector<std::uint8_t> shortHeader(300, 0);
    shortHeader[0] = 48;
    shortHeader[2] = 1;
    const std::string version = "ERROR: Loading 3DC file, invalid file version";
    const Case cases[] = {
        {raw, version},
        {kind2, version},
        {{48}, version},
        {shortHeader, "ERROR: Loading 3DC file, file too short: " + (dir / "x.3DC").string()},
    };
    for (const Case& c : cases) {
        sink.clear();
        test::writeBytes(dir / "x.3DC", c.bytes);
        EXPECT_FALSE(in.open(dir / "x.3DC", sink));
        EXPECT_FALSE(in.isOpen());
        EXPECT_EQ(sink.messages(), std::vector<std::string>{c.message});
        CloudLineHeader h;
        EXPECT_FALSE(in.readLineHeader(h));
    }
}

TEST(CloudFile, WrongMarkerOrEndOfFileEndsTheRead) {
    test::TempDir dir;
    const auto file = dir / "m.3DC";
    CloudFileWriter writer;
    ASSERT_TRUE(writer.create(file, CloudFileHeader{}));
    const std::vector<CloudPeak> two{{1.0, 0.0, 1.0f, false}, {2.0, 0.0, 2.0f, false}};
    ASSERT_TRUE(writer.writeLine(0, 0.0f, two));
    ASSERT_TRUE(writer.writeLine(1, 0.0f, two));
    ASSERT_TRUE(writer.close());
    auto bytes = test::readBytes(file);
    bytes[562 + 12 + 12] ^= 0xFF; // marker of the second line
    test::writeBytes(file, bytes);

    CloudFile in;
    NullSink quiet;
    ASSERT_TRUE(in.open(file, quiet));
    CloudLineHeader h;
    h.recordCount = 0;
    ASSERT_TRUE(in.readLineHeader(h));
    CloudRecord r;
    ASSERT_TRUE(in.readPoint(r));
    ASSERT_TRUE(in.readPoint(r));
    h.lineNumber = 99;
    EXPECT_FALSE(in.readLineHeader(h));
    EXPECT_EQ(h.lineNumber, 99); // outputs unchanged

    bytes.resize(562 + 12 + 6 + 3); // second record cut in half
    test::writeBytes(file, bytes);
    ASSERT_TRUE(in.open(file, quiet));
    ASSERT_TRUE(in.readLineHeader(h));
    EXPECT_TRUE(in.readPoint(r));
    EXPECT_FALSE(in.readPoint(r));
    in.close();
    EXPECT_FALSE(in.readPoint(r)); // nothing open
}

TEST(XyzExport, LinesInEnumerationOrderWithCrLf) {
    test::TempDir dir;
    CloudStore store;
    store.setCurrentLayer(4);
    addPoint(store, 4, {.x = 7.0f, .y = 8.0f, .z = 9.0f});
    store.setCurrentLayer(0);
    addPoint(store, 0, {.x = 1.0f, .y = -2.5f, .z = 0.0000004f});
    addPoint(store, 0, {.x = 5.0f, .valid = false});
    addPoint(store, 0, {.x = -123.456789f, .y = 0.1f, .z = -0.0000004f});
    RecordingSink sink;
    ASSERT_TRUE(exportXyz(store, dir / "out.xyz", sink));
    const auto bytes = test::readBytes(dir / "out.xyz");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text, "1.000000 -2.500000 0.000000\r\n"
                    "-123.456787 0.100000 -0.000000\r\n"
                    "7.000000 8.000000 9.000000\r\n");
    EXPECT_TRUE(sink.messages().empty());

    CloudStore empty;
    ASSERT_TRUE(exportXyz(empty, dir / "empty.xyz", sink));
    EXPECT_EQ(std::filesystem::file_size(dir / "empty.xyz"), 0u);
}

} // namespace
} // namespace quarv
