// The GUI-facing viewer core as transcripts: the camera's matrices, projections and drag rules,
// and the target search over simulated sea floors.
#include "core/cloud/cloud_test_util.hpp"
#include "core/viewer/camera.hpp"
#include "core/viewer/target_search.hpp"
#include "support/golden.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace quarv {
namespace {

TEST(Camera, MatricesProjectionsAndDragsTranscript) {
    test::Transcript t;
    auto mat = [&](const char* name, const Mat4& m) {
        t.out << name;
        for (double v : m) t.out << " " << v;
        t.out << "\n";
    };
    const float targets[][2] = {{1, 0},     {0, 5},      {3, 4},       {3, -4}, {-3, 4},
                                {-3, -4},   {-2, 0},     {0, -2},      {0, 0},  {0, 1e-9f},
                                {1e-4f, 0}, {-1e-4f, 0}, {1e4f, 1e-2f}};
    for (const auto& [x, y] : targets) {
        const PanDirections p = derivePanDirections(x, y);
        t.put("pan", x, y, ":", p.signA, p.signB, p.sinA, p.cosA);
    }
    mat("perspective", perspectiveMatrix(30, 4.0 / 3.0, 0.001, 75));
    mat("lookAt", lookAtMatrix({0.5, 0, 0}, {3, 4, 1}, {0, 0, 1}));
    mat("rotation", rotationMatrix(30, 1, 2, 3));
    OrbitCamera cam, ahead; // ahead: reset, looking at a target 5 m ahead
    ahead.setTarget(0, 5, 0);
    cam.setTarget(3, -4, 2);
    cam.rotX = 10, cam.rotY = -20, cam.rotZ = 35, cam.panA = 0.5f, cam.panB = 1, cam.zoom = 1.2f;
    const auto m = cam.modelTranslation();
    t.put("model translation", m[0], m[1], m[2]);
    mat("model", cam.model());
    mat("projection", cam.projection(1.5));
    const std::array<float, 3> points[] = {{0, 5, 0},      {0.05f, 5, 0},   {0, 5, 0.05f},
                                           {-1, 6, -0.5f}, {0, -5, 0},      {0, 500, 0},
                                           {3, -4, 2},     {3.1f, -4, 2.1f}};
    for (const OrbitCamera* c : {&ahead, &cam}) {
        for (const auto& p : points) {
            const WindowPoint w = projectToWindow(*c, 640, 480, p);
            t.put("window", p[0], p[1], p[2], ":", w.x, w.y, w.depth, w.column, w.row, w.inside);
        }
    }
    // Drags: mode, left button, right button, x, y.
    const std::array<int, 5> drags[] = {
        {kMotionRotate, 1, 0, 10, 0},     {kMotionRotate, 1, 0, 10, 10},
        {kMotionRotate, 0, 1, -10, 7},    {kMotionTranslate, 1, 0, 10, 0},
        {kMotionTranslate, 1, 0, 0, -20}, {kMotionTranslate, 0, 1, 33, -100},
        {kMotionRotate, 1, 1, 10, 5},     {0, 1, 0, 10, 10},
        {kMotionRotate, 0, 0, 5, 5}};
    for (const auto& [mode, left, right, x, y] : drags) {
        cam.reset();
        MouseControl mouse;
        mouse.motionMode = mode;
        if (right) mouse.press(MouseControl::Button::Right, 100, 100);
        if (left) mouse.press(MouseControl::Button::Left, 100, 100);
        // Two half steps: the last position follows the cursor, so the total is what counts.
        const bool first = mouse.move(100 + x / 2, 100 + y / 2, cam);
        const bool second = mouse.move(100 + x, 100 + y, cam);
        mouse.release();
        const bool after = mouse.move(0, 0, cam) || mouse.buttonDown();
        t.put("drag", mode, left, right, x, y, ":", first, second, after, cam.rotX, cam.rotY,
              cam.rotZ, cam.panA, cam.panB, cam.zoom);
    }
    test::expectGolden("viewer_camera.txt", t.str());
}

// A patch of sea floor at z = -3 m (tilted by `slope` per metre along x): points every 2 cm with
// a dull, slightly varying amplitude, and bright discs (x, y, radius, amplitude) painted on it.
TargetResult searchFloor(float size, const std::vector<std::array<float, 4>>& discs, float slope,
                         float x, float y) {
    std::vector<CloudPoint> points;
    const int n = static_cast<int>(size / 0.02f);
    for (int i = 0; i < n * n; ++i) {
        CloudPoint p;
        p.x = i / n * 0.02f, p.y = i % n * 0.02f, p.z = -3.0f + slope * p.x;
        p.amplitude = 100.0f + static_cast<float>((i / n * 7 + i % n * 13) % 20); // 100..119
        for (const auto& d : discs)
            if (std::hypot(p.x - d[0], p.y - d[1]) <= d[2]) p.amplitude = d[3];
        points.push_back(p);
    }
    std::vector<const CloudPoint*> list;
    const CloudPoint* seed = &points.front();
    for (const auto& p : points) {
        list.push_back(&p);
        if (std::hypot(p.x - x, p.y - y) < std::hypot(seed->x - x, seed->y - y)) seed = &p;
    }
    return findTarget(list.data(), static_cast<std::uint32_t>(list.size()), *seed);
}

TEST(TargetSearch, FindsTheTargetClickedAtAndRefusesWhatIsNoneTranscript) {
    std::vector<std::array<float, 4>> edge; // a bright edge running on
    for (int k = 0; k < 10; ++k) edge.push_back({1.0f, 0.2f + 0.05f * k, 0.03f, 500.0f});
    const std::vector<std::array<float, 4>> disc{{1, 1, 0.08f, 400}},
        two{{0.4f, 0.5f, 0.03f, 600}, {0.6f, 0.4f, 0.03f, 900}},
        apart{{0.6f, 1, 0.06f, 300}, {1.8f, 1, 0.06f, 900}};
    const std::tuple<const char*, float, std::vector<std::array<float, 4>>, float, float, float>
        cases[] = {
            {"on the disc", 2, disc, 0, 1, 1},
            {"dull floor beside it", 2, disc, 0, 0.75f, 1.2f},
            {"the dimmer of two in reach", 1, two, 0, 0.38f, 0.52f},
            {"the brighter of two in reach", 1, two, 0, 0.63f, 0.38f},
            {"tilted floor, left", 2.6f, apart, 0.2f, 0.65f, 1.05f},
            {"tilted floor, right", 2.6f, apart, 0.2f, 1.75f, 0.95f},
            {"plain floor", 2, {}, 0, 1, 1},
            {"target out of reach", 2, {{0.2f, 0.2f, 0.08f, 400}}, 0, 1.5f, 1.5f},
            {"too faint", 2, {{1, 1, 0.08f, 200}}, 0, 1, 1},
            {"bright patch wider than a target", 2, {{1, 1, 0.45f, 400}}, 0, 1, 1},
            {"a single bright return", 2, {{1, 1, 0.001f, 900}}, 0, 1, 1},
            {"a bright edge running on", 2, edge, 0, 1.05f, 0.4f},
        };
    test::Transcript t;
    for (const auto& [what, size, discs, slope, x, y] : cases) {
        const TargetResult r = searchFloor(size, discs, slope, x, y);
        t.put(what, ":", r.found, r.x, r.y, r.z, r.points, r.threshold);
    }
    CloudPoint seed;
    t.put("empty list:", findTarget(nullptr, 0, seed).found);
    test::expectGolden("viewer_target_search.txt", t.str());
}

} // namespace
} // namespace quarv
