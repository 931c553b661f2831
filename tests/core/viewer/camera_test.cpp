#include "core/viewer/camera.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace quarv {
namespace {

struct BearingCase {
    float tx, ty;
    float signA, signB, sinA, cosA;
};

TEST(Camera, PanDirectionsFollowTheTargetQuadrant) {
    const BearingCase cases[] = {
        {1, 0, -1, 1, 0, 1},         // on +X: bearing 0
        {0, 5, -1, 1, 1, 0},         // straight ahead along +Y
        {3, 4, -1, 1, 0.8f, 0.6f},   // first quadrant
        {3, -4, 1, 1, 0.8f, 0.6f},   // fourth quadrant
        {-3, 4, -1, -1, 0.8f, 0.6f}, // second quadrant
        {-3, -4, 1, -1, 0.8f, 0.6f}, // third quadrant
        {-2, 0, -1, -1, 0, 1},       // on -X
        {0, -2, 1, 1, 1, 0},         // on -Y
        {0, 0, -1, 1, 0, 1},         // origin: taken as bearing 0
        {0, 1e-9f, -1, 1, 0, 1},     // on the Z axis within a micrometre
        {1e-4f, 0, -1, 1, 0, 1},     // the f32 cosine rounds to 1.00017: clamped, not NaN
        {-1e-4f, 0, -1, -1, 0, 1},   // and to -1.00017 on the other side
        {1e4f, 1e-2f, -1, 1, 0, 1},  // far along +X
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "target " << c.tx << ", " << c.ty);
        const PanDirections p = derivePanDirections(c.tx, c.ty);
        EXPECT_EQ(p.signA, c.signA);
        EXPECT_EQ(p.signB, c.signB);
        EXPECT_NEAR(p.sinA, c.sinA, 2e-6);
        EXPECT_NEAR(p.cosA, c.cosA, 2e-6);
    }
}

TEST(Camera, ResetAndModelTranslation) {
    OrbitCamera cam;
    cam.rotX = 10;
    cam.rotY = 20;
    cam.rotZ = 30;
    cam.panA = 1;
    cam.panB = 2;
    cam.zoom = 3;
    cam.reset();
    EXPECT_EQ(cam.rotX, 0);
    EXPECT_EQ(cam.rotY, 0);
    EXPECT_EQ(cam.rotZ, 0);
    EXPECT_EQ(cam.panA, 0);
    EXPECT_EQ(cam.panB, 0);
    EXPECT_EQ(cam.zoom, 0.8f);

    cam.setTarget(1, 0, 0);
    auto t = cam.modelTranslation();
    EXPECT_EQ(t[0], (1.0f + 1.0f) * 0.8f * 0.35f);
    EXPECT_EQ(t[1], 0.0f);
    EXPECT_EQ(t[2], 0.0f);
    EXPECT_DOUBLE_EQ(static_cast<double>(kModelScale), 0.3499999940395355);

    // Pans move along the signed directions; panB lowers the cloud.
    cam.setTarget(3, -4, 2);
    cam.panA = 0.5f;
    cam.panB = 1.0f;
    cam.zoom = 1.0f;
    t = cam.modelTranslation();
    EXPECT_FLOAT_EQ(t[0], (3 + 0.6f + 0.5f) * 0.35f);
    EXPECT_FLOAT_EQ(t[1], (-4 + 0.8f + 0.5f) * 0.35f);
    EXPECT_FLOAT_EQ(t[2], (2 - 1.0f) * 0.35f);
}

std::array<double, 4> apply(const Mat4& m, double x, double y, double z) {
    std::array<double, 4> r{};
    for (int row = 0; row < 4; ++row)
        r[row] = m[row] * x + m[4 + row] * y + m[8 + row] * z + m[12 + row];
    return r;
}

