#include "core/app/layer_statistics.hpp"
#include "core/app/save_names.hpp"

#include "support/golden.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>

namespace quarv {
namespace {

// The read-out over layers of different sizes (which slots are looked at) and contents, and the
// default save names.
TEST(LayerStatistics, WindowsMeansMessagesAndSaveNamesTranscript) {
    using Fill = std::function<void(std::uint32_t, CloudPoint&)>;
    const Fill angles = [](std::uint32_t i, CloudPoint& p) {
        p.range = static_cast<float>(i), p.azimuth = 2.0f * i, p.elevation = -1.0f * i;
        p.peakPosition = 10.0f * i;
    };
    const Fill alternating = [](std::uint32_t i, CloudPoint& p) {
        p.range = static_cast<float>(i % 2);
    };
    const Fill skipFar = [](std::uint32_t i, CloudPoint& p) { // far points before 80,000
        p.range = i < 80'000 ? 1000.0f : (i % 2 ? 7.0f : 5.0f);
        p.valid = i % 3 != 0;
    };
    const Fill hidden = [](std::uint32_t, CloudPoint& p) { p.valid = 0; };
    const std::tuple<const char*, std::uint32_t, Fill> cases[] = {
        {"empty layer in use", 0, alternating}, {"ten points", 10, angles},
        {"one point", 1, alternating},          {"three points", 3, alternating},
        {"nothing valid", 6, hidden},           {"exactly 80,000", 80'000, alternating},
        {"80,001", 80'001, alternating},        {"200,000", 200'000, skipFar},
    };
    std::ostringstream out;
    out.precision(9);
    auto store = std::make_unique<CloudStore>();
    EXPECT_FALSE(layerStatistics(*store).has_value()); // not in use
    for (const auto& [what, n, fill] : cases) {
        store->setCurrentLayer(0);
        for (std::uint32_t i = 0; i < n; ++i) {
            CloudPoint& p = store->nextSlot(0);
            p = CloudPoint{};
            p.valid = 1;
            fill(i, p);
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
