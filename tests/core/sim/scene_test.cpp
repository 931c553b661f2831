#include "core/sim/scene.hpp"

#include "core/sim/random.hpp"

#include <gtest/gtest.h>

namespace quarv::sim {
namespace {

struct IntersectCase {
    const char* name;
    Ray ray;
    double expectedT; // < 0: no hit
};

class SingleObjectTest : public ::testing::Test {
protected:
    void expectCases(const Scene& s, const std::vector<IntersectCase>& cases) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const auto h = s.trace(c.ray, 0.0);
            if (c.expectedT < 0) {
                EXPECT_FALSE(h.has_value());
                continue;
            }
            ASSERT_TRUE(h.has_value());
            EXPECT_NEAR(h->t, c.expectedT, 1e-9);
            EXPECT_NEAR(s.distanceTo(h->object, c.ray.at(h->t)), 0.0, 1e-9);
            EXPECT_LE(dot(h->normal, c.ray.dir), 0.0); // the normal faces the incoming beam
            EXPECT_NEAR(norm(h->normal), 1.0, 1e-12);
        }
    }
};

TEST_F(SingleObjectTest, Plane) {
    Scene s;
    s.addPlane({0, 0, -2}, {0, 0, 1}, SurfaceKind::Bottom, 0.3);
    const double r2 = std::sqrt(0.5);
    expectCases(s, {{"straight down", {{0, 0, 0}, {0, 0, -1}}, 2.0},
                    {"45 degrees", {{1, 1, 0}, {0, r2, -r2}}, 2.0 / r2},
                    {"parallel", {{0, 0, 0}, {1, 0, 0}}, -1},
                    {"away", {{0, 0, 0}, {0, 0, 1}}, -1},
                    {"from below", {{0, 0, -3}, {0, 0, 1}}, 1.0}});
}

TEST_F(SingleObjectTest, Sphere) {
    Scene s;
    s.addSphere({0, 5, 0}, 1.0, SurfaceKind::Rock, 0.4);
    expectCases(s, {{"centre", {{0, 0, 0}, {0, 1, 0}}, 4.0},
                    {"tangent miss", {{1.0001, 0, 0}, {0, 1, 0}}, -1},
                    {"off centre", {{0.6, 0, 0}, {0, 1, 0}}, 5.0 - 0.8},
                    {"from inside", {{0, 5, 0}, {0, 0, 1}}, 1.0},
                    {"behind", {{0, 7, 0}, {0, 1, 0}}, -1}});
}

TEST_F(SingleObjectTest, YawedBox) {
    Scene s;
    // A 2 x 2 x 2 box turned 90 degrees is the same box; 45 degrees puts an edge towards -Y.
    s.addBox({0, 10, 0}, {1, 1, 1}, 45.0, SurfaceKind::Wall, 0.5);
    expectCases(s, {{"edge on", {{0, 0, 0}, {0, 1, 0}}, 10.0 - std::sqrt(2.0)},
                    {"top face", {{0, 10, 5}, {0, 0, -1}}, 4.0},
                    {"beside", {{1.5, 0, 0}, {0, 1, 0}}, -1},
                    {"above", {{0, 0, 1.01}, {0, 1, 0}}, -1}});
}

TEST_F(SingleObjectTest, CappedCylinder) {
    Scene s;
    s.addCylinder({-2, 6, 0}, {2, 6, 0}, 0.5, SurfaceKind::Pipe, 0.6);
    expectCases(s, {{"mantle", {{0, 0, 0}, {0, 1, 0}}, 5.5},
                    {"near the end", {{1.9, 0, 0.3}, {0, 1, 0}}, 6.0 - 0.4},
                    {"past the end", {{2.1, 0, 0}, {0, 1, 0}}, -1},
                    {"end cap", {{5, 6, 0.2}, {-1, 0, 0}}, 3.0},
                    {"along the axis from inside", {{0, 6, 0}, {1, 0, 0}}, 2.0}});
}

TEST(Scene, TraceTakesTheNearestAndSkipsTheIgnoredObject) {
    Scene s;
    const int wall = s.addPlane({0, 10, 0}, {0, -1, 0}, SurfaceKind::Wall, 0.5);
    const int fish = s.addSphere({0, 4, 0}, 0.1, SurfaceKind::Scatterer, 2.0, 0.6);
    const Ray ray{{0, 0, 0}, {0, 1, 0}};
    auto h = s.trace(ray, 0.0);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->object, fish);
    EXPECT_NEAR(h->t, 3.9, 1e-12);
    h = s.trace(ray, h->t, fish); // the beam goes on past the scatterer
    ASSERT_TRUE(h);
    EXPECT_EQ(h->object, wall);
    EXPECT_NEAR(h->t, 10.0, 1e-12);
    EXPECT_DOUBLE_EQ(s.cover(fish), 0.6);
    EXPECT_EQ(s.kind(fish), SurfaceKind::Scatterer);
}

TEST(Scene, RandomRaysLandOnTheSurfaceTheyHit) {
    Scene s;
    SceneParams p;
    p.scatterers = 200;
    ASSERT_TRUE(buildScene("harbour", p, s));
    Random r(9);
    int hits = 0;
    for (int i = 0; i < 3000; ++i) {
        const Vec3 dir = normalized({r.uniform(-0.5, 0.5), 1.0, r.uniform(-1.2, 0.1)});
        const Ray ray{{0, 0, 0}, dir};
        const auto h = s.trace(ray, 0.0);
        if (!h) continue;
        ++hits;
        const Vec3 p3 = ray.at(h->t);
        ASSERT_NEAR(s.distanceTo(h->object, p3), 0.0, 1e-7) << i;
        // Nothing else lies closer along the ray: every other object is farther than t.
        EXPECT_EQ(s.nearestObject(p3, 1e-6), h->object);
    }
    EXPECT_EQ(hits, 3000); // floor and quay wall close the view
}

TEST(Scene, NamedScenes) {
    for (const char* name : {"plane", "seabed", "harbour"}) {
        Scene s;
        EXPECT_TRUE(isSceneName(name));
        EXPECT_TRUE(buildScene(name, SceneParams{}, s));
        EXPECT_GT(s.size(), 0u);
    }
    Scene s;
    EXPECT_FALSE(isSceneName("moon"));
    EXPECT_FALSE(buildScene("moon", SceneParams{}, s));
    // The plane lies square to the boresight at the distance asked for.
    SceneParams p;
    p.distance = 7.5;
    p.sensor = {0.1, 0.2, 0.3};
    p.boresight = normalized({0.0, 1.0, -0.2});
    Scene plane;
    buildScene("plane", p, plane);
    const auto h = plane.trace({p.sensor, p.boresight}, 0.0);
    ASSERT_TRUE(h);
    EXPECT_NEAR(h->t, 7.5, 1e-12);
    EXPECT_NEAR(dot(h->normal, p.boresight), -1.0, 1e-12);
    // The harbour's scatterers follow the seed.
    Scene h1, h2, h3;
    SceneParams a, b;
    b.seed = 2;
    buildScene("harbour", a, h1);
    buildScene("harbour", a, h2);
    buildScene("harbour", b, h3);
    const Vec3 probe{0.5, 6.0, -1.0};
    const int last = static_cast<int>(h1.size()) - 1;
    EXPECT_EQ(h1.distanceTo(last, probe), h2.distanceTo(last, probe));
    EXPECT_NE(h1.distanceTo(last, probe), h3.distanceTo(last, probe));
}

} // namespace
} // namespace quarv::sim
