#include "core/viewer/target_search.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace quarv {
namespace {

// A flat patch of sea floor at z = -3 m: points every 2 cm with a dull, slightly varying
// amplitude, and bright discs (reflective targets) painted on it.
struct Floor {
    std::vector<CloudPoint> points;
    std::vector<const CloudPoint*> list;

    struct Disc {
        float x, y, radius, amplitude;
    };

    Floor(float size, std::vector<Disc> discs, float slope = 0) {
        const int n = static_cast<int>(size / 0.02f);
        points.reserve(static_cast<std::size_t>(n) * n);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                CloudPoint p;
                p.x = i * 0.02f;
                p.y = j * 0.02f;
                p.z = -3.0f + slope * p.x;
                p.amplitude = 100.0f + static_cast<float>((i * 7 + j * 13) % 20); // 100..119
                for (const Disc& d : discs) {
                    if (std::hypot(p.x - d.x, p.y - d.y) <= d.radius) p.amplitude = d.amplitude;
                }
                p.valid = 1;
                points.push_back(p);
            }
        }
        for (const auto& p : points) list.push_back(&p);
    }

    const CloudPoint& nearest(float x, float y) const {
        const CloudPoint* best = &points.front();
        for (const auto& p : points) {
            if (std::hypot(p.x - x, p.y - y) < std::hypot(best->x - x, best->y - y)) best = &p;
        }
        return *best;
    }

    TargetResult search(float x, float y, const TargetSearchParams& params = {}) const {
        return findTarget(list.data(), static_cast<std::uint32_t>(list.size()), nearest(x, y),
                          params);
    }
};

TEST(TargetSearch, FindsTheCentreOfABrightDiscFromAPickNearby) {
    const Floor floor(2.0f, {{1.0f, 1.0f, 0.08f, 400.0f}});
    struct Pick {
        float x, y;
    };
    // On the disc, on its rim, and on the dull floor a little way off.
    for (const Pick pick :
         {Pick{1.0f, 1.0f}, Pick{1.07f, 1.0f}, Pick{0.75f, 1.2f}, Pick{1.3f, 0.7f}}) {
        SCOPED_TRACE(testing::Message() << "pick " << pick.x << ", " << pick.y);
        const TargetResult t = floor.search(pick.x, pick.y);
        ASSERT_TRUE(t.found);
        EXPECT_NEAR(t.x, 1.0f, 0.005f);
        EXPECT_NEAR(t.y, 1.0f, 0.005f);
        EXPECT_NEAR(t.z, -3.0f, 1e-4f);
        EXPECT_GE(t.points, 40u); // a 16 cm disc on a 2 cm grid
        EXPECT_GT(t.threshold, 119.0f);
        EXPECT_LT(t.threshold, 400.0f);
    }
}

TEST(TargetSearch, OfTwoTargetsInReachFindsTheOneClickedAt) {
    // 22 cm apart, both within the searched half metre; the dimmer one is clicked at.
    const Floor floor(1.0f, {{0.4f, 0.5f, 0.03f, 600.0f}, {0.6f, 0.4f, 0.03f, 900.0f}});
    const TargetResult a = floor.search(0.38f, 0.52f);
    const TargetResult b = floor.search(0.63f, 0.38f);
    ASSERT_TRUE(a.found);
    ASSERT_TRUE(b.found);
    EXPECT_NEAR(a.x, 0.4f, 0.002f);
    EXPECT_NEAR(a.y, 0.5f, 0.002f);
    EXPECT_NEAR(b.x, 0.6f, 0.002f);
    EXPECT_NEAR(b.y, 0.4f, 0.002f);
}

TEST(TargetSearch, PicksTheTargetNearestInReachAndKeepsTiltedFloors) {
    // Two targets 1.2 m apart: each pick finds its own; the floor is tilted by 20 cm per metre.
    const Floor floor(2.6f, {{0.6f, 1.0f, 0.06f, 300.0f}, {1.8f, 1.0f, 0.06f, 900.0f}}, 0.2f);
    const TargetResult a = floor.search(0.65f, 1.05f);
    const TargetResult b = floor.search(1.75f, 0.95f);
    ASSERT_TRUE(a.found);
    ASSERT_TRUE(b.found);
    EXPECT_NEAR(a.x, 0.6f, 0.005f);
    EXPECT_NEAR(b.x, 1.8f, 0.005f);
    EXPECT_NEAR(a.z, -3.0f + 0.2f * 0.6f, 0.002f);
}

TEST(TargetSearch, RefusesWhatIsNoTarget) {
    struct Case {
        const char* what;
        std::vector<Floor::Disc> discs;
        float pickX, pickY;
    };
    const Case cases[] = {
        {"plain floor", {}, 1.0f, 1.0f},
        {"target out of reach", {{0.2f, 0.2f, 0.08f, 400.0f}}, 1.5f, 1.5f},
        {"too faint", {{1.0f, 1.0f, 0.08f, 200.0f}}, 1.0f, 1.0f},
        {"bright patch wider than a target", {{1.0f, 1.0f, 0.45f, 400.0f}}, 1.0f, 1.0f},
        {"a single bright return", {{1.0f, 1.0f, 0.001f, 900.0f}}, 1.0f, 1.0f},
        {"a bright edge running on",
         {{1.0f, 0.2f, 0.03f, 500.0f},
          {1.0f, 0.25f, 0.03f, 500.0f},
          {1.0f, 0.3f, 0.03f, 500.0f},
          {1.0f, 0.35f, 0.03f, 500.0f},
          {1.0f, 0.4f, 0.03f, 500.0f},
          {1.0f, 0.45f, 0.03f, 500.0f},
          {1.0f, 0.5f, 0.03f, 500.0f},
          {1.0f, 0.55f, 0.03f, 500.0f},
          {1.0f, 0.6f, 0.03f, 500.0f},
          {1.0f, 0.65f, 0.03f, 500.0f}},
         1.05f,
         0.4f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Floor floor(2.0f, c.discs);
        EXPECT_FALSE(floor.search(c.pickX, c.pickY).found);
    }
}

TEST(TargetSearch, EmptyOrSparseListsFindNothing) {
    CloudPoint seed;
    EXPECT_FALSE(findTarget(nullptr, 0, seed).found);
    CloudPoint a, b, c;
    a.amplitude = 1000;
    b.amplitude = c.amplitude = 1;
    const CloudPoint* list[] = {&a, &b, &c};
    EXPECT_FALSE(findTarget(list, 2, seed).found); // fewer than minPoints in reach
    EXPECT_FALSE(findTarget(list, 3, seed).found); // a cluster of one bright point
    TargetSearchParams loose;
    loose.minPoints = 1;
    const TargetResult t = findTarget(list, 3, seed, loose);
    EXPECT_TRUE(t.found); // with one point allowed, the bright one is a target
    EXPECT_EQ(t.points, 1u);
}

} // namespace
} // namespace quarv
