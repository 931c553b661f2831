#include "core/config/bytes.hpp"
#include "core/scanfile/scan_header.hpp"
#include "scanfile_fixtures.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

namespace quarv {
namespace {

using test::makeHeader;

ScanHeader distinctiveHeader() {
    ScanHeader h = makeHeader(3, 100, 100, 400, 50);
    h.version = 3;
    h.fileKind = 0xBEEF;
    for (std::size_t i = 0; i < h.reserved.size(); ++i) h.reserved[i] = std::uint8_t(0xC0 + i);
    h.scanner.setAzStartOpt(-12.5f);
    h.digitizer.setGainCode(9);
    h.processing.setRefractiveIndex(1.34);
    h.environment.setSensor("SX-1");
    h.environment.setNote("harbour wall");
    h.calibration.setFrontGlassOffsetM(0.125f);
    h.panTilt.setPanAngle(30.0);
    h.panTilt.setTiltAngle(-15.0);
    h.attitude.setPitchAngle(1.5);
    h.attitude.setRollAngle(-2.25);
    h.attitude.bytes[16] = 0x77; // the uninterpreted third value is carried too
    return h;
}

TEST(ScanHeader, EncodesEveryBlockAtItsFileOffset) {
    const ScanHeader h = distinctiveHeader();
    const auto b = h.encode();
    EXPECT_EQ(le::u16(&b[0]), 3);
    EXPECT_EQ(le::u16(&b[2]), 0xBEEF);
    EXPECT_EQ(b[4], 0xC0);
    EXPECT_EQ(b[17], 0xCD);
    EXPECT_EQ(le::u16(&b[18]), 100);    // W
    EXPECT_EQ(le::u16(&b[22]), 50);     // L
    EXPECT_EQ(le::f32(&b[26]), -12.5f); // azStartOpt
    EXPECT_EQ(b[42], 3);                // scan type
    EXPECT_EQ(le::u16(&b[45]), 400);    // N
    EXPECT_EQ(le::u16(&b[47]), 100);    // P
    EXPECT_EQ(le::f32(&b[79]), 17.25f); // Tcfg
    EXPECT_EQ(b[83], 9);                // gain code
    EXPECT_EQ(le::f64(&b[84]), 1.34);   // refractive index
    EXPECT_EQ(std::memcmp(&b[156 + 202], "SX-1", 5), 0);
    EXPECT_EQ(le::f32(&b[382 + 76]), 0.125f); // front glass offset
    EXPECT_EQ(le::f64(&b[502]), 30.0);
    EXPECT_EQ(le::f64(&b[510]), -15.0);
    EXPECT_EQ(le::f64(&b[518]), 1.5);
    EXPECT_EQ(le::f64(&b[526]), -2.25);
    EXPECT_EQ(b[534], 0x77);
}

TEST(ScanHeader, DecodeInvertsEncodeAndTheImageIsTheBytesFrom18) {
    const ScanHeader h = distinctiveHeader();
    const auto b = h.encode();
    const ScanHeader back = ScanHeader::decode(b);
    EXPECT_EQ(back, h);

    const HeaderImage img = h.image();
    EXPECT_EQ(std::memcmp(img.bytes.data(), b.data() + 18, kHeaderImageSize), 0);
    EXPECT_EQ(img.scanner(), h.scanner);
    EXPECT_EQ(img.digitizer(), h.digitizer);
    EXPECT_EQ(img.processing(), h.processing);
    EXPECT_EQ(img.environment(), h.environment);
    EXPECT_EQ(img.calibration(), h.calibration);
    EXPECT_EQ(img.panTilt(), h.panTilt);
    EXPECT_EQ(img.attitude(), h.attitude);

    const ScanGeometry g = ScanGeometry::of(img);
    EXPECT_EQ(g.shotsPerLine, 100);
    EXPECT_EQ(g.lines, 50);
    EXPECT_EQ(g.samplesPerPulse, 400);
    EXPECT_EQ(g.pulsesPerRecord, 100);
    EXPECT_EQ(g.scanType, 3);
}

struct SizeCase {
    const char* what;
    std::uint8_t scanType;
    std::uint16_t w, p, n;
    RecordLayout layout;
    RecordKind kind;
    std::uint32_t size;
};

TEST(ScanHeader, RecordSizesOfEveryLayout) {
    const SizeCase cases[] = {
        {"raster line", 3, 100, 100, 400, RecordLayout::Waveform, RecordKind::Line, 81622},
        {"stable raster line", 0, 100, 100, 400, RecordLayout::Waveform, RecordKind::Line, 81622},
        {"continuous line", 2, 7, 3, 5, RecordLayout::Waveform, RecordKind::Line, 22 + 28 + 3 * 22},
        {"bowtie", 4, 100, 100, 400, RecordLayout::Waveform, RecordKind::Bowtie, 328018},
        {"stare", 1, 100, 10, 400, RecordLayout::Waveform, RecordKind::Stare, 26 + 10 * 812},
        {"peak line", 3, 100, 100, 400, RecordLayout::Peak, RecordKind::PeakLine, 22 + 400 + 3200},
        {"peak line for bowtie", 4, 10, 9, 1, RecordLayout::Peak, RecordKind::PeakLine,
         22 + 40 + 288},
        {"peak stare", 1, 100, 10, 400, RecordLayout::Peak, RecordKind::PeakStare, 26 + 320},
        {"one sample", 0, 1, 1, 1, RecordLayout::Waveform, RecordKind::Line, 22 + 4 + 14},
        // At the reader's capacity the 32-bit sums must not wrap yet.
        {"line at capacity", 3, 3000, 3000, 65535, RecordLayout::Waveform, RecordKind::Line,
         22 + 4 * 3000 + 3000 * (12 + 2 * 65535)},
        {"stare at capacity", 1, 3000, 3000, 65535, RecordLayout::Waveform, RecordKind::Stare,
         26 + 3000 * (12 + 2 * 65535)},
        {"bowtie at capacity", 4, 750, 3000, 65535, RecordLayout::Waveform, RecordKind::Bowtie,
         18 + 80 * 750 + 8 * 750 * 65535},
        {"peak line at capacity", 3, 3000, 3000, 65535, RecordLayout::Peak, RecordKind::PeakLine,
         22 + 4 * 3000 + 32 * 3000},
        // Far beyond any reader: the products wrap modulo 2^32 like the producer's u32 sums.
        {"wrapping line", 0, 65535, 65535, 65535, RecordLayout::Waveform, RecordKind::Line,
         std::uint32_t((22ull + 4ull * 65535 + 65535ull * (12 + 2ull * 65535)) & 0xFFFFFFFFull)},
        {"wrapping bowtie", 4, 65535, 1, 65535, RecordLayout::Waveform, RecordKind::Bowtie,
         std::uint32_t((18ull + 80ull * 65535 + 8ull * 65535 * 65535) & 0xFFFFFFFFull)},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.what);
        const ScanGeometry g = ScanGeometry::of(makeHeader(c.scanType, c.w, c.p, c.n));
        EXPECT_EQ(recordKindOf(c.layout, c.scanType), c.kind);
        EXPECT_EQ(recordSizeOf(c.kind, g), c.size);
    }
    const ScanGeometry g = ScanGeometry::of(makeHeader(4, 100, 100, 400));
    EXPECT_EQ(g.bowtiePulses(), 400u);
}

TEST(ScanHeader, RecordOffsetsAre64BitAndSaturateBeyondAnyFile) {
    const std::uint32_t largest = 26 + 3000u * (12 + 2 * 65535u);
    // A stare position (line x W + column) with a line near 2^32.
    const std::uint64_t stareIndex = std::uint64_t(0xFFFFFFFFu) * 3000 + 3000;
    const std::uint64_t maxIndex = std::numeric_limits<std::uint64_t>::max();
    struct Row {
        std::uint32_t size;
        std::uint64_t index, expected;
    } rows[] = {
        {81622, 0, 542},
        {81622, 2, 542 + 2 * 81622ull},
        // Past 2 GiB and 4 GiB; a 32-bit product would wrap or go negative.
        {81622, 30000, 542 + 30000ull * 81622ull},
        {81622, 60000, 4897320542ull},
        {0xFFFFFFFFu, 0xFFFFFFFFull, 542 + 0xFFFFFFFFull * 0xFFFFFFFFull},
        {largest, 0xFFFFFFFFull, 542 + 0xFFFFFFFFull * largest},
        {largest, stareIndex, kBeyondAnyFile},
        {26, maxIndex, kBeyondAnyFile},
        {0, maxIndex, 542},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.size) + " x " + std::to_string(r.index));
        EXPECT_EQ(recordOffset(r.size, r.index), r.expected);
    }
    // Adding a field offset to a saturated offset stays beyond any file.
    EXPECT_GT(recordOffset(largest, stareIndex) + largest, recordOffset(largest, stareIndex));
}

