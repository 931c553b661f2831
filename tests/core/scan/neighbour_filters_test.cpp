#include "core/scan/neighbour_filters.hpp"

#include "core/app/notifier.hpp"
#include "support/golden.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

namespace quarv {
namespace {

class CountingNotifier final : public Notifier {
public:
    void cloudChanged() override { ++changes; }
    void progress(int n) override { values.push_back(n); }
    int changes = 0;
    std::vector<int> values;
};

// A serpentine raster: `lines` lines of `shots` points, 1 cm apart along the line and `lineGap`
// between lines; even lines sweep the azimuth upwards, odd lines back down, so the first points
// of two successive lines span the azimuth of the line between them. Sequence numbers equal slot
// indices, as after a playback run.
struct Grid {
    std::unique_ptr<CloudStore> store = std::make_unique<CloudStore>();
    CountingNotifier notifier;
    NeighbourFilters filters{*store, notifier};
    std::uint32_t layer = 2;
    std::uint32_t sequence = 0;

    Grid(std::uint32_t lines, std::uint32_t shots, double distance = 0.015, float lineGap = 0.01f) {
        store->setCurrentLayer(layer);
        store->layer(layer).filterDistance = distance;
        for (std::uint32_t l = 0; l < lines; ++l)
            for (std::uint32_t s = 0; s < shots; ++s) {
                const std::uint32_t a = l % 2 == 0 ? s : shots - 1 - s;
                add(l, 0.01f * static_cast<float>(a), lineGap * static_cast<float>(l),
                    static_cast<float>(a));
            }
    }
    void add(std::uint32_t line, float x, float z, float azimuth) {
        CloudPoint& p = store->nextSlot(layer);
        p = CloudPoint{};
        p.x = x;
        p.y = 5.0f;
        p.z = z;
        p.azimuth = azimuth;
        p.line = static_cast<std::uint16_t>(line);
        p.valid = 1;
        p.sequence = sequence++;
        store->commit(layer);
    }
    CloudPoint& at(std::uint32_t i) { return store->point(layer, i); }
    std::vector<std::uint32_t> hidden() {
        std::vector<std::uint32_t> out;
        for (std::uint32_t i = 0; i < store->pointCount(layer); ++i)
            if (!at(i).isValid()) out.push_back(i);
        return out;
    }
    void runAll(std::uint32_t lines) {
        filters.buildLineTable(layer, lines);
        filters.isolatedPointFilter(layer);
        filters.isolatedPointFilter(layer);
        filters.neighbourCountFilter(layer);
    }
};

// Which points the passes hide on small serpentine grids (a clean one, two fish, a zero distance
// that hides every point the isolated pass examines, the count pass alone with lines a metre and a
// centimetre apart), the cross-line search's bracket for azimuths at, between and beyond a line's
// ends, and the distances to missing and hidden points.
TEST(NeighbourFilters, HiddenPointsBracketsAndDistances) {
    std::ostringstream t;
    const auto hidden = [&](const std::string& name, Grid& g) {
        t << name << ":";
        for (const std::uint32_t i : g.hidden()) t << " " << i;
        t << "\n";
    };
    for (const bool fish : {false, true}) {
        Grid g(8, 20);
        if (fish) g.at(70).y = 4.5f, g.at(108).z = 0.3f;
        g.runAll(8);
        hidden(fish ? "two fish" : "clean", g);
        EXPECT_EQ(g.notifier.values.front(), 1);
        EXPECT_EQ(g.notifier.values.back(), 0);
        EXPECT_GE(g.notifier.changes, 3);
    }
    Grid zero(4, 6, 0.0);
    zero.filters.buildLineTable(zero.layer, 4);
    zero.filters.isolatedPointFilter(zero.layer);
    hidden("zero distance", zero);
    for (const float gap : {1.0f, 0.01f}) {
        Grid g(5, 9, 0.015, gap);
        g.at(22).y = 6.0f;
        g.filters.buildLineTable(g.layer, 5);
        g.filters.neighbourCountFilter(g.layer);
        hidden("count pass, lines " + std::to_string(gap) + " m apart", g);
    }
    Grid g(4, 10); // line starts 0, 10, 20, 30; line 1 runs azimuth 9 .. 0
    g.filters.buildLineTable(g.layer, 4);
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
