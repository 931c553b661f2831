// The scan file subsystem: the header codec and record geometry, the file information lines, the
// writer and the reader against each other on every record kind (the written bytes and every read
// pinned by transcripts), the trailer rules, and what writer and reader refuse or read of files
// that are cut short.
#include "core/app/message_sink.hpp"
#include "core/config/bytes.hpp"
#include "core/scanfile/file_info.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "core/sim/scanner_model.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <sstream>

namespace quarv {
namespace {

using namespace quarv::test;
using Bytes = std::vector<std::uint8_t>;

ScanHeader makeHeader(std::uint8_t scanType, std::uint16_t w, std::uint16_t p, std::uint16_t n,
                      std::uint16_t lines = 3) {
    ScanHeader h;
    h.scanner.setShotsPerLine(w);
    h.scanner.setLines(lines);
    h.scanner.setScanType(scanType);
    h.scanner.setPulsesPerPosition(p);
    h.digitizer.setSamplesPerPulse(n);
    h.digitizer.setPulsesPerRecord(p);
    h.digitizer.setTemperatureC(17.25f);
    return h;
}

// Distinct, exactly representable values per record and element, so that a value read from the
// wrong offset shows.
template <typename T> std::vector<T> values(std::size_t count, int record, double base) {
    std::vector<T> v(count);
    for (std::size_t i = 0; i < count; ++i) {
        if constexpr (std::is_same_v<T, std::int16_t>)
            v[i] = T(int((i * 7 + record * 131) % 4000) - 2000);
        else if constexpr (std::is_same_v<T, std::uint32_t>)
            v[i] = T(0xA5000000u + std::uint32_t(record) * 0x10000u + std::uint32_t(i));
        else
            v[i] = T(base + record * (sizeof(T) == 4 ? 1000.0 : 1e4) +
                     double(i) * (sizeof(T) == 4 ? 0.25 : 0.125));
    }
    return v;
}
const auto floats = values<float>;
const auto doubles = values<double>;
const auto wordsFor = [](std::size_t count, int k) { return values<std::uint32_t>(count, k, 0); };
const auto samplesFor = [](std::size_t count, int k) { return values<std::int16_t>(count, k, 0); };

// One small file per record kind; record k holds the builders' values for k. Line: T 3, W 5, P 4,
// N 6 (S 138). Bowtie: T 4, W 2 (Q 8), N 3 (S 226). Stare: T 1, W 3, L 2, P 2, N 4 (S 66,
// record l W + c). Peak line: T 0, W 3, P 2 (file kind 2). Peak stare: T 1, W 3, L 2, P 2
// (file kind 0: peak by a ".pek" name alone).
enum class Kind { Line, Bowtie, Stare, PeakLine, PeakStare };

ScanHeader headerOf(Kind kind) {
    const int i = static_cast<int>(kind);
    const int t[] = {3, 4, 1, 0, 1}, w[] = {5, 2, 3, 3, 3}, p[] = {4, 1, 2, 2, 2},
              n[] = {6, 3, 4, 1, 1};
    ScanHeader h =
        makeHeader(std::uint8_t(t[i]), std::uint16_t(w[i]), std::uint16_t(p[i]),
                   std::uint16_t(n[i]), kind == Kind::Stare || kind == Kind::PeakStare ? 2 : 3);
    if (kind == Kind::PeakLine) h.fileKind = kFileKindPeak;
    if (kind == Kind::PeakStare) h.fileKind = 0;
    return h;
}

std::filesystem::path writeFile(const std::filesystem::path& path, Kind kind, int records,
                                std::optional<std::pair<float, float>> trailer = {}) {
    RawFileWriter w;
    EXPECT_TRUE(w.open(path, headerOf(kind)));
    for (int k = 0; k < records; ++k) {
        const float fk = static_cast<float>(k);
        const bool ok =
            kind == Kind::Line
                ? w.writeLineRecord(0.5f + fk, floats(5, k, 1.0f), doubles(4, k, 100.0),
                                    wordsFor(4, k), samplesFor(24, k))
            : kind == Kind::Bowtie
                ? w.writeBowtieRecord(floats(8, k, 10.0f), floats(8, k, -10.0f), doubles(8, k, 7.0),
                                      wordsFor(8, k), samplesFor(24, k))
            : kind == Kind::Stare
                ? w.writeStareRecord(fk, -fk, doubles(2, k, 3.0), wordsFor(2, k), samplesFor(8, k))
            : kind == Kind::PeakLine
                ? w.writePeakLineRecord(fk + 0.25f, floats(3, k, 1), doubles(2, k, 1),
                                        doubles(2, k, 2), doubles(2, k, 3), doubles(2, k, 4))
                : w.writePeakStareRecord(fk, -fk, doubles(2, k, 1), doubles(2, k, 2),
                                         doubles(2, k, 3), doubles(2, k, 4));
        EXPECT_TRUE(ok) << k;
    }
    EXPECT_TRUE(w.finish(trailer));
    return path;
}

class ScanFile : public ::testing::Test {
protected:
    TempDir dir;
    RecordingSink sink;
    PlaybackFile f{sink};
};

// Record kind, size and field offsets of each layout for geometries up to the reader's capacity
// (32-bit sums must not wrap yet), one over it and far beyond (the sizes wrap modulo 2^32 like
// the producer's u32 sums); 64-bit record offsets; the peak-layout choice. Before that, the
// header codec: decode inverts encode, and the image is the bytes from 18 on.
TEST(ScanHeader, CodecAndLayoutTranscripts) {
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
    const auto bytes = h.encode();
    EXPECT_EQ(ScanHeader::decode(bytes), h);
    const HeaderImage img = h.image();
    EXPECT_EQ(std::memcmp(img.bytes.data(), bytes.data() + 18, kHeaderImageSize), 0);
    EXPECT_TRUE(img.scanner() == h.scanner && img.digitizer() == h.digitizer &&
                img.processing() == h.processing && img.environment() == h.environment &&
                img.calibration() == h.calibration && img.panTilt() == h.panTilt &&
                img.attitude() == h.attitude);
    const ScanGeometry hg = ScanGeometry::of(img);
    std::ostringstream out;
    out << "header " << digest({bytes.begin(), bytes.end()}) << "\ngeometry W " << hg.shotsPerLine
        << " L " << hg.lines << " N " << hg.samplesPerPulse << " P " << hg.pulsesPerRecord << " T "
        << int(hg.scanType) << "\n";
    expectGolden("scan_header_codec.txt", out.str());
    out.str("");
    // clang-format off
    const int geometries[][4] = {
        {3, 100, 90, 400},      {0, 7, 3, 5},          {2, 1, 1, 1},     {1, 100, 10, 400},
        {4, 100, 100, 400},     {4, 10, 9, 1},         {3, 3000, 3000, 65535},
        {1, 3000, 3000, 65535}, {4, 750, 3000, 65535}, {3, 3001, 10, 10}, {3, 10, 3001, 10},
        {3, 10, 10, 0},         {4, 751, 1, 10},       {0, 65535, 65535, 65535},
        {4, 65535, 1, 65535}};
    // clang-format on
    for (const auto& c : geometries) {
        const auto t = std::uint8_t(c[0]);
        const ScanGeometry g = ScanGeometry::of(
            makeHeader(t, std::uint16_t(c[1]), std::uint16_t(c[2]), std::uint16_t(c[3])));
        out << "T " << c[0] << " W " << c[1] << " P " << c[2] << " N " << c[3] << ": capacity "
            << withinReaderCapacity(g) << " bowtie pulses " << g.bowtiePulses();
        for (RecordLayout layout : {RecordLayout::Waveform, RecordLayout::Peak}) {
            const RecordKind kind = recordKindOf(layout, t);
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
    expectGolden("scan_layouts.txt", out.str());
}

// The 30 lines of every scan type (types without a text repeat the path line; the bowtie's scan
// size counts 4 W shots) and the displayed gain of each gain code range.
TEST(FileInformation, LinesOfEveryScanTypeAndGainCode) {
    sim::ScannerOptions o;
    o.panDeg = 45.5, o.tiltDeg = -12.25, o.pitchDeg = 0.5, o.rollDeg = -1, o.note = "calm";
    o.azStopDeg = 30.25f, o.elStopDeg = 10.125f, o.refractiveIndex = 1.340123;
    std::string text;
    for (std::uint8_t type : {3, 0, 1, 2, 4, 5, 255}) {
        o.scanType = type;
        const auto lines =
            fileInformationLines("/data/scan.raw", sim::makeHeader(o, false).image());
        EXPECT_EQ(lines.size(), kFileInfoLineCount);
        text += "== type " + std::to_string(type) + "\n";
        for (const auto& l : lines) text += l + "\n";
    }
    o.scanType = 4;
    ScanHeader h = sim::makeHeader(o, false);
    for (int code : {0, 4, 5, 8, 9, 12, 255}) {
        h.digitizer.setGainCode(std::uint8_t(code));
        text += std::to_string(code) + " -> " + fileInformationLines("f", h.image())[18] + "\n";
    }
    expectGolden("file_information.txt", text);
}

// Records of the wrong size or kind and headers no reader could read are refused; the target
// appears only at finish, and an unfinished writer leaves an existing file alone.
TEST_F(ScanFile, WriterRefusalsAndAtomicReplacement) {
    RawFileWriter w;
    const auto path = dir / "x.raw";
    ASSERT_TRUE(w.open(path, makeHeader(0, 3, 2, 4)));
    const auto az = floats(3, 0, 0);
    const auto hp = doubles(2, 0, 0);
    const auto wd = wordsFor(2, 0);
    const auto sm = samplesFor(8, 0);
    EXPECT_FALSE(w.writeLineRecord(0, floats(2, 0, 0), hp, wd, sm) ||
                 w.writeLineRecord(0, az, doubles(3, 0, 0), wd, sm) ||
                 w.writeLineRecord(0, az, hp, wordsFor(1, 0), sm) ||
                 w.writeLineRecord(0, az, hp, wd, samplesFor(7, 0)) ||
                 w.writeStareRecord(0, 0, hp, wd, sm) ||
                 w.writePeakLineRecord(0, az, hp, hp, hp, hp) ||
                 w.writeBowtieRecord(floats(12, 0, 0), floats(12, 0, 0), doubles(12, 0, 0),
                                     wordsFor(12, 0), samplesFor(48, 0)));
    EXPECT_EQ(w.recordsWritten(), 0u);
    ASSERT_TRUE(w.writeLineRecord(0, az, hp, wd, sm));
    EXPECT_FALSE(std::filesystem::exists(path)); // only the temporary exists until finish
    ASSERT_TRUE(w.finish(std::nullopt));
    EXPECT_EQ(readBytes(path).size(), 542u + 22 + 12 + 2 * 20);
    EXPECT_FALSE(w.finish(std::nullopt) || w.writeLineRecord(0, az, hp, wd, sm)); // closed
    for (const ScanHeader& h : {makeHeader(0, 3001, 1, 1), makeHeader(4, 751, 1, 1),
                                makeHeader(0, 1, 3001, 1), makeHeader(0, 1, 1, 0)}) {
        RawFileWriter r;
        EXPECT_FALSE(r.open(dir / "refused.raw", h) || r.isOpen());
    }
    EXPECT_FALSE(RawFileWriter().open(dir / "missing-dir" / "a.raw", makeHeader(0, 1, 1, 1)));
    {
        RawFileWriter unfinished;
        ASSERT_TRUE(unfinished.open(path, makeHeader(0, 3, 2, 4)));
        ASSERT_TRUE(unfinished.writeLineRecord(0, az, hp, wd, sm));
    }
    EXPECT_EQ(readBytes(path).size(), 542u + 22 + 12 + 2 * 20);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// Every read of every record kind, in any order, as a transcript (the values are the builders':
// record k's floats start at base + 1000 k, doubles at base + 10000 k), beside the written bytes.
TEST_F(ScanFile, EveryRecordKindReadsBackWhatWasWritten) {
    std::ostringstream out;
    auto put = [&](const auto& v) {
        for (const auto& x : v) out << " " << +x;
        out << " |";
    };
    const std::pair<Kind, const char*> files[] = {{Kind::Line, "line.raw"},
                                                  {Kind::Bowtie, "bow.raw"},
                                                  {Kind::Stare, "stare.raw"},
                                                  {Kind::PeakLine, "peaks.raw"},
                                                  {Kind::PeakStare, "stare.Pek"}};
    for (auto [kind, name] : files) {
        const int records = kind == Kind::Stare || kind == Kind::PeakStare ? 6 : 3;
        const auto path = writeFile(dir / name, kind, records, std::pair{12.5f, 13.0f});
        ASSERT_TRUE(f.open(path));
        EXPECT_EQ(f.recordCount(), std::uint64_t(records));
        out << name << " " << digest(readBytes(path)) << " layout " << int(f.layoutOf()) << " kind "
            << int(f.recordKind()) << " file kind " << f.fileKind() << " size "
            << f.fileRecordSize() << "\n";
        const ScanGeometry g = f.geometry();
        const std::size_t w = g.shotsPerLine, p = g.pulsesPerRecord, n = g.samplesPerPulse;
        const std::size_t q = 4 * w;
        std::vector<std::int16_t> one(n), line(p * n), bow(q * n);
        std::vector<double> dp(p), dq(q), a(p), b(p), c(p), d(p);
        std::vector<std::uint32_t> wp(p), wq(q);
        std::vector<float> aw(w), aq(q), eq(q);
        std::array<std::uint8_t, 14> r{};
        double hp = 0;
        std::uint32_t word = 0;
        float x = 0, y = 0;
        for (std::uint32_t k : {2u, 0u, 1u}) {
            out << " record " << k << ":";
            if (kind == Kind::Line) {
                out << f.readPulse(std::uint32_t(p - 1), k, one, hp, word, x) << " " << hp << " "
                    << word << " " << x;
                put(one), put(f.azimuth()), put(f.horPos()), put(f.words());
                out << f.readLineRecord(k, line, dp, wp, x) << " " << x;
                put(line), put(dp), put(wp);
                std::vector<std::int16_t> part((2 * n) + 1, 99);
                out << f.readLineSamples(k, 1, 3, part); // a worker's own pulses
                put(part);
            } else if (kind == Kind::Bowtie) {
                out << f.readBowtiePulse(std::uint32_t(q - 1), k, one, hp, word) << " " << hp << " "
                    << word;
                put(one), put(f.azimuth()), put(f.elevation()), put(f.words());
                out << f.readBowtieRecord(k, bow, dq, wq, r);
                put(bow), put(dq), put(wq), put(r);
                out << f.readBowtieAngles(k, aq, eq);
                put(aq), put(eq);
            } else if (kind == Kind::PeakLine) {
                out << f.readPeakLine(k, x, aw, a, b, c, d) << " " << x;
                put(aw), put(a), put(b), put(c), put(d);
            } else {
                // Record line W + column; a column beyond W reads the next line's first.
                out << f.readStarePosition(k / 2, k == 1 ? 3 : k, x, y, dp, wp, line) << " " << x
                    << " " << y;
                put(dp), put(wp), put(line);
                if (kind == Kind::PeakStare) {
                    out << f.readPeakStare(k % 3, k / 2, x, y, a, b, c, d) << " " << x << " " << y;
                    put(a), put(b), put(c), put(d);
                }
            }
            if (kind != Kind::Bowtie && kind != Kind::Stare) {
                out << f.readLineAngles(k, aw, x) << " " << x; // peak files: peak record steps
                put(aw);
            }
            out << "\n";
        }
    }
    expectGolden("scan_file_records.txt", out.str());
    EXPECT_TRUE(sink.messages().empty());
}

// Both temperatures within 0..55 and the marker: the trailer's; otherwise the configured 17.25
// twice. The trailer is never a record.
TEST_F(ScanFile, TrailerRules) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::optional<std::pair<float, float>> trailers[] = {
        std::pair{12.5f, 13.0f}, std::pair{0.0f, 55.0f}, std::pair{12.5f, 55.5f},
        std::pair{-0.5f, 10.0f}, std::pair{nan, 10.0f},  std::nullopt};
    std::ostringstream out;
    for (const auto& trailer : trailers) {
        ASSERT_TRUE(f.open(writeFile(dir / "t.raw", Kind::Line, 2, trailer)));
        TrailerTemperatures t;
        ASSERT_TRUE(f.readTrailer(t));
        out << f.recordCount() << " " << t.first << " " << t.second << "; ";
    }
    // Valid temperatures without the marker.
    Bytes b = readBytes(writeFile(dir / "m.raw", Kind::Line, 1, std::pair{12.5f, 13.0f}));
    b.back() = 0x0E;
    writeBytes(dir / "m.raw", b);
    TrailerTemperatures t;
    ASSERT_TRUE(f.open(dir / "m.raw") && f.readTrailer(t));
    out << t.first << " " << t.second << " " << std::hex << t.marker;
    EXPECT_EQ(out.str(), "2 12.5 13; 2 0 55; 2 17.25 17.25; 2 17.25 17.25; 2 17.25 17.25; "
                         "2 17.25 17.25; 17.25 17.25 e0f");
    EXPECT_TRUE(sink.messages().empty());
}

// Each refusal closes the reader with one message and keeps the previous header image (a
// legacy file kind 0 with a ".raw" name is a waveform file); a closed reader refuses every read.
TEST_F(ScanFile, RefusedFilesLeaveTheReaderClosedWithTheirMessage) {
    const Bytes good = readBytes(writeFile(dir / "good.raw", Kind::Line, 1));
    const auto header = makeHeader(3, 10, 3001, 10).encode();
    Bytes legacy = good, v2 = good, wide(header.begin(), header.end());
    legacy[2] = 0;
    v2[0] = 2;
    std::filesystem::create_directory(dir / "folder.raw");
    const std::pair<std::optional<Bytes>, std::string> cases[] = {
        {legacy, "legacy.raw"},
        {std::nullopt, "missing.raw"},
        {std::nullopt, "folder.raw"},
        {Bytes(good.begin(), good.begin() + 541), "cut.raw"},
        {v2, "v2.raw"},
        {wide, "wide.raw"}};
    std::string messages;
    for (const auto& [contents, name] : cases) {
        if (contents) writeBytes(dir / name, *contents);
        ASSERT_TRUE(f.open(writeFile(dir / "prev.raw", Kind::Bowtie, 1)));
        sink.clear();
        const bool opened = f.open(dir / name);
        EXPECT_EQ(opened, f.isOpen());
        EXPECT_EQ(ScanGeometry::of(f.headerImage()).scanType, opened ? 3 : 4);
        EXPECT_EQ(f.azimuth().size(), opened ? 5u : 8u); // scratch arrays follow the header
        for (const auto& m : sink.messages()) messages += m.substr(0, m.find(dir.path())) + "\n";
    }
    EXPECT_EQ(messages,
              "ERROR opening playback file: \nERROR opening playback file: \n"
              "ERROR: Loading file - file too short for a scan header: \n"
              "ERROR: Loading file - convert to version 3.0 before use\n"
              "ERROR: Loading file - scan size beyond reader capacity (W 10, P 3001, N 10)\n");
    sink.clear();
    std::vector<std::int16_t> s(64);
    std::vector<double> d(64);
    std::vector<std::uint32_t> w(64);
    std::array<std::uint8_t, 14> r{};
    float x, y;
    TrailerTemperatures t;
    EXPECT_FALSE(f.readLineRecord(0, s, d, w, x) || f.readBowtieRecord(0, s, d, w, r) ||
                 f.readPeakStare(0, 0, x, y, d, d, d, d) || f.readTrailer(t) ||
                 f.readLineSamples(0, 0, 1, s));
    EXPECT_EQ(sink.messages(), std::vector<std::string>(4, "ERROR, no file open for playback!"));
}

// A cut record is read as far as it goes (no half sample), complete records alone are counted,
// and bowtie angles are the one read that reports a cut record.
TEST_F(ScanFile, CutRecordsAreReadAsFarAsTheyGo) {
    const Bytes full = readBytes(writeFile(dir / "full.raw", Kind::Line, 2));
    writeBytes(dir / "cut.raw", Bytes(full.begin(), full.begin() + 542 + 138 + 90 + 2 * 10 + 1));
    ASSERT_TRUE(f.open(dir / "cut.raw"));
    EXPECT_EQ(f.recordCount(), 1u);
    std::vector<std::int16_t> s(24, 12345), part(13, 12345);
    std::vector<double> hp(4);
    std::vector<std::uint32_t> wd(4);
    float el = 0;
    ASSERT_TRUE(f.readLineRecord(1, s, hp, wd, el) && f.readLineSamples(1, 1, 3, part));
    auto expected = samplesFor(24, 1);
    std::fill(expected.begin() + 10, expected.end(), 12345);
    EXPECT_TRUE(el == 1.5f && hp == doubles(4, 1, 100.0) && s == expected);
    EXPECT_EQ(part, std::vector<std::int16_t>(expected.begin() + 6, expected.begin() + 19));
    const Bytes bow = readBytes(writeFile(dir / "bow.raw", Kind::Bowtie, 2));
    for (auto [keep, complete] :
         {std::pair{226, true}, {18 + 64, true}, {18 + 63, false}, {5, false}}) {
        writeBytes(dir / "cut.raw", Bytes(bow.begin(), bow.begin() + 542 + 226 + keep));
        ASSERT_TRUE(f.open(dir / "cut.raw"));
        std::vector<float> a(8), e(8);
        EXPECT_TRUE(f.readBowtieAngles(0, a, e) && !f.readBowtieAngles(2, a, e));
        EXPECT_EQ(f.readBowtieAngles(1, a, e), complete) << keep;
    }
    EXPECT_TRUE(sink.messages().empty());
}

} // namespace
} // namespace quarv
