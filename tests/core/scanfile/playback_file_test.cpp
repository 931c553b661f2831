#include "core/app/message_sink.hpp"
#include "core/config/bytes.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "scanfile_fixtures.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <unistd.h>

namespace quarv {
namespace {

using namespace quarv::test;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kNoFile = "ERROR, no file open for playback!";
constexpr float kFloatSentinel = -777.0f;
constexpr double kDoubleSentinel = -999.0;
constexpr std::int16_t kSampleSentinel = 12345;

// Line files: T 3, W 5, P 4, N 6 -> S = 138.
ScanHeader lineHeader() {
    return makeHeader(3, 5, 4, 6);
}
std::filesystem::path writeLineFile(const std::filesystem::path& path, int records,
                                    std::optional<std::pair<float, float>> trailer = {}) {
    const ScanHeader h = lineHeader();
    RawFileWriter w;
    EXPECT_TRUE(w.open(path, h));
    for (int k = 0; k < records; ++k)
        EXPECT_TRUE(w.writeLineRecord(0.5f + float(k), floats(5, k, 1.0f), doubles(4, k, 100.0),
                                      wordsFor(4, k), samplesFor(24, k)));
    EXPECT_TRUE(w.finish(trailer));
    return path;
}

// Bowtie files: T 4, W 2 (Q 8), N 3 -> S = 226.
std::filesystem::path writeBowtieFile(const std::filesystem::path& path, int records) {
    RawFileWriter w;
    EXPECT_TRUE(w.open(path, makeHeader(4, 2, 1, 3)));
    for (int k = 0; k < records; ++k)
        EXPECT_TRUE(w.writeBowtieRecord(floats(8, k, 10.0f), floats(8, k, -10.0f),
                                        doubles(8, k, 7.0), wordsFor(8, k), samplesFor(24, k)));
    EXPECT_TRUE(w.finish(std::nullopt));
    return path;
}

// Stare files: T 1, W 3, L 2, P 2, N 4 -> S = 66, six records; record i = l W + c.
std::filesystem::path writeStareFile(const std::filesystem::path& path) {
    RawFileWriter w;
    EXPECT_TRUE(w.open(path, makeHeader(1, 3, 2, 4, 2)));
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(w.writeStareRecord(float(i), -float(i), doubles(2, i, 3.0), wordsFor(2, i),
                                       samplesFor(8, i)));
    EXPECT_TRUE(w.finish(std::nullopt));
    return path;
}

std::filesystem::path writePeakLineFile(const std::filesystem::path& path) {
    ScanHeader h = makeHeader(0, 3, 2, 1);
    h.fileKind = kFileKindPeak;
    RawFileWriter w;
    EXPECT_TRUE(w.open(path, h));
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(w.writePeakLineRecord(float(k) + 0.25f, floats(3, k, 1), doubles(2, k, 1),
                                          doubles(2, k, 2), doubles(2, k, 3), doubles(2, k, 4)));
    EXPECT_TRUE(w.finish(std::nullopt));
    return path;
}

std::filesystem::path writePeakStareFile(const std::filesystem::path& path) {
    ScanHeader h = makeHeader(1, 3, 2, 1, 2);
    h.fileKind = 0; // peak by the name alone
    RawFileWriter w;
    EXPECT_TRUE(w.open(path, h));
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(w.writePeakStareRecord(float(i), -float(i), doubles(2, i, 1), doubles(2, i, 2),
                                           doubles(2, i, 3), doubles(2, i, 4)));
    EXPECT_TRUE(w.finish(std::nullopt));
    return path;
}

template <typename T> std::vector<T> filled(std::size_t n, T v) {
    return std::vector<T>(n, v);
}

// Every test reads through one reader, reporting to one sink, with a folder of its own.
class PlaybackFileTest : public ::testing::Test {
protected:
    TempDir dir;
    RecordingSink sink;
    PlaybackFile f{sink};
};

TEST_F(PlaybackFileTest, LineRecordsEveryReadInAnyOrder) {
    ASSERT_TRUE(f.open(writeLineFile(dir / "line.raw", 3)));
    EXPECT_EQ(f.layoutOf(), RecordLayout::Waveform);
    EXPECT_EQ(f.fileKind(), kFileKindWaveform);
    EXPECT_EQ(f.recordSize(), 138u);
    EXPECT_EQ(f.dataStart(), 542u);
    EXPECT_EQ(f.fileSize(), 542u + 3 * 138u);
    EXPECT_EQ(f.recordCount(), 3u);
    EXPECT_EQ(f.azimuth().size(), 5u);
    EXPECT_EQ(f.horPos().size(), 4u);

    for (int k : {2, 0, 1, 2}) {
        SCOPED_TRACE(k);
        for (std::uint32_t p : {0u, 3u}) {
            std::vector<std::int16_t> s(6);
            double hp = 0;
            std::uint32_t word = 0;
            float el = 0;
            ASSERT_TRUE(f.readPulse(p, std::uint32_t(k), s, hp, word, el));
            EXPECT_EQ(el, 0.5f + float(k));
            EXPECT_EQ(hp, doubles(4, k, 100.0)[p]);
            EXPECT_EQ(word, wordsFor(4, k)[p]);
            const auto all = samplesFor(24, k);
            EXPECT_EQ(s, std::vector<std::int16_t>(all.begin() + 6 * p, all.begin() + 6 * p + 6));
            // The scratch arrays hold the whole record's arrays after a single-pulse read.
            EXPECT_EQ(std::vector<float>(f.azimuth().begin(), f.azimuth().end()),
                      floats(5, k, 1.0f));
            EXPECT_EQ(std::vector<double>(f.horPos().begin(), f.horPos().end()),
                      doubles(4, k, 100.0));
            EXPECT_EQ(std::vector<std::uint32_t>(f.words().begin(), f.words().end()),
                      wordsFor(4, k));
        }
        std::vector<std::int16_t> s(24);
        std::vector<double> hp(4);
        std::vector<std::uint32_t> wd(4);
        float el = 0;
        ASSERT_TRUE(f.readLineRecord(std::uint32_t(k), s, hp, wd, el));
        EXPECT_EQ(s, samplesFor(24, k));
        EXPECT_EQ(hp, doubles(4, k, 100.0));
        EXPECT_EQ(wd, wordsFor(4, k));
        EXPECT_EQ(el, 0.5f + float(k));

        std::vector<float> az(5);
        float el2 = 0;
        ASSERT_TRUE(f.readLineAngles(std::uint32_t(k), az, el2));
        EXPECT_EQ(az, floats(5, k, 1.0f));
        EXPECT_EQ(el2, 0.5f + float(k));
    }
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(PlaybackFileTest, BowtieRecords) {
    const auto path = writeBowtieFile(dir / "bow.raw", 2);
    // Give record 1 distinct reserved prefix bytes; they are handed out as read.
    Bytes b = readBytes(path);
    for (int i = 0; i < 14; ++i) b[542 + 226 + 4 + i] = std::uint8_t(0x40 + i);
    writeBytes(path, b);
    ASSERT_TRUE(f.open(path));
    EXPECT_EQ(f.recordSize(), 226u);
    EXPECT_EQ(f.recordCount(), 2u);
    EXPECT_EQ(f.azimuth().size(), 8u);
    EXPECT_EQ(f.elevation().size(), 8u);
    EXPECT_EQ(f.horPos().size(), 8u);

    for (int k : {1, 0}) {
        SCOPED_TRACE(k);
        std::vector<std::int16_t> s(3);
        double hp = 0;
        std::uint32_t word = 0;
        ASSERT_TRUE(f.readBowtiePulse(7, std::uint32_t(k), s, hp, word));
        EXPECT_EQ(hp, doubles(8, k, 7.0)[7]);
        EXPECT_EQ(word, wordsFor(8, k)[7]);
        const auto all = samplesFor(24, k);
        EXPECT_EQ(s, std::vector<std::int16_t>(all.end() - 3, all.end()));
        EXPECT_EQ(std::vector<float>(f.azimuth().begin(), f.azimuth().end()), floats(8, k, 10.0f));
        EXPECT_EQ(std::vector<float>(f.elevation().begin(), f.elevation().end()),
                  floats(8, k, -10.0f));
        EXPECT_EQ(std::vector<std::uint32_t>(f.words().begin(), f.words().end()), wordsFor(8, k));

        std::vector<std::int16_t> rs(24);
        std::vector<double> rh(8);
        std::vector<std::uint32_t> rw(8);
        std::array<std::uint8_t, 14> reserved{};
        ASSERT_TRUE(f.readBowtieRecord(std::uint32_t(k), rs, rh, rw, reserved));
        EXPECT_EQ(rs, all);
        EXPECT_EQ(rh, doubles(8, k, 7.0));
        EXPECT_EQ(rw, wordsFor(8, k));
        EXPECT_EQ(reserved[0], k == 1 ? 0x40 : 0);
        EXPECT_EQ(reserved[13], k == 1 ? 0x4D : 0);

        std::vector<float> az(8), el(8);
        ASSERT_TRUE(f.readBowtieAngles(std::uint32_t(k), az, el));
        EXPECT_EQ(az, floats(8, k, 10.0f));
        EXPECT_EQ(el, floats(8, k, -10.0f));
    }
}

TEST_F(PlaybackFileTest, StarePositionsAndTheColumnClamp) {
    ASSERT_TRUE(f.open(writeStareFile(dir / "stare.raw")));
    EXPECT_EQ(f.recordSize(), 66u);
    EXPECT_EQ(f.recordCount(), 6u);
    struct Case {
        std::uint32_t line, column;
        int record; // -1: beyond the file
    } cases[] = {{0, 0, 0},
                 {0, 2, 2},
                 {1, 1, 4},
                 {1, 2, 5},
                 // A column beyond W reads column W: the next line's first position.
                 {0, 3, 3},
                 {0, 99, 3},
                 {1, 7, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.line << "," << c.column);
        float az = kFloatSentinel, el = kFloatSentinel;
        auto hp = filled(2, kDoubleSentinel);
        auto wd = filled<std::uint32_t>(2, 7);
        auto s = filled(8, kSampleSentinel);
        ASSERT_TRUE(f.readStarePosition(c.line, c.column, az, el, hp, wd, s));
        if (c.record < 0) { // nothing to read: every output keeps what it held
            EXPECT_EQ(az, kFloatSentinel);
            EXPECT_EQ(hp, filled(2, kDoubleSentinel));
            EXPECT_EQ(s, filled(8, kSampleSentinel));
            continue;
        }
        EXPECT_EQ(az, float(c.record));
        EXPECT_EQ(el, -float(c.record));
        EXPECT_EQ(hp, doubles(2, c.record, 3.0));
        EXPECT_EQ(wd, wordsFor(2, c.record));
        EXPECT_EQ(s, samplesFor(8, c.record));
    }
}

TEST_F(PlaybackFileTest, PeakFilesUseThePeakLayouts) {

    ASSERT_TRUE(f.open(writePeakLineFile(dir / "peaks.raw")));
    EXPECT_EQ(f.layoutOf(), RecordLayout::Peak);
    EXPECT_EQ(f.fileKind(), kFileKindPeak);
    EXPECT_EQ(f.peakLineRecordSize(), 98u);
    EXPECT_EQ(f.recordSize(), 22u + 12 + 2 * 14); // the waveform size stays available
    EXPECT_EQ(f.recordCount(), 3u);
    for (int k : {2, 0}) {
        SCOPED_TRACE(k);
        float el = 0;
        std::vector<float> az(3);
        std::vector<double> a(2), b(2), c(2), d(2);
        ASSERT_TRUE(f.readPeakLine(std::uint32_t(k), el, az, a, b, c, d));
        EXPECT_EQ(el, float(k) + 0.25f);
        EXPECT_EQ(az, floats(3, k, 1));
        EXPECT_EQ(a, doubles(2, k, 1));
        EXPECT_EQ(b, doubles(2, k, 2));
        EXPECT_EQ(c, doubles(2, k, 3));
        EXPECT_EQ(d, doubles(2, k, 4));
        // readLineAngles steps by the peak line size in a peak file.
        std::vector<float> az2(3);
        float el2 = 0;
        ASSERT_TRUE(f.readLineAngles(std::uint32_t(k), az2, el2));
        EXPECT_EQ(az2, floats(3, k, 1));
        EXPECT_EQ(el2, float(k) + 0.25f);
    }

    ASSERT_TRUE(f.open(writePeakStareFile(dir / "stare.Pek")));
    EXPECT_EQ(f.layoutOf(), RecordLayout::Peak);
    EXPECT_EQ(f.fileKind(), kFileKindPeak); // the writer marks peak files
    EXPECT_EQ(f.peakStareRecordSize(), 90u);
    EXPECT_EQ(f.recordCount(), 6u);
    for (auto [column, line] : {std::pair{1u, 1u}, std::pair{2u, 0u}}) {
        const int i = int(line * 3 + column);
        SCOPED_TRACE(i);
        float az = 0, el = 0;
        std::vector<double> a(2), b(2), c(2), d(2);
        ASSERT_TRUE(f.readPeakStare(column, line, az, el, a, b, c, d));
        EXPECT_EQ(az, float(i));
        EXPECT_EQ(el, -float(i));
        EXPECT_EQ(a, doubles(2, i, 1));
        EXPECT_EQ(d, doubles(2, i, 4));
        // The stare position read steps by the peak stare size in a peak file.
        float az2 = 0, el2 = 0;
        std::vector<double> hp(2);
        std::vector<std::uint32_t> wd(2);
        std::vector<std::int16_t> s(2);
        ASSERT_TRUE(f.readStarePosition(line, column, az2, el2, hp, wd, s));
        EXPECT_EQ(az2, float(i));
        EXPECT_EQ(el2, -float(i));
        EXPECT_EQ(hp, doubles(2, i, 1));
    }

    // A legacy file kind with a ".raw" name is a waveform file.
    const auto legacy = dir / "legacy.raw";
    Bytes bytes = readBytes(writeLineFile(dir / "l.raw", 1));
    le::store<std::uint16_t>(&bytes[2], 0);
    writeBytes(legacy, bytes);
    ASSERT_TRUE(f.open(legacy));
    EXPECT_EQ(f.layoutOf(), RecordLayout::Waveform);
    EXPECT_EQ(f.fileKind(), 0);
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(PlaybackFileTest, CopyHeaderHandsOutTheSevenBlocks) {
    ScannerCfg sc;
    DigitizerCfg dg;
    ProcessingCfg pr;
    EnvCfg env;
    CalibrationCfg cal;
    PanTiltCfg pt;
    AttitudeBlock at;
    f.copyHeader(sc, dg, pr, env, cal, pt, at); // before any open: zeros, no message
    EXPECT_EQ(sc, ScannerCfg{});
    EXPECT_TRUE(sink.messages().empty());

    ScanHeader h = lineHeader();
    h.processing.setRefractiveIndex(1.333);
    h.environment.setJob("pier 4");
    h.calibration.setXOffsetM(0.5f);
    h.panTilt.setTiltAngle(-20);
    h.attitude.setRollAngle(3);
    RawFileWriter w;
    ASSERT_TRUE(w.open(dir / "h.raw", h));
    ASSERT_TRUE(w.finish(std::nullopt));
    ASSERT_TRUE(f.open(dir / "h.raw"));
    f.close();
    f.copyHeader(sc, dg, pr, env, cal, pt, at); // still held after close
    EXPECT_EQ(sc, h.scanner);
    EXPECT_EQ(dg, h.digitizer);
    EXPECT_EQ(pr, h.processing);
    EXPECT_EQ(env, h.environment);
    EXPECT_EQ(cal, h.calibration);
    EXPECT_EQ(pt, h.panTilt);
    EXPECT_EQ(at, h.attitude);
    EXPECT_EQ(f.headerImage(), h.image());
    EXPECT_EQ(f.recordCount(), 0u);
    EXPECT_EQ(f.fileSize(), 0u);
}

TEST_F(PlaybackFileTest, TrailerRules) {
    const float tcfg = 17.25f; // the fixtures' configured temperature
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* what;
        std::optional<std::pair<float, float>> trailer;
        float first, second;
    } cases[] = {
        {"valid", std::pair{12.5f, 13.0f}, 12.5f, 13.0f},
        {"bounds are valid", std::pair{0.0f, 55.0f}, 0.0f, 55.0f},
        {"second above 55", std::pair{12.5f, 55.5f}, tcfg, tcfg},
        {"first below 0", std::pair{-0.5f, 10.0f}, tcfg, tcfg},
        {"not a number", std::pair{nan, 10.0f}, tcfg, tcfg},
        {"no trailer", std::nullopt, tcfg, tcfg},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(f.open(writeLineFile(dir / "t.raw", 2, c.trailer)));
        EXPECT_EQ(f.recordCount(), 2u); // the trailer is never a record
        TrailerTemperatures t;
        ASSERT_TRUE(f.readTrailer(t));
        EXPECT_EQ(t.first, c.first);
        EXPECT_EQ(t.second, c.second);
        if (c.trailer) {
            EXPECT_EQ(t.marker, 0x0F0F);
        }
    }
    // Valid temperatures without the marker: configured temperature twice.
    Bytes b = readBytes(writeLineFile(dir / "m.raw", 1, std::pair{12.5f, 13.0f}));
    b[b.size() - 1] = 0x0E;
    writeBytes(dir / "m.raw", b);
    ASSERT_TRUE(f.open(dir / "m.raw"));
    TrailerTemperatures t;
    ASSERT_TRUE(f.readTrailer(t));
    EXPECT_EQ(t.first, tcfg);
    EXPECT_EQ(t.second, tcfg);
    EXPECT_EQ(t.marker, 0x0E0F);
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(PlaybackFileTest, RefusedFilesLeaveTheReaderClosed) {
    const Bytes good = readBytes(writeLineFile(dir / "good.raw", 1));
    auto withHeader = [&](const ScanHeader& h) {
        const auto enc = h.encode();
        return Bytes(enc.begin(), enc.end());
    };
    ScanHeader v2 = lineHeader();
    v2.version = 2;
    Bytes v2file = withHeader(v2);
    v2file.insert(v2file.end(), good.begin() + 542, good.end());
    std::filesystem::create_directory(dir / "folder.raw");

    const std::string tooShort = "ERROR: Loading file - file too short for a scan header: ";
    const std::string version = "ERROR: Loading file - convert to version 3.0 before use";
    struct Case {
        const char* what;
        std::optional<Bytes> contents; // nullopt: use the name as it is
        std::string name;
        std::string message;
    } cases[] = {
        {"missing", std::nullopt, "missing.raw", "ERROR opening playback file: "},
        {"directory", std::nullopt, "folder.raw", "ERROR opening playback file: "},
        {"empty", Bytes{}, "empty.raw", tooShort},
        {"one byte", Bytes{3}, "one.raw", tooShort},
        {"cut inside the header", Bytes(good.begin(), good.begin() + 541), "cut.raw", tooShort},
        {"version 2", v2file, "v2.raw", version},
        {"version 2, short", Bytes{2, 0, 1, 0}, "v2s.raw", version},
        {"W and N 65535", withHeader(makeHeader(3, 65535, 10, 65535)), "big.raw",
         "ERROR: Loading file - scan size beyond reader capacity (W 65535, P 10, N 65535)"},
        {"P 3001", withHeader(makeHeader(3, 10, 3001, 10)), "p.raw",
         "ERROR: Loading file - scan size beyond reader capacity (W 10, P 3001, N 10)"},
        {"bowtie 4W 3004", withHeader(makeHeader(4, 751, 1, 10)), "bow.raw",
         "ERROR: Loading file - scan size beyond reader capacity (W 751, P 1, N 10)"},
        {"no samples", withHeader(makeHeader(3, 10, 10, 0)), "n0.raw",
         "ERROR: Loading file - scan size beyond reader capacity (W 10, P 10, N 0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto path = dir / c.name;
        if (c.contents) writeBytes(path, *c.contents);
        ASSERT_TRUE(f.open(dir / "good.raw")); // a refused open also closes the previous file
        sink.clear();
        EXPECT_FALSE(f.open(path));
        EXPECT_FALSE(f.isOpen());
        ASSERT_EQ(sink.messages().size(), 1u);
        const std::string expected =
            c.message.back() == ' ' ? c.message + path.string() : c.message;
        EXPECT_EQ(sink.last(), expected);
        // The header image of the previous file is what the reader still holds.
        EXPECT_EQ(ScanGeometry::of(f.headerImage()).shotsPerLine, 5);

        std::vector<float> az(5);
        float el = 0;
        EXPECT_FALSE(f.readLineAngles(0, az, el));
        EXPECT_EQ(sink.last(), kNoFile);
    }
}

TEST_F(PlaybackFileTest, EveryReadNeedsAnOpenFile) {
    std::vector<std::int16_t> s(64);
    std::vector<double> d(64);
    std::vector<std::uint32_t> w(64);
    std::vector<float> a(64), e(64);
    std::array<std::uint8_t, 14> r{};
    double hp;
    std::uint32_t word;
    float x, y;
    TrailerTemperatures t;
    const bool results[] = {
        f.readPulse(0, 0, s, hp, word, x),
        f.readBowtiePulse(0, 0, s, hp, word),
        f.readLineRecord(0, s, d, w, x),
        f.readBowtieRecord(0, s, d, w, r),
        f.readLineAngles(0, a, x),
        f.readBowtieAngles(0, a, e),
        f.readStarePosition(0, 0, x, y, d, w, s),
        f.readPeakLine(0, x, a, d, d, d, d),
        f.readPeakStare(0, 0, x, y, d, d, d, d),
        f.readTrailer(t),
    };
    for (bool ok : results) EXPECT_FALSE(ok);
    const auto messages = sink.messages();
    ASSERT_EQ(messages.size(), std::size(results));
    for (const auto& m : messages) EXPECT_EQ(m, kNoFile);
    EXPECT_EQ(f.layoutOf(), RecordLayout::None);
}

TEST_F(PlaybackFileTest, ASecondOpenReplacesOrClosesTheFirst) {
    ASSERT_TRUE(f.open(writeLineFile(dir / "a.raw", 2)));
    ASSERT_TRUE(f.open(writeBowtieFile(dir / "b.raw", 1)));
    EXPECT_EQ(f.geometry().scanType, 4);
    EXPECT_EQ(f.recordCount(), 1u);
    EXPECT_EQ(f.azimuth().size(), 8u); // scratch arrays follow the new header
    EXPECT_FALSE(f.open(dir / "nothing.raw"));
    // Reopening works after a failure.
    ASSERT_TRUE(f.open(dir / "a.raw"));
    EXPECT_EQ(f.recordCount(), 2u);
}

TEST_F(PlaybackFileTest, ShortReadsKeepTheRestOfTheBuffers) {
    // Two line records; cut the second in the middle of its 11th sample's second byte.
    const Bytes full = readBytes(writeLineFile(dir / "full.raw", 2));
    const std::size_t cut = 542 + 138 + 90 + 2 * 10 + 1;
    writeBytes(dir / "cut.raw", Bytes(full.begin(), full.begin() + cut));
    ASSERT_TRUE(f.open(dir / "cut.raw"));
    EXPECT_EQ(f.recordCount(), 1u); // complete records only

    auto s = filled(24, kSampleSentinel);
    auto hp = filled(4, kDoubleSentinel);
    auto wd = filled<std::uint32_t>(4, 9);
    float el = kFloatSentinel;
    ASSERT_TRUE(f.readLineRecord(1, s, hp, wd, el));
    EXPECT_EQ(el, 1.5f);
    EXPECT_EQ(hp, doubles(4, 1, 100.0));
    const auto expected = samplesFor(24, 1);
    for (std::size_t i = 0; i < 24; ++i)
        EXPECT_EQ(s[i], i < 10 ? expected[i] : kSampleSentinel) << i; // no half sample

    // Pulse 1 of the cut record: arrays read, its samples only partly there.
    auto one = filled(6, kSampleSentinel);
    double h1 = kDoubleSentinel;
    std::uint32_t w1 = 0;
    ASSERT_TRUE(f.readPulse(1, 1, one, h1, w1, el));
    EXPECT_EQ(h1, doubles(4, 1, 100.0)[1]);
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(one[i], i < 4 ? expected[6 + i] : kSampleSentinel) << i;

    // A record wholly beyond the end: true, nothing touched, scratch arrays included.
    auto az = filled(5, kFloatSentinel);
    el = kFloatSentinel;
    ASSERT_TRUE(f.readLineAngles(7, az, el));
    EXPECT_EQ(az, filled(5, kFloatSentinel));
    EXPECT_EQ(el, kFloatSentinel);
    const std::vector<float> before(f.azimuth().begin(), f.azimuth().end());
    ASSERT_TRUE(f.readPulse(0, 9, one, h1, w1, el));
    EXPECT_EQ(std::vector<float>(f.azimuth().begin(), f.azimuth().end()), before);
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(PlaybackFileTest, BowtieAnglesReportTheTruncatedLastRecord) {
    const Bytes full = readBytes(writeBowtieFile(dir / "full.raw", 2));
    struct Case {
        std::size_t keepOfRecord1; // bytes of record 1 left in the file
        bool complete;
    } cases[] = {{226, true}, {18 + 64, true}, {18 + 63, false}, {18 + 33, false}, {5, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keepOfRecord1);
        writeBytes(dir / "cut.raw",
                   Bytes(full.begin(), full.begin() + 542 + 226 + c.keepOfRecord1));
        ASSERT_TRUE(f.open(dir / "cut.raw"));
        std::vector<float> az(8), el(8);
        EXPECT_TRUE(f.readBowtieAngles(0, az, el));
        EXPECT_EQ(f.readBowtieAngles(1, az, el), c.complete);
        EXPECT_FALSE(f.readBowtieAngles(2, az, el));
    }
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(PlaybackFileTest, CallerErrorsReadNothing) {
    ASSERT_TRUE(f.open(writeLineFile(dir / "line.raw", 1)));
    std::vector<std::int16_t> s5(5, kSampleSentinel), s23(23), s24(24), s6(6);
    std::vector<double> d3(3), d4(4);
    std::vector<std::uint32_t> w3(3), w4(4);
    std::vector<float> a4(4);
    double hp = kDoubleSentinel;
    std::uint32_t word = 0;
    float el = kFloatSentinel;
    EXPECT_FALSE(f.readPulse(4, 0, s6, hp, word, el));  // pulse P
    EXPECT_FALSE(f.readPulse(0, 0, s5, hp, word, el));  // fewer than N samples
    EXPECT_FALSE(f.readLineRecord(0, s23, d4, w4, el)); // fewer than P N samples
    EXPECT_FALSE(f.readLineRecord(0, s24, d3, w4, el));
    EXPECT_FALSE(f.readLineRecord(0, s24, d4, w3, el));
    EXPECT_FALSE(f.readLineAngles(0, a4, el));
    EXPECT_FALSE(f.readBowtiePulse(20, 0, s6, hp, word)); // pulse 4 W
    EXPECT_EQ(hp, kDoubleSentinel);
    EXPECT_EQ(el, kFloatSentinel);
    EXPECT_EQ(s5, filled(5, kSampleSentinel));
    EXPECT_TRUE(sink.messages().empty());
}

// Every operation on every kind of file, with buffers of exactly the requested size: whatever
// the mismatch between operation and layout, reads stay inside the buffers (the sanitizer build
// checks the bounds) and report success.
TEST_F(PlaybackFileTest, AnyOperationOnAnyLayoutStaysInBounds) {
    const std::filesystem::path files[] = {
        writeLineFile(dir / "l.raw", 2),    writeBowtieFile(dir / "b.raw", 2),
        writeStareFile(dir / "s.raw"),      writePeakLineFile(dir / "pl.raw"),
        writePeakStareFile(dir / "ps.pek"),
    };
    for (const auto& path : files) {
        SCOPED_TRACE(path.filename().string());
        ASSERT_TRUE(f.open(path));
        const ScanGeometry g = f.geometry();
        const std::size_t w = g.shotsPerLine, p = g.pulsesPerRecord, n = g.samplesPerPulse;
        const std::size_t q = 4 * w;
        std::vector<std::int16_t> one(n), line(p * n), bow(q * n);
        std::vector<double> dp(p), dq(q), a(p), b(p), c(p), d(p);
        std::vector<std::uint32_t> wp(p), wq(q);
        std::vector<float> aw(w), aq(q), eq(q);
        std::array<std::uint8_t, 14> r{};
        double hp;
        std::uint32_t word;
        float x, y;
        TrailerTemperatures t;
        for (std::uint32_t k : {0u, 1u, 5u}) {
            EXPECT_TRUE(f.readPulse(std::uint32_t(p - 1), k, one, hp, word, x));
            EXPECT_TRUE(f.readBowtiePulse(std::uint32_t(q - 1), k, one, hp, word));
            EXPECT_TRUE(f.readLineRecord(k, line, dp, wp, x));
            EXPECT_TRUE(f.readBowtieRecord(k, bow, dq, wq, r));
            EXPECT_TRUE(f.readLineAngles(k, aw, x));
            f.readBowtieAngles(k, aq, eq);
            EXPECT_TRUE(f.readStarePosition(k, k + 1, x, y, dp, wp, line));
            EXPECT_TRUE(f.readPeakLine(k, x, aw, a, b, c, d));
            EXPECT_TRUE(f.readPeakStare(k + 1, k, x, y, a, b, c, d));
        }
        EXPECT_TRUE(f.readTrailer(t));
    }
    EXPECT_TRUE(sink.messages().empty());
}

// Records past 2 GiB and 4 GiB in a sparse file: only the written records take disk space.
TEST_F(PlaybackFileTest, RecordsBeyondFourGigabytes) {
    const Bytes source = readBytes(writeLineFile(dir / "src.raw", 2));
    const auto path = dir / "huge.raw";
    const std::uint32_t s = 138;
    const std::uint64_t past2 = (std::uint64_t(1) << 31) / s + 5; // record index
    const std::uint64_t past4 = (std::uint64_t(1) << 32) / s + 3;
    ASSERT_GT(recordOffset(s, past4), std::uint64_t(1) << 32);
    {
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, source.data(), 542, 0), 542);
        ASSERT_EQ(::ftruncate(fd, off_t(recordOffset(s, past4 + 1))), 0);
        // Record 0 of the source at past2, record 1 at past4.
        ASSERT_EQ(::pwrite(fd, source.data() + 542, s, off_t(recordOffset(s, past2))), s);
        ASSERT_EQ(::pwrite(fd, source.data() + 542 + s, s, off_t(recordOffset(s, past4))), s);
        ASSERT_EQ(::close(fd), 0);
    }
    ASSERT_TRUE(f.open(path));
    EXPECT_EQ(f.recordCount(), past4 + 1);
    struct Case {
        std::uint64_t index;
        int record;
    } cases[] = {{past2, 0}, {past4, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        std::vector<std::int16_t> smp(24);
        std::vector<double> hp(4);
        std::vector<std::uint32_t> wd(4);
        float el = 0;
        ASSERT_TRUE(f.readLineRecord(std::uint32_t(c.index), smp, hp, wd, el));
        EXPECT_EQ(el, 0.5f + float(c.record));
        EXPECT_EQ(hp, doubles(4, c.record, 100.0));
        EXPECT_EQ(smp, samplesFor(24, c.record));
    }
    // The holes read as zeros, not as the records whose offsets a 32-bit sum would give.
    std::vector<float> az(5, kFloatSentinel);
    float el = kFloatSentinel;
    ASSERT_TRUE(f.readLineAngles(std::uint32_t(past4 - 1), az, el));
    EXPECT_EQ(el, 0.0f);
    EXPECT_EQ(az, filled(5, 0.0f));
}

} // namespace
} // namespace quarv
