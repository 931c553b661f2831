// The workers of a line read the samples of their own pulses straight from the file; what they
// get must be exactly the slice of the whole-record read, also when the record is cut short.
#include "core/app/message_sink.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "scanfile_fixtures.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

namespace quarv {
namespace {

using namespace quarv::test;

constexpr std::int16_t kUntouched = 12345;

TEST(LineSamples, SharesAreSlicesOfTheWholeRecordAndStopAtTheEndOfTheFile) {
    // T 3, W 5, P 4, N 6: 24 samples per record, record size 138.
    TempDir dir;
    const auto path = dir / "lines.raw";
    RawFileWriter w;
    ASSERT_TRUE(w.open(path, makeHeader(3, 5, 4, 6)));
    for (int k = 0; k < 3; ++k)
        ASSERT_TRUE(w.writeLineRecord(0.5f, floats(5, k, 1.0f), doubles(4, k, 100.0),
                                      wordsFor(4, k), samplesFor(24, k)));
    ASSERT_TRUE(w.finish(std::nullopt));

    RecordingSink sink;
    PlaybackFile reader(sink);
    ASSERT_TRUE(reader.open(path));
    for (std::uint32_t record = 0; record < 3; ++record) {
        const auto whole = samplesFor(24, static_cast<int>(record));
        for (const auto& [first, end] :
             {std::pair{0u, 4u}, {0u, 2u}, {2u, 4u}, {1u, 3u}, {3u, 3u}}) {
            SCOPED_TRACE(testing::Message() << record << ": " << first << ".." << end);
            std::vector<std::int16_t> out((end - first) * 6 + 1, kUntouched);
            ASSERT_TRUE(reader.readLineSamples(record, first, end, out));
            for (std::size_t i = 0; i + 1 < out.size(); ++i)
                EXPECT_EQ(out[i], whole[first * 6 + i]);
            EXPECT_EQ(out.back(), kUntouched);
        }
    }

    // Outside the record, a span too short, no file: false, nothing read.
    std::vector<std::int16_t> out(30, kUntouched);
    EXPECT_FALSE(reader.readLineSamples(0, 3, 5, out));
    EXPECT_FALSE(reader.readLineSamples(0, 3, 2, out));
    EXPECT_FALSE(reader.readLineSamples(0, 0, 4, std::span(out).first(23)));
    EXPECT_EQ(out[0], kUntouched);

    // The last record loses its last 5 bytes: pulse 3 keeps its first 3 samples, and the sample
    // cut in half is not stored.
    reader.close();
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 5);
    ASSERT_TRUE(reader.open(path));
    const auto last = samplesFor(24, 2);
    std::fill(out.begin(), out.end(), kUntouched);
    ASSERT_TRUE(reader.readLineSamples(2, 2, 4, out));
    for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(out[i], last[12 + i]) << i;
    for (std::size_t i = 9; i < 12; ++i) EXPECT_EQ(out[i], kUntouched) << i;
    reader.close();
    EXPECT_FALSE(reader.readLineSamples(0, 0, 1, out));
}

} // namespace
} // namespace quarv