TEST(Camera, ModelTurnsAboutTheTarget) {
    OrbitCamera cam;
    cam.setTarget(2, 5, -1);
    const auto t = cam.modelTranslation();
    cam.rotZ = 90;
    auto p = apply(cam.model(), 2, 5, -1);
    EXPECT_NEAR(p[0], t[0], 1e-6);
    EXPECT_NEAR(p[1], t[1], 1e-6);
    EXPECT_NEAR(p[2], t[2], 1e-6);
    // Rotation about Z by 90 degrees takes an offset along +X to +Y.
    p = apply(cam.model(), 3, 5, -1);
    EXPECT_NEAR(p[0] - t[0], 0.0, 1e-6);
    EXPECT_NEAR(p[1] - t[1], 1.0, 1e-6);
    // X is applied first (outermost), then Y, then Z: with rotX 90 and rotZ 90, +X goes to +Y then
    // to +Z.
    cam.rotX = 90;
    p = apply(cam.model(), 3, 5, -1);
    EXPECT_NEAR(p[0] - t[0], 0.0, 1e-6);
    EXPECT_NEAR(p[1] - t[1], 0.0, 1e-6);
    EXPECT_NEAR(p[2] - t[2], 1.0, 1e-6);
}

TEST(Camera, PerspectiveAndLookAtMatchTheirDefinitions) {
    const Mat4 p = perspectiveMatrix(30, 2.0, 0.001, 75);
    const double f = 1.0 / std::tan(15.0 * M_PI / 180.0);
    EXPECT_NEAR(p[0], f / 2.0, 1e-12);
    EXPECT_NEAR(p[5], f, 1e-12);
    // Points on the near and far planes land on depth -1 and +1.
    auto nearP = apply(p, 0, 0, -0.001);
    auto farP = apply(p, 0, 0, -75);
    EXPECT_NEAR(nearP[2] / nearP[3], -1.0, 1e-9);
    EXPECT_NEAR(farP[2] / farP[3], 1.0, 1e-9);

    // Looking along +Y with +Z up: X is to the right, Z up, the view axis into -Z.
    const Mat4 v = lookAtMatrix({0, 0, 0}, {0, 10, 0}, {0, 0, 1});
    auto right = apply(v, 1, 0, 0);
    auto up = apply(v, 0, 0, 1);
    auto ahead = apply(v, 0, 1, 0);
    EXPECT_NEAR(right[0], 1, 1e-12);
    EXPECT_NEAR(up[1], 1, 1e-12);
    EXPECT_NEAR(ahead[2], -1, 1e-12);
}

TEST(Camera, TargetAfterResetProjectsToTheCentre) {
    // With the target in the horizontal plane of the eye (or on the Z axis), the model transform
    // moves it onto the line of sight, so a reset camera shows it in the middle of the window.
    const std::array<float, 3> targets[] = {{1, 0, 0}, {3, 4, 0}, {0, 5, 0}, {0, 0, -5}, {0, 0, 0}};
    for (const auto& tg : targets) {
        SCOPED_TRACE(testing::Message() << tg[0] << ", " << tg[1] << ", " << tg[2]);
        OrbitCamera cam;
        cam.setTarget(tg[0], tg[1], tg[2]);
        const WindowPoint w = projectToWindow(cam, 800, 600, tg);
        EXPECT_TRUE(w.inside);
        EXPECT_NEAR(w.x, 400.0, 1e-4);
        EXPECT_NEAR(w.y, 300.0, 1e-4);
    }
}

