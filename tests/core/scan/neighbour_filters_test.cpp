#include "core/scan/neighbour_filters.hpp"

#include "core/scan/pipeline_fixtures.hpp"
#include "support/golden.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

namespace quarv {
namespace {

// A serpentine raster: `lines` lines of `shots` points, 1 cm apart along the line and `lineGap`
// between lines; even lines sweep the azimuth upwards, odd lines back down, so the first points
// of two successive lines span the azimuth of the line between them. Sequence numbers equal slot
// indices, as after a playback run.
struct Grid {
    std::unique_ptr<CloudStore> store = std::make_unique<CloudStore>();
    test::RecordingNotifier notifier;
    NeighbourFilters filters{*store, notifier};
    static constexpr std::uint32_t layer = 2;

    Grid(std::uint32_t lines, std::uint32_t shots, double distance = 0.015, float lineGap = 0.01f) {
        store->setCurrentLayer(layer);
        store->layer(layer).filterDistance = distance;
        for (std::uint32_t l = 0; l < lines; ++l)
            for (std::uint32_t s = 0; s < shots; ++s) {
                const float a = static_cast<float>(l % 2 == 0 ? s : shots - 1 - s);
                CloudPoint& p = store->nextSlot(layer);
                p = CloudPoint{};
                p.x = 0.01f * a, p.y = 5.0f, p.z = lineGap * static_cast<float>(l), p.azimuth = a;
                p.line = static_cast<std::uint16_t>(l), p.valid = 1, p.sequence = l * shots + s;
                store->commit(layer);
            }
        filters.buildLineTable(layer, lines);
    }
    CloudPoint& at(std::uint32_t i) { return store->point(layer, i); }
    std::string hidden() {
        std::ostringstream out;
        for (std::uint32_t i = 0; i < store->pointCount(layer); ++i)
            if (!at(i).isValid()) out << " " << i;
        return out.str() + "\n";
    }
};

// Which points the passes hide on small serpentine grids (a clean one, two fish, a zero distance
// that hides every point the isolated pass examines, the count pass alone with lines a metre and a
// centimetre apart), the cross-line search's bracket for azimuths at, between and beyond a line's
// ends, and the distances to missing and hidden points.
TEST(NeighbourFilters, HiddenPointsBracketsAndDistances) {
    std::ostringstream t;
    for (const bool fish : {false, true}) {
        Grid g(8, 20);
        if (fish) g.at(70).y = 4.5f, g.at(108).z = 0.3f;
        g.filters.isolatedPointFilter(g.layer);
        g.filters.isolatedPointFilter(g.layer);
        g.filters.neighbourCountFilter(g.layer);
        t << (fish ? "two fish:" : "clean:") << g.hidden();
        EXPECT_EQ(g.notifier.values().front(), 1);
        EXPECT_EQ(g.notifier.values().back(), 0);
        EXPECT_GE(g.notifier.changes, 3);
    }
    Grid zero(4, 6, 0.0);
    zero.filters.isolatedPointFilter(zero.layer);
    t << "zero distance:" << zero.hidden();
    for (const float gap : {1.0f, 0.01f}) {
        Grid g(5, 9, 0.015, gap);
        g.at(22).y = 6.0f;
        g.filters.neighbourCountFilter(g.layer);
        t << "count pass, lines " << std::to_string(gap) << " m apart:" << g.hidden();
    }
    Grid g(4, 10); // line starts 0, 10, 20, 30; line 1 runs azimuth 9 .. 0
    for (const auto& [azimuth, line] : {std::pair{4.5f, 1u},
                                        {0.5f, 1u},
                                        {0.0f, 1u},
                                        {8.7f, 2u},
                                        {-0.5f, 1u},
                                        {9.5f, 1u},
                                        {4.5f, 3u}}) {
        std::int64_t hint = -1;
        const auto pair = g.filters.findCrossLineNeighbours(g.layer, azimuth, line, hint);
        t << "azimuth " << azimuth << " next to line " << line << ": " << pair.found() << " "
          << pair.first << " " << pair.second << " hint " << hint << "\n";
    }
    g.at(1).storeValid(0);
    t << "distances " << g.filters.neighbourDistance(g.layer, 0, 2) << " "
      << g.filters.neighbourDistance(g.layer, 0, 1) << " "
      << g.filters.neighbourDistance(g.layer, -1, 0) << " "
      << g.filters.neighbourDistance(g.layer, 0, 40) << "\n";
    test::expectGolden("scan_neighbour_filters.txt", t.str());
}

} // namespace
} // namespace quarv
