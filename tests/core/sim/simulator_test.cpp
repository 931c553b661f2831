// The recording simulator's scene geometry (every shape, including turned boxes, which the named
// scenes do not use) and its refusals. What lies behind scatterers, and what it writes, are held
// against its truth by the slow tests and the round trip here.
#include "core/sim/simulator.hpp"

#include "core/app/message_sink.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

namespace quarv::sim {
namespace {

using test::TempDir;

TEST(SimScene, RaysHitEachShapeAtItsNearestSurface) {
    Scene s;
    const int plane = s.addPlane({0, 0, -2}, {0, 0, 1}, SurfaceKind::Bottom, 0.3);
    const int sphere = s.addSphere({0, 5, 30}, 1.0, SurfaceKind::Rock, 0.4);
    // A 2 x 2 x 2 box turned 45 degrees puts an edge towards -Y.
    const int box = s.addBox({0, 10, 60}, {1, 1, 1}, 45.0, SurfaceKind::Wall, 0.5);
    const int pipe = s.addCylinder({-2, 6, 90}, {2, 6, 90}, 0.5, SurfaceKind::Pipe, 0.6);
    const double r2 = std::sqrt(0.5);
    const struct {
        Ray ray;
        double t;   // < 0: no hit
        int object; // the one it hits
    } cases[] = {
        {{{1, 1, 0}, {0, r2, -r2}}, 2.0 / r2, plane},
        {{{0.6, 0, 30}, {0, 1, 0}}, 4.2, sphere},
        {{{1.0001, 0, 30}, {0, 1, 0}}, -1, sphere},
        {{{0, 0, 60}, {0, 1, 0}}, 10 - std::sqrt(2.0), box},
        {{{0.5, 0, 60}, {0, 1, 0}}, 10.5 - std::sqrt(2.0), box}, // the turned face
        {{{1.5, 0, 60}, {0, 1, 0}}, -1, box},
        {{{1.9, 0, 90.3}, {0, 1, 0}}, 5.6, pipe},
        {{{2.1, 0, 90}, {0, 1, 0}}, -1, pipe},
        {{{5, 6, 90.2}, {-1, 0, 0}}, 3.0, pipe},
    };
    for (const auto& c : cases) {
        const auto h = s.trace(c.ray, 0.0);
        ASSERT_EQ(h && h->object != plane ? h->object : plane, c.t < 0 ? plane : c.object);
        if (c.t < 0) continue;
        EXPECT_NEAR(h->t, c.t, 1e-9) << c.object;
        EXPECT_NEAR(s.distanceTo(h->object, c.ray.at(h->t)), 0.0, 1e-9);
        // A unit normal facing the incoming beam (the turned face's own).
        EXPECT_NEAR(norm(h->normal), 1.0, 1e-12);
        EXPECT_LE(dot(h->normal, c.ray.dir), c.ray.origin.x == 0.5 ? -r2 + 1e-9 : 0.0);
    }
}

TEST(Simulator, RefusalsAreNamedAndLeaveNoFile) {
    TempDir dir;
    RecordingSink sink;
    SimResult r;
    SimOptions bowtiePeaks = sceneDefaults("plane");
    bowtiePeaks.scanner.scanType = 4;
    bowtiePeaks.peakFile = true;
    EXPECT_FALSE(simulate(bowtiePeaks, dir / "b.pek", r, sink));
    EXPECT_EQ(sink.last(), "ERROR, Simulator, peak files have no Moving Bowtie layout!");
    SimOptions badScene = sceneDefaults("plane");
    badScene.scene = "moon";
    EXPECT_FALSE(simulate(badScene, dir / "m.raw", r, sink));
    EXPECT_EQ(sink.last(), "ERROR, Simulator, unknown scene: moon");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

} // namespace
} // namespace quarv::sim