TEST(Camera, WindowCoordinatesAreTopDownPixels) {
    OrbitCamera cam;
    cam.setTarget(0, 5, 0);
    const int W = 640, H = 480;
    const WindowPoint c = projectToWindow(cam, W, H, {0, 5, 0});
    const WindowPoint r = projectToWindow(cam, W, H, {0.05f, 5, 0});
    const WindowPoint u = projectToWindow(cam, W, H, {0, 5, 0.05f});
    EXPECT_GT(r.x, c.x);
    EXPECT_NEAR(r.y, c.y, 1e-9);
    EXPECT_LT(u.y, c.y); // up in space is up on the screen
    EXPECT_EQ(c.column, W / 2);
    EXPECT_EQ(c.row, H / 2 - 1); // frame-buffer row H/2 is window row H/2 - 1
    // Behind the eye and beyond the far plane nothing is visible.
    EXPECT_FALSE(projectToWindow(cam, W, H, {0, -5, 0}).inside);
    EXPECT_FALSE(projectToWindow(cam, W, H, {0, 500, 0}).inside);
    EXPECT_FALSE(projectToWindow(cam, 0, H, {0, 5, 0}).inside);
}

struct DragCase {
    const char* what;
    int mode;
    MouseControl::Button button;
    int dx, dy;
    float rotX, rotY, rotZ, panA, panB, zoom;
};

TEST(Camera, MouseDragRules) {
    using B = MouseControl::Button;
    const DragCase cases[] = {
        {"rotate left 10 px right", kMotionRotate, B::Left, 10, 0, 0, 0, 3, 0, 0, 0.8f},
        {"rotate left 10 px down", kMotionRotate, B::Left, 0, 10, 3, 0, 0, 0, 0, 0.8f},
        {"rotate right 10 px left", kMotionRotate, B::Right, -10, 7, 0, -3, 0, 0, 0, 0.8f},
        {"pan left 10 px right", kMotionTranslate, B::Left, 10, 0, 0, 0, 0, -0.1f, 0, 0.8f},
        {"pan left 20 px up", kMotionTranslate, B::Left, 0, -20, 0, 0, 0, 0, -0.2f, 0.8f},
        {"zoom right 100 px up", kMotionTranslate, B::Right, 33, -100, 0, 0, 0, 0, 0, 1.8f},
        {"unknown mode does nothing", 0, B::Left, 10, 10, 0, 0, 0, 0, 0, 0.8f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OrbitCamera cam;
        MouseControl mouse;
        mouse.motionMode = c.mode;
        mouse.press(c.button, 100, 100);
        // Two half steps: the last position follows the cursor, so the total is what counts.
        mouse.move(100 + c.dx / 2, 100 + c.dy / 2, cam);
        const bool redraw = mouse.move(100 + c.dx, 100 + c.dy, cam);
        EXPECT_EQ(redraw, c.mode == kMotionRotate || c.mode == kMotionTranslate);
        EXPECT_NEAR(cam.rotX, c.rotX, 1e-5);
        EXPECT_NEAR(cam.rotY, c.rotY, 1e-5);
        EXPECT_NEAR(cam.rotZ, c.rotZ, 1e-5);
        EXPECT_NEAR(cam.panA, c.panA, 1e-6);
        EXPECT_NEAR(cam.panB, c.panB, 1e-6);
        EXPECT_NEAR(cam.zoom, c.zoom, 1e-6);
    }
}

TEST(Camera, ReleaseEndsBothDragsAndLeftWins) {
    OrbitCamera cam;
    MouseControl mouse;
    mouse.motionMode = kMotionRotate;
    EXPECT_FALSE(mouse.move(5, 5, cam)); // no button: nothing happens
    mouse.press(MouseControl::Button::Right, 0, 0);
    mouse.press(MouseControl::Button::Left, 0, 0);
    EXPECT_TRUE(mouse.buttonDown());
    EXPECT_TRUE(mouse.move(10, 0, cam));
    EXPECT_NEAR(cam.rotZ, 3.0f, 1e-6); // both held: the left drag is the one applied
    EXPECT_EQ(cam.rotY, 0.0f);
    mouse.release();
    EXPECT_FALSE(mouse.leftDown());
    EXPECT_FALSE(mouse.rightDown());
    EXPECT_FALSE(mouse.move(50, 50, cam));
    EXPECT_NEAR(cam.rotZ, 3.0f, 1e-6);
}

} // namespace
} // namespace quarv