TEST(ScanHeader, FieldOffsetsFollowTheLayouts) {
    const ScanGeometry g = ScanGeometry::of(makeHeader(3, 100, 90, 400));
    const auto line = lineRecordOffsets(g);
    EXPECT_EQ(line.elevation, 18u);
    EXPECT_EQ(line.azimuth, 22u);
    EXPECT_EQ(line.horPos, 422u);
    EXPECT_EQ(line.words, 422u + 720u);
    EXPECT_EQ(line.samples, 422u + 1080u);
    EXPECT_EQ(line.samples + 2u * 90 * 400, waveformRecordSize(g));

    const ScanGeometry s = ScanGeometry::of(makeHeader(1, 100, 90, 400));
    const auto stare = stareRecordOffsets(s);
    EXPECT_EQ(stare.samples + 2u * 90 * 400, waveformRecordSize(s));
    EXPECT_EQ(stare.words, 26u + 720u);

    const ScanGeometry b = ScanGeometry::of(makeHeader(4, 100, 90, 400));
    const auto bow = bowtieRecordOffsets(b);
    EXPECT_EQ(bow.elevation, 18u + 1600u);
    EXPECT_EQ(bow.horPos, 18u + 3200u);
    EXPECT_EQ(bow.words, 18u + 6400u);
    EXPECT_EQ(bow.samples, 18u + 8000u);
    EXPECT_EQ(bow.samples + 2u * 400 * 400, waveformRecordSize(b));

    const auto pl = peakLineRecordOffsets(g);
    EXPECT_EQ(pl.values[0], 422u);
    EXPECT_EQ(pl.values[3] + 8u * 90, peakLineRecordSize(g));
    const auto ps = peakStareRecordOffsets(s);
    EXPECT_EQ(ps.values[1], 26u + 720u);
    EXPECT_EQ(ps.values[3] + 8u * 90, peakStareRecordSize(s));
}

