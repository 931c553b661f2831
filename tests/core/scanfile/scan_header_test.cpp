// The header codec and the record geometry, as one transcript: the encoded header, the record
// kind, size and field offsets of each layout for geometries up to and beyond the reader's
// capacity, 64-bit record offsets and the peak-layout choice.
#include "core/scanfile/scan_header.hpp"
#include "scanfile_fixtures.hpp"
#include "support/golden.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <sstream>

namespace quarv {
namespace {

using test::makeHeader;

TEST(ScanHeader, DecodeInvertsEncodeAndTheImageIsTheBytesFrom18) {
    ScanHeader h = makeHeader(3, 100, 90, 400, 50);
    h.fileKind = 0xBEEF;
    for (std::size_t i = 0; i < h.reserved.size(); ++i) h.reserved[i] = std::uint8_t(0xC0 + i);
    h.scanner.setAzStartOpt(-12.5f);
    h.digitizer.setGainCode(9);
    h.processing.setRefractiveIndex(1.34);
    h.environment.setSensor("SX-1");
    h.calibration.setFrontGlassOffsetM(0.125f);
    h.panTilt.setTiltAngle(-15.0);
    h.attitude.setRollAngle(-2.25);
    h.attitude.bytes[16] = 0x77; // the uninterpreted third value is carried too
    const auto b = h.encode();
    EXPECT_EQ(ScanHeader::decode(b), h);
    const HeaderImage img = h.image();
    EXPECT_EQ(std::memcmp(img.bytes.data(), b.data() + 18, kHeaderImageSize), 0);
    EXPECT_TRUE(img.scanner() == h.scanner && img.digitizer() == h.digitizer &&
                img.processing() == h.processing && img.environment() == h.environment &&
                img.calibration() == h.calibration && img.panTilt() == h.panTilt &&
                img.attitude() == h.attitude);

    std::ostringstream out;
    out << "header " << test::digest({b.begin(), b.end()}) << "\n";
    const ScanGeometry g = ScanGeometry::of(img);
    out << "geometry W " << g.shotsPerLine << " L " << g.lines << " N " << g.samplesPerPulse
        << " P " << g.pulsesPerRecord << " T " << int(g.scanType) << "\n";
    test::expectGolden("scan_header_codec.txt", out.str());
}

TEST(ScanHeader, LayoutTranscript) {
    std::ostringstream out;
    struct Geometry {
        std::uint8_t t;
        std::uint16_t w, p, n;
    };
    // Small, at the reader's capacity (32-bit sums must not wrap yet), one over it, and far
    // beyond (the sizes wrap modulo 2^32 like the producer's u32 sums).
    const Geometry geometries[] = {{3, 100, 90, 400},      {0, 7, 3, 5},
                                   {2, 1, 1, 1},           {1, 100, 10, 400},
                                   {4, 100, 100, 400},     {4, 10, 9, 1},
                                   {3, 3000, 3000, 65535}, {1, 3000, 3000, 65535},
                                   {4, 750, 3000, 65535},  {3, 3001, 10, 10},
                                   {3, 10, 3001, 10},      {3, 10, 10, 0},
                                   {4, 751, 1, 10},        {0, 65535, 65535, 65535},
                                   {4, 65535, 1, 65535}};
    for (const Geometry& c : geometries) {
        const ScanGeometry g = ScanGeometry::of(makeHeader(c.t, c.w, c.p, c.n));
        out << "T " << int(c.t) << " W " << c.w << " P " << c.p << " N " << c.n << ": capacity "
            << withinReaderCapacity(g) << " bowtie pulses " << g.bowtiePulses();
        for (RecordLayout layout : {RecordLayout::Waveform, RecordLayout::Peak}) {
            const RecordKind kind = recordKindOf(layout, c.t);
            out << " | kind " << int(kind) << " size " << recordSizeOf(kind, g);
        }
        out << " | waveform " << waveformRecordSize(g) << " peak line " << peakLineRecordSize(g)
            << " peak stare " << peakStareRecordSize(g) << "\n";
        const auto l = lineRecordOffsets(g);
        const auto s = stareRecordOffsets(g);
        const auto b = bowtieRecordOffsets(g);
        const auto pl = peakLineRecordOffsets(g);
        const auto ps = peakStareRecordOffsets(g);
        out << "  line " << l.elevation << " " << l.azimuth << " " << l.horPos << " " << l.words
            << " " << l.samples << "; stare " << s.azimuth << " " << s.elevation << " " << s.horPos
            << " " << s.words << " " << s.samples << "; bowtie " << b.azimuth << " " << b.elevation
            << " " << b.horPos << " " << b.words << " " << b.samples << "; peak line "
            << pl.elevation << " " << pl.azimuth;
        for (auto v : pl.values) out << " " << v;
        out << "; peak stare " << ps.azimuth << " " << ps.elevation;
        for (auto v : ps.values) out << " " << v;
        out << "\n";
    }
    // Offsets past 2 and 4 GiB, a stare index near 2^32 lines that saturates beyond any file.
    const std::uint32_t largest = 26 + 3000u * (12 + 2 * 65535u);
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const std::pair<std::uint32_t, std::uint64_t> offsets[] = {
        {81622, 0},
        {81622, 2},
        {81622, 30000},
        {81622, 60000},
        {0xFFFFFFFFu, 0xFFFFFFFFull},
        {largest, 0xFFFFFFFFull},
        {largest, 0xFFFFFFFFull * 3000 + 3000},
        {26, max},
        {0, max}};
    for (auto [size, index] : offsets)
        out << "offset " << size << " x " << index << " = " << recordOffset(size, index)
            << (recordOffset(size, index) == kBeyondAnyFile ? " beyond" : "") << "\n";
    const std::pair<std::uint16_t, const char*> paths[] = {
        {1, "scan.raw"}, {2, "scan.raw"},     {0, "scan.pek"}, {1, "dir/SCAN.PEK"},
        {0, "scan.PeK"}, {3, "scan.pek.raw"}, {0, "pek"},      {0, "scan.peak"}};
    for (auto [kind, path] : paths)
        out << "layout " << kind << " " << path << " = " << int(layoutFor(kind, path)) << "\n";
    test::expectGolden("scan_layouts.txt", out.str());
}

} // namespace
} // namespace quarv
