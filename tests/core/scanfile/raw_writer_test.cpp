#include "core/config/bytes.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "scanfile_fixtures.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace quarv {
namespace {

using namespace quarv::test;

TEST(RawFileWriter, LineRecordsLandAtTheirOffsets) {
    TempDir dir;
    const auto path = dir / "line.raw";
    const ScanHeader h = makeHeader(3, 5, 4, 6);
    RawFileWriter w;
    ASSERT_TRUE(w.open(path, h));
    EXPECT_EQ(w.recordKind(), RecordKind::Line);
    const std::uint32_t s = 22 + 4 * 5 + 4 * (12 + 2 * 6);
    EXPECT_EQ(w.recordSize(), s);
    for (int k = 0; k < 3; ++k)
        ASSERT_TRUE(w.writeLineRecord(float(k) - 0.5f, floats(5, k, 1.0f), doubles(4, k, 2.0),
                                      wordsFor(4, k), samplesFor(24, k)));
    EXPECT_EQ(w.recordsWritten(), 3u);
    EXPECT_FALSE(std::filesystem::exists(path)); // only the temporary exists until finish
    ASSERT_TRUE(w.finish(std::nullopt));
    EXPECT_FALSE(w.isOpen());

    const auto b = readBytes(path);
    ASSERT_EQ(b.size(), 542u + 3u * s);
    EXPECT_EQ(le::u16(&b[0]), 3);
    EXPECT_EQ(le::u16(&b[2]), kFileKindWaveform);
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const std::uint8_t* r = &b[542 + std::size_t(k) * s];
        EXPECT_EQ(le::u16(r), 0x1CEC);
        for (int i = 2; i < 18; ++i) EXPECT_EQ(r[i], 0) << i;
        EXPECT_EQ(le::f32(r + 18), float(k) - 0.5f);
        EXPECT_EQ(le::f32(r + 22 + 4 * 4), floats(5, k, 1.0f)[4]);
        EXPECT_EQ(le::f64(r + 42 + 8 * 3), doubles(4, k, 2.0)[3]);
        EXPECT_EQ(le::u32(r + 74), wordsFor(4, k)[0]);
        EXPECT_EQ(le::i16(r + 90 + 2 * 23), samplesFor(24, k)[23]);
    }
}

TEST(RawFileWriter, OtherLayoutsAndTrailer) {
    TempDir dir;
    {
        RawFileWriter w;
        ASSERT_TRUE(w.open(dir / "bow.raw", makeHeader(4, 2, 1, 3)));
        EXPECT_EQ(w.recordKind(), RecordKind::Bowtie);
        ASSERT_TRUE(w.writeBowtieRecord(floats(8, 0, 1), floats(8, 0, -1), doubles(8, 0, 5),
                                        wordsFor(8, 0), samplesFor(24, 0)));
        ASSERT_TRUE(w.finish(std::make_pair(12.5f, 13.0f)));
        const auto b = readBytes(dir / "bow.raw");
        ASSERT_EQ(b.size(), 542u + (18 + 160 + 48) + 10);
        EXPECT_EQ(le::f32(&b[542 + 18 + 32]), floats(8, 0, -1)[0]);
        EXPECT_EQ(le::f32(&b[b.size() - 10]), 12.5f);
        EXPECT_EQ(le::f32(&b[b.size() - 6]), 13.0f);
        EXPECT_EQ(le::u16(&b[b.size() - 2]), 0x0F0F);
    }
    {
        RawFileWriter w;
        ASSERT_TRUE(w.open(dir / "stare.raw", makeHeader(1, 4, 2, 3)));
        ASSERT_TRUE(
            w.writeStareRecord(1.5f, -2.5f, doubles(2, 0, 1), wordsFor(2, 0), samplesFor(6, 0)));
        ASSERT_TRUE(w.finish(std::make_pair(1.0f, 55.5f))); // written as given
        const auto b = readBytes(dir / "stare.raw");
        ASSERT_EQ(b.size(), 542u + (26 + 2 * 18) + 10);
        EXPECT_EQ(le::f32(&b[542 + 22]), -2.5f);
        EXPECT_EQ(le::f32(&b[b.size() - 6]), 55.5f);
    }
    {
        RawFileWriter w; // peak by file kind, whatever the name
        ScanHeader h = makeHeader(3, 3, 2, 1);
        h.fileKind = kFileKindPeak;
        ASSERT_TRUE(w.open(dir / "peaks.raw", h));
        EXPECT_EQ(w.recordKind(), RecordKind::PeakLine);
        ASSERT_TRUE(w.writePeakLineRecord(0.25f, floats(3, 0, 1), doubles(2, 0, 1),
                                          doubles(2, 0, 2), doubles(2, 0, 3), doubles(2, 0, 4)));
        ASSERT_TRUE(w.finish(std::nullopt));
        const auto b = readBytes(dir / "peaks.raw");
        ASSERT_EQ(b.size(), 542u + 22 + 12 + 64);
        EXPECT_EQ(le::f64(&b[542 + 34 + 16 * 3 + 8]), doubles(2, 0, 4)[1]);
    }
    {
        RawFileWriter w; // peak by extension; the kind written says so
        ScanHeader h = makeHeader(1, 3, 2, 1);
        h.fileKind = 0;
        ASSERT_TRUE(w.open(dir / "stare.PEK", h));
        EXPECT_EQ(w.recordKind(), RecordKind::PeakStare);
        ASSERT_TRUE(w.writePeakStareRecord(0.5f, 0.75f, doubles(2, 0, 1), doubles(2, 0, 2),
                                           doubles(2, 0, 3), doubles(2, 0, 4)));
        ASSERT_TRUE(w.finish(std::nullopt));
        const auto b = readBytes(dir / "stare.PEK");
        ASSERT_EQ(b.size(), 542u + 26 + 64);
        EXPECT_EQ(le::u16(&b[2]), kFileKindPeak);
        EXPECT_EQ(le::f64(&b[542 + 26]), doubles(2, 0, 1)[0]);
    }
}

