// The orbit camera of the point-cloud view without any GL: projection, look-at, the model
// transform that turns the cloud about its target, the pan directions derived from the target's
// bearing, and the mouse-drag rules. The GL view loads these matrices as they are, so a point's
// pixel can be computed here exactly as the view draws it (tests and picking rely on that).
#pragma once

#include <array>

namespace quarv {

constexpr double kFieldOfViewDeg = 30.0;
constexpr double kNearPlane = 0.001; // metres
constexpr double kFarPlane = 75.0;   // metres
constexpr float kModelScale = 0.35f; // the model translation's scale (f32: 0.3499999940395355)
constexpr float kResetZoom = 0.8f;
constexpr float kPanFactor = 0.01f; // pan and zoom per pixel of drag
constexpr float kRotFactor = 0.3f;  // degrees per pixel of drag

constexpr int kMotionRotate = 1;
constexpr int kMotionTranslate = 2;

// Below this horizontal distance (metres) the target counts as lying on the Z axis: its bearing
// is undefined and looking at it with +Z up would be degenerate.
constexpr float kOnAxisDistance = 1e-6f;

// Column-major 4 x 4 matrix, the layout glLoadMatrixd takes.
using Mat4 = std::array<double, 16>;

Mat4 identityMatrix();
Mat4 multiply(const Mat4& a, const Mat4& b); // a * b
Mat4 perspectiveMatrix(double fovyDeg, double aspect, double zNear, double zFar);
Mat4 lookAtMatrix(const std::array<double, 3>& eye, const std::array<double, 3>& centre,
                  const std::array<double, 3>& up);
Mat4 translationMatrix(double x, double y, double z);
Mat4 rotationMatrix(double angleDeg, double ax, double ay, double az); // axis need not be unit

// Which way a drag pans the cloud, from the target's bearing in the XY plane.
struct PanDirections {
    float signA = 1, signB = 1;
    float sinA = 0, cosA = 1; // |sin|, |cos| of the bearing
};

// A target on the Z axis (including the origin) has no bearing; it is taken as bearing 0, the
// +X axis: signA -1, signB 1, sinA 0, cosA 1, the values of a target at (1, 0, z).
PanDirections derivePanDirections(float tx, float ty);

struct OrbitCamera {
    float rotX = 0, rotY = 0, rotZ = 0; // degrees about X, Y, Z
    float panA = 0;
    float zoom = kResetZoom;
    float panB = 0;
    std::array<float, 3> target{};
    PanDirections pan = derivePanDirections(0, 0);

    void reset();
    // Sets the target and derives the pan directions from it. The directions depend only on the
    // target, so deriving them here gives what a resize would derive, without a stale bearing
    // between a new target and the next resize.
    void setTarget(float x, float y, float z);

    // The point the camera looks at from the origin: the target itself, or (1, 0, tz) for a
    // target on the Z axis, which is where the model transform puts such a target (bearing 0).
    std::array<double, 3> lookPoint() const;
    // The first translation of the model transform, computed in f32 as it is handed to GL.
    std::array<float, 3> modelTranslation() const;

    Mat4 projection(double aspect) const; // perspective, then look from the origin with +Z up
    Mat4 model() const;                   // translate, rotate X, Y, Z, translate by -target
};

// Where a point lands in a window of width x height pixels. x and y are continuous window
// coordinates with y counted downwards from the top edge; column and row are the pixel a
// one-pixel point covers. inside is false for points outside the view volume.
struct WindowPoint {
    double x = 0, y = 0, depth = 0;
    int column = 0, row = 0;
    bool inside = false;
};
WindowPoint projectToWindow(const OrbitCamera& camera, int width, int height,
                            const std::array<float, 3>& point);

// The drag rules of the view: left/right button with the motion mode decide whether a move pans,
// zooms or rotates.
class MouseControl {
public:
    enum class Button { Left, Right };

    int motionMode = kMotionTranslate;

    void press(Button button, int x, int y);
    void release(); // either button up ends both drags
    // Applies a cursor move; true when the camera changed and the view must redraw.
    bool move(int x, int y, OrbitCamera& camera);

    bool leftDown() const { return leftDown_; }
    bool rightDown() const { return rightDown_; }
    bool buttonDown() const { return leftDown_ || rightDown_; }

private:
    bool leftDown_ = false, rightDown_ = false;
    int lastLeftX_ = 0, lastLeftY_ = 0;
    int lastRightX_ = 0, lastRightY_ = 0;
};

} // namespace quarv
