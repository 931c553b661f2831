#include "core/viewer/camera.hpp"
#include "core/viewer/color_ramp.hpp"
#include "core/viewer/target_search.hpp"

#include "support/golden.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <vector>

namespace quarv {
namespace {

// Pan directions round the compass and on the Z axis, the matrices the view loads, where points
// land in the window, and a sequence of mouse drags, as one transcript.
TEST(Camera, MatricesProjectionsAndDragsTranscript) {
    std::ostringstream out;
    out.precision(9);
    auto mat = [&](const char* name, const Mat4& m) {
        out << name;
        for (double v : m) out << " " << v;
        out << "\n";
    };
    const float targets[][2] = {{1, 0},     {0, 5},      {3, 4},       {3, -4}, {-3, 4},
                                {-3, -4},   {-2, 0},     {0, -2},      {0, 0},  {0, 1e-9f},
                                {1e-4f, 0}, {-1e-4f, 0}, {1e4f, 1e-2f}};
    for (const auto& t : targets) {
        const PanDirections p = derivePanDirections(t[0], t[1]);
        out << "pan " << t[0] << " " << t[1] << ": " << p.signA << " " << p.signB << " " << p.sinA
            << " " << p.cosA << "\n";
    }
    mat("perspective", perspectiveMatrix(30, 4.0 / 3.0, 0.001, 75));
    mat("lookAt", lookAtMatrix({0.5, 0, 0}, {3, 4, 1}, {0, 0, 1}));
    mat("rotation", rotationMatrix(30, 1, 2, 3));
    OrbitCamera cam;
    cam.setTarget(3, -4, 2);
    cam.rotX = 10, cam.rotY = -20, cam.rotZ = 35, cam.panA = 0.5f, cam.panB = 1, cam.zoom = 1.2f;
    const auto t = cam.modelTranslation();
    out << "model translation " << t[0] << " " << t[1] << " " << t[2] << "\n";
    mat("model", cam.model());
    mat("projection", cam.projection(1.5));
    OrbitCamera ahead; // reset, looking at a target 5 m ahead
    ahead.setTarget(0, 5, 0);
    const std::array<float, 3> points[] = {{0, 5, 0},      {0.05f, 5, 0},   {0, 5, 0.05f},
                                           {-1, 6, -0.5f}, {0, -5, 0},      {0, 500, 0},
                                           {3, -4, 2},     {3.1f, -4, 2.1f}};
    for (const OrbitCamera* c : {&ahead, &cam}) {
        for (const auto& p : points) {
            const WindowPoint w = projectToWindow(*c, 640, 480, p);
            out << "window " << p[0] << " " << p[1] << " " << p[2] << ": " << w.x << " " << w.y
                << " " << w.depth << " pixel " << w.column << " " << w.row << " inside " << w.inside
                << "\n";
        }
    }
    using B = MouseControl::Button;
    struct Drag {
        int mode;
        bool left, right;
        int x, y;
    };
    const Drag drags[] = {
        {kMotionRotate, true, false, 10, 0},     {kMotionRotate, true, false, 10, 10},
        {kMotionRotate, false, true, -10, 7},    {kMotionTranslate, true, false, 10, 0},
        {kMotionTranslate, true, false, 0, -20}, {kMotionTranslate, false, true, 33, -100},
        {kMotionRotate, true, true, 10, 5},      {0, true, false, 10, 10},
        {kMotionRotate, false, false, 5, 5}};
    for (const Drag& d : drags) {
        cam.reset();
        MouseControl mouse;
        mouse.motionMode = d.mode;
        if (d.right) mouse.press(B::Right, 100, 100);
        if (d.left) mouse.press(B::Left, 100, 100);
        // Two half steps: the last position follows the cursor, so the total is what counts.
        const bool first = mouse.move(100 + d.x / 2, 100 + d.y / 2, cam);
        const bool redraw = mouse.move(100 + d.x, 100 + d.y, cam);
        mouse.release();
        const bool after = mouse.move(0, 0, cam) || mouse.buttonDown();
        out << "drag mode " << d.mode << " buttons " << d.left << d.right << " by " << d.x << " "
            << d.y << ": redraw " << first << redraw << after << " rot " << cam.rotX << " "
            << cam.rotY << " " << cam.rotZ << " pan " << cam.panA << " " << cam.panB << " zoom "
            << cam.zoom << "\n";
    }
    test::expectGolden("viewer_camera.txt", out.str());
}

TEST(Camera, TargetAfterResetProjectsToTheCentre) {
    const std::array<float, 3> targets[] = {{1, 0, 0}, {3, 4, 0}, {0, 5, 0}, {0, 0, -5}, {0, 0, 0}};
    for (const auto& tg : targets) {
        OrbitCamera cam;
        cam.setTarget(tg[0], tg[1], tg[2]);
        const WindowPoint w = projectToWindow(cam, 800, 600, tg);
        EXPECT_TRUE(w.inside);
        EXPECT_NEAR(w.x, 400.0, 1e-4);
        EXPECT_NEAR(w.y, 300.0, 1e-4);
        EXPECT_EQ(w.row, 299); // frame-buffer row 300 is window row 299
    }
}

TEST(ColorRamp, TablesTranscript) {
    std::ostringstream out;
    auto table = [&](const char* name, const ColorRamp& r) {
        out << name << " (" << r.nodeCount() << " nodes):";
        for (int i = 0; i < r.size(); ++i) {
            char h[8];
            std::snprintf(h, sizeof h, "%02x%02x%02x", r.red(i), r.green(i), r.blue(i));
            out << " " << h;
        }
        out << "\n";
    };
    ColorRamp ramp;
    table("grey", ramp);
    ramp.setNode(100, {50, 200, 100});
    table("node at 100", ramp);
    ramp.clearNodes();
    ramp.interpolate();
    table("cleared", ramp);
    ramp.setNode(0, {255, 255, 255});
    ramp.setNode(255, {0, 0, 0});
    ramp.setNode(3, {1, 1, 1});
    table("descending with a node at 3", ramp);
    ramp.setNode(300, {9, 9, 9}); // outside the table: ignored
    table("node outside the table", ramp);
    test::expectGolden("viewer_color_ramp.txt", out.str());
}

// A flat patch of sea floor at z = -3 m (tilted by `slope` per metre along x): points every 2 cm
// with a dull, slightly varying amplitude, and bright discs (reflective targets) painted on it.
struct Disc {
    float x, y, radius, amplitude;
};
struct Floor {
    std::vector<CloudPoint> points;
    std::vector<const CloudPoint*> list;
    Floor(float size, const std::vector<Disc>& discs, float slope = 0) {
        const int n = static_cast<int>(size / 0.02f);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                CloudPoint p;
                p.x = i * 0.02f, p.y = j * 0.02f, p.z = -3.0f + slope * p.x;
                p.amplitude = 100.0f + static_cast<float>((i * 7 + j * 13) % 20); // 100..119
                for (const Disc& d : discs)
                    if (std::hypot(p.x - d.x, p.y - d.y) <= d.radius) p.amplitude = d.amplitude;
                points.push_back(p);
            }
        }
        for (const auto& p : points) list.push_back(&p);
    }
    TargetResult search(float x, float y) const {
        const CloudPoint* seed = &points.front();
        for (const auto& p : points)
            if (std::hypot(p.x - x, p.y - y) < std::hypot(seed->x - x, seed->y - y)) seed = &p;
        return findTarget(list.data(), static_cast<std::uint32_t>(list.size()), *seed);
    }
};