TEST(ScanHeader, ReaderCapacity) {
    struct Case {
        std::uint8_t t;
        std::uint16_t w, p, n;
        bool ok;
    } cases[] = {
        {3, 3000, 3000, 65535, true}, {3, 3001, 10, 10, false},        {3, 10, 3001, 10, false},
        {3, 10, 10, 0, false},        {4, 750, 3000, 10, true},        {4, 751, 1, 10, false},
        {1, 3000, 3000, 1, true},     {0, 65535, 65535, 65535, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "T " << int(c.t) << " W " << c.w << " P " << c.p << " N " << c.n);
        EXPECT_EQ(withinReaderCapacity(ScanGeometry::of(makeHeader(c.t, c.w, c.p, c.n))), c.ok);
    }
}

TEST(ScanHeader, PeakLayoutFromFileKindOrExtension) {
    struct Case {
        std::uint16_t kind;
        const char* path;
        RecordLayout layout;
    } cases[] = {
        {1, "scan.raw", RecordLayout::Waveform}, {2, "scan.raw", RecordLayout::Peak},
        {0, "scan.pek", RecordLayout::Peak},     {1, "dir/SCAN.PEK", RecordLayout::Peak},
        {0, "scan.PeK", RecordLayout::Peak},     {3, "scan.pek.raw", RecordLayout::Waveform},
        {0, "pek", RecordLayout::Waveform},      {0, "scan.peak", RecordLayout::Waveform},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(layoutFor(c.kind, c.path), c.layout);
    }
}

} // namespace
} // namespace quarv