TEST(RawFileWriter, RefusesMalformedRecordsAndHeaders) {
    TempDir dir;
    RawFileWriter w;
    const auto path = dir / "x.raw";
    ASSERT_TRUE(w.open(path, makeHeader(0, 3, 2, 4)));
    const auto az = floats(3, 0, 0);
    const auto hp = doubles(2, 0, 0);
    const auto wd = wordsFor(2, 0);
    const auto sm = samplesFor(8, 0);
    const auto shortAz = floats(2, 0, 0);
    const auto longHp = doubles(3, 0, 0);
    const auto shortSm = samplesFor(7, 0);
    EXPECT_FALSE(w.writeLineRecord(0, shortAz, hp, wd, sm));
    EXPECT_FALSE(w.writeLineRecord(0, az, longHp, wd, sm));
    EXPECT_FALSE(w.writeLineRecord(0, az, hp, wordsFor(1, 0), sm));
    EXPECT_FALSE(w.writeLineRecord(0, az, hp, wd, shortSm));
    // Calls of another record kind on a line file.
    EXPECT_FALSE(w.writeStareRecord(0, 0, hp, wd, sm));
    EXPECT_FALSE(w.writePeakLineRecord(0, az, hp, hp, hp, hp));
    EXPECT_FALSE(w.writeBowtieRecord(floats(12, 0, 0), floats(12, 0, 0), doubles(12, 0, 0),
                                     wordsFor(12, 0), samplesFor(48, 0)));
    EXPECT_EQ(w.recordsWritten(), 0u);
    ASSERT_TRUE(w.writeLineRecord(0, az, hp, wd, sm));
    ASSERT_TRUE(w.finish(std::nullopt));
    EXPECT_EQ(readBytes(path).size(), 542u + 22 + 12 + 2 * 20);
    EXPECT_FALSE(w.finish(std::nullopt));
    EXPECT_FALSE(w.writeLineRecord(0, az, hp, wd, sm)); // closed

    // Headers that no reader could read are not written at all.
    for (const ScanHeader& h : {makeHeader(0, 3001, 1, 1), makeHeader(4, 751, 1, 1),
                                makeHeader(0, 1, 3001, 1), makeHeader(0, 1, 1, 0)}) {
        RawFileWriter r;
        EXPECT_FALSE(r.open(dir / "refused.raw", h));
        EXPECT_FALSE(r.isOpen());
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "refused.raw"));
    EXPECT_FALSE(RawFileWriter().open(dir / "missing-dir" / "a.raw", makeHeader(0, 1, 1, 1)));
}

TEST(RawFileWriter, AnUnfinishedWriterLeavesTheOldFileAlone) {
    TempDir dir;
    const auto path = dir / "keep.raw";
    writeBytes(path, {1, 2, 3});
    {
        RawFileWriter w;
        ASSERT_TRUE(w.open(path, makeHeader(0, 1, 1, 1)));
        ASSERT_TRUE(w.writeLineRecord(0, floats(1, 0, 0), doubles(1, 0, 0), wordsFor(1, 0),
                                      samplesFor(1, 0)));
    }
    EXPECT_EQ(readBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++entries;
    EXPECT_EQ(entries, 1u); // the temporary file is gone
}

} // namespace
} // namespace quarv
