#include "core/scan/neighbour_filters.hpp"

#include "core/app/notifier.hpp"

#include <gtest/gtest.h>

#include <memory>
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

TEST(NeighbourFilters, CrossLineSearchBracketsTheAzimuth) {
    Grid g(4, 10); // line starts 0, 10, 20, 30; line 1 runs azimuth 9 .. 0
    g.filters.buildLineTable(g.layer, 4);
    struct Case {
        float azimuth;
        std::uint32_t adjacent;
        bool found;
    };
    for (const Case c :
         {Case{4.5f, 1, true}, Case{0.5f, 1, true},
          // Equal to the next line's first azimuth: the start is one past the line.
          Case{0.0f, 1, false}, Case{8.7f, 2, true}, Case{-0.5f, 1, false}, Case{9.5f, 1, false},
          // Line 3 ends the table (its end entry is 0): the start lies outside.
          Case{4.5f, 3, false}}) {
        std::int64_t hint = -1;
        const auto pair = g.filters.findCrossLineNeighbours(g.layer, c.azimuth, c.adjacent, hint);
        ASSERT_EQ(pair.found(), c.found) << c.azimuth;
        if (!c.found) {
            EXPECT_EQ(hint, -1);
            continue;
        }
        const float a = g.at(static_cast<std::uint32_t>(pair.first)).azimuth;
        const float b = g.at(static_cast<std::uint32_t>(pair.second)).azimuth;
        EXPECT_TRUE((a <= c.azimuth && b >= c.azimuth) || (a >= c.azimuth && b <= c.azimuth));
        EXPECT_EQ(hint, pair.second);
    }
}

TEST(NeighbourFilters, DistanceRulesForMissingAndHiddenPoints) {
    Grid g(1, 3);
    g.filters.buildLineTable(g.layer, 1);
    EXPECT_NEAR(g.filters.neighbourDistance(g.layer, 0, 2), 0.02, 1e-8);
    EXPECT_EQ(g.filters.neighbourDistance(g.layer, 0, 3), 1e9); // past the count
    EXPECT_EQ(g.filters.neighbourDistance(g.layer, -1, 0), 1e9);
    g.at(1).storeValid(0);
    EXPECT_EQ(g.filters.neighbourDistance(g.layer, 0, 1), 1e9);
}

TEST(NeighbourFilters, CleanGridSurvivesAndOutliersAreRemoved) {
    Grid clean(8, 20);
    clean.runAll(8);
    EXPECT_TRUE(clean.hidden().empty());

    Grid g(8, 20);
    // A fish half a metre in front of the surface, in the middle of line 3 (slot 70), and a
    // second one in line 5 (slot 108).
    g.at(70).y = 4.5f;
    g.at(108).z = 0.3f;
    g.runAll(8);
    EXPECT_EQ(g.hidden(), (std::vector<std::uint32_t>{70, 108}));
    // Progress: 1, then (only when a pass outlasts two seconds) intermediate values, then 0.
    ASSERT_GE(g.notifier.values.size(), 2u);
    EXPECT_EQ(g.notifier.values.front(), 1);
    EXPECT_EQ(g.notifier.values.back(), 0);
    EXPECT_GE(g.notifier.changes, 3);
}

TEST(NeighbourFilters, ZeroDistanceClearsEveryPointTheIsolatedPassExamines) {
    Grid g(4, 6, 0.0);
    g.filters.buildLineTable(g.layer, 4);
    g.filters.isolatedPointFilter(g.layer);
    // Examined: the interior of lines 0..2 and the line ends of the table. Left alone: the
    // interior of the last line (the table's end entry stays 0), the last point of line 0 and
    // the first point of line 2 (= lines - 2), which no row of the table names.
    std::vector<std::uint32_t> kept;
    for (std::uint32_t i = 0; i < 24; ++i)
        if (g.at(i).isValid()) kept.push_back(i);
    EXPECT_EQ(kept, (std::vector<std::uint32_t>{5, 12, 19, 20, 21, 22}));
}

TEST(NeighbourFilters, CountPassNeedsTwoNearNeighboursAndClearsInPlace) {
    // Lines a metre apart: only the points next along the line can be near.
    Grid g(5, 9, 0.015, 1.0f);
    g.at(22).y = 6.0f; // line 2 spans slots 18..26; 20..24 are examined
    g.filters.buildLineTable(g.layer, 5);
    g.filters.neighbourCountFilter(g.layer);
    // 21 keeps only 20 and is cleared; 23 and 24 then lose the neighbour cleared just before.
    EXPECT_EQ(g.hidden(), (std::vector<std::uint32_t>{21, 22, 23, 24}));

    // With the lines 1 cm apart the cross-line pairs make up the count and only the far
    // point goes.
    Grid h(5, 9, 0.015, 0.01f);
    h.at(22).y = 6.0f;
    h.filters.buildLineTable(h.layer, 5);
    h.filters.neighbourCountFilter(h.layer);
    EXPECT_EQ(h.hidden(), (std::vector<std::uint32_t>{22}));
}

} // namespace
} // namespace quarv
