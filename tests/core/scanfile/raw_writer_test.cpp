// The writer's refusals and its atomic replacement of the target; the bytes of every record kind
// are pinned by the playback round trip.
#include "core/config/bytes.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "scanfile_fixtures.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace quarv {
namespace {

using namespace quarv::test;

TEST(RawFileWriter, RefusesMalformedRecordsAndHeaders) {
    TempDir dir;
    RawFileWriter w;
    const auto path = dir / "x.raw";
    ASSERT_TRUE(w.open(path, makeHeader(0, 3, 2, 4)));
    const auto az = floats(3, 0, 0);
    const auto hp = doubles(2, 0, 0);
    const auto wd = wordsFor(2, 0);
    const auto sm = samplesFor(8, 0);
    EXPECT_FALSE(w.writeLineRecord(0, floats(2, 0, 0), hp, wd, sm));
    EXPECT_FALSE(w.writeLineRecord(0, az, doubles(3, 0, 0), wd, sm));
    EXPECT_FALSE(w.writeLineRecord(0, az, hp, wordsFor(1, 0), sm));
    EXPECT_FALSE(w.writeLineRecord(0, az, hp, wd, samplesFor(7, 0)));
    // Calls of another record kind on a line file.
    EXPECT_FALSE(w.writeStareRecord(0, 0, hp, wd, sm));
    EXPECT_FALSE(w.writePeakLineRecord(0, az, hp, hp, hp, hp));
    EXPECT_FALSE(w.writeBowtieRecord(floats(12, 0, 0), floats(12, 0, 0), doubles(12, 0, 0),
                                     wordsFor(12, 0), samplesFor(48, 0)));
    EXPECT_EQ(w.recordsWritten(), 0u);
    ASSERT_TRUE(w.writeLineRecord(0, az, hp, wd, sm));
    EXPECT_FALSE(std::filesystem::exists(path)); // only the temporary exists until finish
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
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1); // the temporary file is gone
}

} // namespace
} // namespace quarv
