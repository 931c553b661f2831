// The writer and the reader against each other on every record kind (the written bytes pinned by
// a transcript), then what the reader does with files that are cut short, refused or misused.
#include "core/app/message_sink.hpp"
#include "core/config/bytes.hpp"
#include "core/scanfile/playback_file.hpp"
#include "scanfile_fixtures.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

namespace quarv {
namespace {

using namespace quarv::test;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* kNoFile = "ERROR, no file open for playback!";
constexpr float kFloatSentinel = -777.0f;
constexpr double kDoubleSentinel = -999.0;
constexpr std::int16_t kSampleSentinel = 12345;

template <typename T> std::vector<T> filled(std::size_t n, T v) {
    return std::vector<T>(n, v);
}
template <typename T> std::vector<T> vec(std::span<const T> s) {
    return {s.begin(), s.end()};
}

class PlaybackFileTest : public ::testing::Test {
protected:
    TempDir dir;
    RecordingSink sink;
    PlaybackFile f{sink};
};

// Every read of every record kind, in any order, as a transcript (the values are the builders':
// record k's floats start at base + 1000 k, doubles at base + 10000 k), beside the written bytes.
TEST_F(PlaybackFileTest, EveryRecordKindReadsBackWhatWasWritten) {
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
    // Anchors of the transcript against what was written.
    ASSERT_TRUE(f.open(writeFile(dir / "l.raw", Kind::Line, 2)));
    std::vector<std::int16_t> s(24);
    std::vector<double> hp(4);
    std::vector<std::uint32_t> wd(4);
    float el = 0;
    ASSERT_TRUE(f.readLineRecord(1, s, hp, wd, el));
    EXPECT_TRUE(s == samplesFor(24, 1) && hp == doubles(4, 1, 100.0) && wd == wordsFor(4, 1) &&
                el == 1.5f && vec(f.azimuth()) == floats(5, 1, 1.0f));
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(PlaybackFileTest, TrailerRules) {
    const float tcfg = 17.25f; // the fixtures' configured temperature
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        std::optional<std::pair<float, float>> trailer;
        float first, second;
    } cases[] = {{std::pair{12.5f, 13.0f}, 12.5f, 13.0f}, {std::pair{0.0f, 55.0f}, 0.0f, 55.0f},
                 {std::pair{12.5f, 55.5f}, tcfg, tcfg},   {std::pair{-0.5f, 10.0f}, tcfg, tcfg},
                 {std::pair{nan, 10.0f}, tcfg, tcfg},     {std::nullopt, tcfg, tcfg}};
    for (const auto& c : cases) {
        ASSERT_TRUE(f.open(writeFile(dir / "t.raw", Kind::Line, 2, c.trailer)));
        EXPECT_EQ(f.recordCount(), 2u); // the trailer is never a record
        TrailerTemperatures t;
        ASSERT_TRUE(f.readTrailer(t));
        EXPECT_TRUE(t.first == c.first && t.second == c.second) << t.first << " " << t.second;
    }
    // Valid temperatures without the marker: the configured temperature twice.
    Bytes b = readBytes(writeFile(dir / "m.raw", Kind::Line, 1, std::pair{12.5f, 13.0f}));
    b.back() = 0x0E;
    writeBytes(dir / "m.raw", b);
    ASSERT_TRUE(f.open(dir / "m.raw"));
    TrailerTemperatures t;
    ASSERT_TRUE(f.readTrailer(t));
    EXPECT_TRUE(t.first == tcfg && t.second == tcfg && t.marker == 0x0E0F);
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(PlaybackFileTest, RefusedFilesLeaveTheReaderClosedWithTheirMessage) {
    const Bytes good = readBytes(writeFile(dir / "good.raw", Kind::Line, 1));
    auto withHeader = [&](const ScanHeader& h) {
        const auto enc = h.encode();
        return Bytes(enc.begin(), enc.end());
    };
    ScanHeader v2 = headerOf(Kind::Line);
    v2.version = 2;
    Bytes v2file = withHeader(v2);
    v2file.insert(v2file.end(), good.begin() + 542, good.end());
    std::filesystem::create_directory(dir / "folder.raw");
    // Legacy file kind 0 with a ".raw" name is a waveform file.
    Bytes legacy = good;
    legacy[2] = 0;

    const std::string tooShort = "ERROR: Loading file - file too short for a scan header: ";
    const std::string version = "ERROR: Loading file - convert to version 3.0 before use";
    const std::string capacity = "ERROR: Loading file - scan size beyond reader capacity ";
    const struct {
        std::optional<Bytes> contents; // nullopt: use the name as it is
        std::string name, message;
    } cases[] = {
        {legacy, "legacy.raw", ""},
        {std::nullopt, "missing.raw", "ERROR opening playback file: "},
        {std::nullopt, "folder.raw", "ERROR opening playback file: "},
        {Bytes{}, "empty.raw", tooShort},
        {Bytes(good.begin(), good.begin() + 541), "cut.raw", tooShort},
        {v2file, "v2.raw", version},
        {Bytes{2, 0, 1, 0}, "v2s.raw", version},
        {withHeader(makeHeader(3, 65535, 10, 65535)), "big.raw",
         capacity + "(W 65535, P 10, N 65535)"},
        {withHeader(makeHeader(3, 10, 3001, 10)), "p.raw", capacity + "(W 10, P 3001, N 10)"},
        {withHeader(makeHeader(4, 751, 1, 10)), "bow.raw", capacity + "(W 751, P 1, N 10)"},
        {withHeader(makeHeader(3, 10, 10, 0)), "n0.raw", capacity + "(W 10, P 10, N 0)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir / c.name;
        if (c.contents) writeBytes(path, *c.contents);
        ASSERT_TRUE(f.open(writeFile(dir / "prev.raw", Kind::Bowtie, 1))); // a refusal closes it
        sink.clear();
        if (c.message.empty()) {
            ASSERT_TRUE(f.open(path));
            EXPECT_TRUE(f.layoutOf() == RecordLayout::Waveform && f.fileKind() == 0);
            EXPECT_EQ(f.azimuth().size(), 5u); // scratch arrays follow the new header
            continue;
        }
        EXPECT_FALSE(f.open(path));
        EXPECT_FALSE(f.isOpen());
        ASSERT_EQ(sink.messages().size(), 1u);
        EXPECT_EQ(sink.last(), c.message.back() == ' ' ? c.message + path.string() : c.message);
        // The header image of the previous file is what the reader still holds.
        EXPECT_EQ(ScanGeometry::of(f.headerImage()).scanType, 4);
    }
    // Closed now: every read says so.
    sink.clear();
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
    EXPECT_EQ(sink.messages(), std::vector<std::string>(std::size(results), kNoFile));
    EXPECT_FALSE(f.readLineSamples(0, 0, 1, s));
}

TEST_F(PlaybackFileTest, CutRecordsAreReadAsFarAsTheyGo) {
    // Two line records; the second cut in the middle of its 11th sample's second byte.
    const Bytes full = readBytes(writeFile(dir / "full.raw", Kind::Line, 2));
    writeBytes(dir / "cut.raw", Bytes(full.begin(), full.begin() + 542 + 138 + 90 + 2 * 10 + 1));
    ASSERT_TRUE(f.open(dir / "cut.raw"));
    EXPECT_EQ(f.recordCount(), 1u); // complete records only
    auto s = filled(24, kSampleSentinel);
    auto hp = filled(4, kDoubleSentinel);
    auto wd = filled<std::uint32_t>(4, 9);
    float el = kFloatSentinel;
    ASSERT_TRUE(f.readLineRecord(1, s, hp, wd, el));
    EXPECT_TRUE(el == 1.5f && hp == doubles(4, 1, 100.0));
    auto expected = samplesFor(24, 1);
    std::fill(expected.begin() + 10, expected.end(), kSampleSentinel); // no half sample
    EXPECT_EQ(s, expected);
    auto part = filled(13, kSampleSentinel);
    ASSERT_TRUE(f.readLineSamples(1, 1, 3, part));
    EXPECT_EQ(part, std::vector<std::int16_t>(expected.begin() + 6, expected.begin() + 19));
    // Caller errors read nothing: pulse P, a span too short, pulses beyond the record.
    double h1 = kDoubleSentinel;
    std::uint32_t w1 = 0;
    EXPECT_FALSE(f.readPulse(4, 0, s, h1, w1, el));
    EXPECT_FALSE(f.readLineRecord(0, std::span(s).first(23), hp, wd, el));
    EXPECT_FALSE(f.readLineSamples(0, 3, 5, s));
    EXPECT_FALSE(f.readBowtiePulse(20, 0, s, h1, w1)); // pulse 4 W
    EXPECT_EQ(h1, kDoubleSentinel);
    // A record wholly beyond the end: true, nothing touched, scratch arrays included.
    auto az = filled(5, kFloatSentinel);
    const auto before = vec(f.azimuth());
    ASSERT_TRUE(f.readLineAngles(7, az, el));
    ASSERT_TRUE(f.readPulse(0, 9, s, h1, w1, el));
    EXPECT_TRUE(az == filled(5, kFloatSentinel) && vec(f.azimuth()) == before);

    // Bowtie angles are the one read that reports a cut record.
    const Bytes bow = readBytes(writeFile(dir / "bow.raw", Kind::Bowtie, 2));
    for (auto [keep, complete] :
         {std::pair{226, true}, {18 + 64, true}, {18 + 63, false}, {5, false}}) {
        writeBytes(dir / "cut.raw", Bytes(bow.begin(), bow.begin() + 542 + 226 + keep));
        ASSERT_TRUE(f.open(dir / "cut.raw"));
        std::vector<float> a(8), e(8);
        EXPECT_TRUE(f.readBowtieAngles(0, a, e));
        EXPECT_EQ(f.readBowtieAngles(1, a, e), complete) << keep;
        EXPECT_FALSE(f.readBowtieAngles(2, a, e));
    }
    EXPECT_TRUE(sink.messages().empty());
}

} // namespace
} // namespace quarv