TEST(TargetSearch, FindsTheTargetClickedAtAndRefusesWhatIsNone) {
    std::vector<Disc> edge; // a bright edge running on
    for (int k = 0; k < 10; ++k) edge.push_back({1.0f, 0.2f + 0.05f * k, 0.03f, 500.0f});
    struct Case {
        const char* what;
        float size;
        std::vector<Disc> discs;
        float slope, pickX, pickY;
        int expected; // index of the disc to be found, -1 for none
    };
    const Case cases[] = {
        {"on the disc", 2, {{1, 1, 0.08f, 400}}, 0, 1, 1, 0},
        {"on its rim", 2, {{1, 1, 0.08f, 400}}, 0, 1.07f, 1, 0},
        {"dull floor beside it", 2, {{1, 1, 0.08f, 400}}, 0, 0.75f, 1.2f, 0},
        {"dull floor on the other side", 2, {{1, 1, 0.08f, 400}}, 0, 1.3f, 0.7f, 0},
        {"the dimmer of two in reach",
         1,
         {{0.4f, 0.5f, 0.03f, 600}, {0.6f, 0.4f, 0.03f, 900}},
         0,
         0.38f,
         0.52f,
         0},
        {"the brighter of two in reach",
         1,
         {{0.4f, 0.5f, 0.03f, 600}, {0.6f, 0.4f, 0.03f, 900}},
         0,
         0.63f,
         0.38f,
         1},
        {"tilted floor, left",
         2.6f,
         {{0.6f, 1, 0.06f, 300}, {1.8f, 1, 0.06f, 900}},
         0.2f,
         0.65f,
         1.05f,
         0},
        {"tilted floor, right",
         2.6f,
         {{0.6f, 1, 0.06f, 300}, {1.8f, 1, 0.06f, 900}},
         0.2f,
         1.75f,
         0.95f,
         1},
        {"plain floor", 2, {}, 0, 1, 1, -1},
        {"target out of reach", 2, {{0.2f, 0.2f, 0.08f, 400}}, 0, 1.5f, 1.5f, -1},
        {"too faint", 2, {{1, 1, 0.08f, 200}}, 0, 1, 1, -1},
        {"bright patch wider than a target", 2, {{1, 1, 0.45f, 400}}, 0, 1, 1, -1},
        {"a single bright return", 2, {{1, 1, 0.001f, 900}}, 0, 1, 1, -1},
        {"a bright edge running on", 2, edge, 0, 1.05f, 0.4f, -1},
    };
    std::ostringstream out;
    out.precision(9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TargetResult t = Floor(c.size, c.discs, c.slope).search(c.pickX, c.pickY);
        out << c.what << ": " << t.found << " " << t.x << " " << t.y << " " << t.z << " points "
            << t.points << " threshold " << t.threshold << "\n";
        ASSERT_EQ(t.found, c.expected >= 0);
        if (!t.found) continue;
        const Disc& d = c.discs[static_cast<std::size_t>(c.expected)];
        EXPECT_NEAR(t.x, d.x, 0.005f);
        EXPECT_NEAR(t.y, d.y, 0.005f);
        EXPECT_NEAR(t.z, -3.0f + c.slope * d.x, 0.002f);
        EXPECT_GT(t.threshold, 119.0f);
        EXPECT_LT(t.threshold, d.amplitude);
    }
    CloudPoint a, b, seed;
    a.amplitude = 1000, b.amplitude = 1;
    const CloudPoint* sparse[] = {&a, &b, &b};
    TargetSearchParams loose;
    loose.minPoints = 1;
    EXPECT_FALSE(findTarget(nullptr, 0, seed).found);
    EXPECT_FALSE(findTarget(sparse, 2, seed).found); // fewer than minPoints in reach
    EXPECT_FALSE(findTarget(sparse, 3, seed).found); // a cluster of one bright point
    EXPECT_EQ(findTarget(sparse, 3, seed, loose).points, 1u);
    test::expectGolden("viewer_target_search.txt", out.str());
}

} // namespace
} // namespace quarv
