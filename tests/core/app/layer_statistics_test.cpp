#include "core/app/layer_statistics.hpp"
#include "core/app/save_names.hpp"

#include "support/golden.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace quarv {
namespace {

// The read-out over layers of different sizes (which slots are looked at) and contents, and the
// default save names.
TEST(LayerStatistics, WindowsMeansMessagesAndSaveNamesTranscript) {
    // Points: ranges 0 and 1 alternating; 'a': angles and ranges rising; 'h': all hidden; 'f': far
    // points before 80,000, then 5 and 7 m, every third hidden.
    const std::tuple<const char*, std::uint32_t, char> cases[] = {
        {"empty layer in use", 0, ' '}, {"ten points", 10, 'a'},   {"one point", 1, ' '},
        {"three points", 3, ' '},       {"nothing valid", 6, 'h'}, {"exactly 80,000", 80'000, ' '},
        {"80,001", 80'001, ' '},        {"200,000", 200'000, 'f'},
    };
    std::ostringstream out;
    out.precision(9);
    auto store = std::make_unique<CloudStore>();
    EXPECT_FALSE(layerStatistics(*store).has_value()); // not in use
    for (const auto& [what, n, kind] : cases) {
        store->setCurrentLayer(0);
        for (std::uint32_t i = 0; i < n; ++i) {
            CloudPoint& p = store->nextSlot(0);
            p = CloudPoint{};
            p.valid = kind != 'h', p.range = float(kind == 'a' ? i : i % 2);
            if (kind == 'a')
                p.azimuth = 2.0f * i, p.elevation = -1.0f * i, p.peakPosition = 10.0f * i;
            if (kind == 'f')
                p.range = i < 80'000 ? 1000.0f : (i % 2 ? 7.0f : 5.0f), p.valid = i % 3 != 0;
            store->commit(0);
        }
        const auto s = layerStatistics(*store);
        ASSERT_TRUE(s.has_value());
        out << what << ": slots " << s->start << " .. " << s->end << " valid " << s->valid
            << " means " << s->azimuth << " " << s->elevation << " " << s->peakPosition << " "
            << s->range << " spread " << s->rangeStdDev << "\n  " << layerStatisticsMessage(*s)
            << "\n";
    }
    // The default save name replaces the last four characters (within the 128-character path
    // buffer of the dialogs).
    for (const auto& path : std::vector<std::string>{"C:\\data\\scan01.raw", "/data/noext", "ab",
                                                     std::string(200, 'a')})
        out << "save name: " << defaultSaveName(path, ".las") << "\n";
    test::expectGolden("app_layer_statistics.txt", out.str());
}

} // namespace
} // namespace quarv
