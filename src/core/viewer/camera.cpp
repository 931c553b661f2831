#include "core/viewer/camera.hpp"

#include "core/scan/geometry.hpp"

#include <algorithm>
#include <cmath>

namespace quarv {

Mat4 identityMatrix() {
    Mat4 m{};
    m[0] = m[5] = m[10] = m[15] = 1.0;
    return m;
}

Mat4 multiply(const Mat4& a, const Mat4& b) {
    Mat4 r{};
    for (int col = 0; col < 4; ++col) {
        for (int row = 0; row < 4; ++row) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a[k * 4 + row] * b[col * 4 + k];
            r[col * 4 + row] = s;
        }
    }
    return r;
}

Mat4 perspectiveMatrix(double fovyDeg, double aspect, double zNear, double zFar) {
    const double half = fovyDeg / 2.0 * quarvPi() / 180.0;
    const double f = std::cos(half) / std::sin(half);
    Mat4 m{};
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (zFar + zNear) / (zNear - zFar);
    m[11] = -1.0;
    m[14] = 2.0 * zFar * zNear / (zNear - zFar);
    return m;
}

namespace {

std::array<double, 3> normalised(std::array<double, 3> v) {
    const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (n == 0.0) return v;
    return {v[0] / n, v[1] / n, v[2] / n};
}

std::array<double, 3> cross(const std::array<double, 3>& a, const std::array<double, 3>& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

} // namespace

Mat4 lookAtMatrix(const std::array<double, 3>& eye, const std::array<double, 3>& centre,
                  const std::array<double, 3>& up) {
    const auto forward = normalised({centre[0] - eye[0], centre[1] - eye[1], centre[2] - eye[2]});
    const auto side = normalised(cross(forward, up));
    const auto upTrue = cross(side, forward);
    Mat4 m = identityMatrix();
    for (int i = 0; i < 3; ++i) {
        m[i * 4 + 0] = side[i];
        m[i * 4 + 1] = upTrue[i];
        m[i * 4 + 2] = -forward[i];
    }
    return multiply(m, translationMatrix(-eye[0], -eye[1], -eye[2]));
}

Mat4 translationMatrix(double x, double y, double z) {
    Mat4 m = identityMatrix();
    m[12] = x;
    m[13] = y;
    m[14] = z;
    return m;
}

Mat4 rotationMatrix(double angleDeg, double ax, double ay, double az) {
    const double n = std::sqrt(ax * ax + ay * ay + az * az);
    if (n == 0.0) return identityMatrix();
    const double x = ax / n, y = ay / n, z = az / n;
    const double a = angleDeg * quarvPi() / 180.0;
    const double c = std::cos(a), s = std::sin(a), t = 1.0 - c;
    Mat4 m = identityMatrix();
    m[0] = x * x * t + c;
    m[1] = y * x * t + z * s;
    m[2] = x * z * t - y * s;
    m[4] = x * y * t - z * s;
    m[5] = y * y * t + c;
    m[6] = y * z * t + x * s;
    m[8] = x * z * t + y * s;
    m[9] = y * z * t - x * s;
    m[10] = z * z * t + c;
    return m;
}

PanDirections derivePanDirections(float tx, float ty) {
    const float d1 = std::sqrt((tx - 1.0f) * (tx - 1.0f) + ty * ty);
    const float d2 = std::sqrt(tx * tx + ty * ty);
    if (!(d2 >= kOnAxisDistance)) return PanDirections{-1.0f, 1.0f, 0.0f, 1.0f};
    // Law of cosines in the triangle origin, (1, 0), target; rounding can push the cosine a hair
    // past +-1, where acos would give NaN.
    const float cosine = std::clamp((d1 * d1 - d2 * d2 - 1.0f) / (-2.0f * d2), -1.0f, 1.0f);
    double a = std::acos(static_cast<double>(cosine));
    PanDirections p;
    if (tx >= 0 && ty >= 0) {
        p.signA = -1;
        p.signB = 1;
    } else if (tx >= 0 && ty < 0) {
        a = quarvPi() - a;
        p.signA = 1;
        p.signB = 1;
    }
    if (tx < 0) {
        if (ty < 0) {
            a = quarvPi() - a;
            p.signA = 1;
        } else {
            p.signA = -1;
        }
        p.signB = -1;
    }
    p.sinA = static_cast<float>(std::fabs(std::sin(a)));
    p.cosA = static_cast<float>(std::fabs(std::cos(a)));
    return p;
}

void OrbitCamera::reset() {
    rotX = rotY = rotZ = 0;
    panA = 0;
    zoom = kResetZoom;
    panB = 0;
}

void OrbitCamera::setTarget(float x, float y, float z) {
    target = {x, y, z};
    pan = derivePanDirections(x, y);
}

std::array<double, 3> OrbitCamera::lookPoint() const {
    const float d2 = std::sqrt(target[0] * target[0] + target[1] * target[1]);
    if (!(d2 >= kOnAxisDistance)) return {1.0, 0.0, target[2]};
    return {target[0], target[1], target[2]};
}

std::array<float, 3> OrbitCamera::modelTranslation() const {
    return {(target[0] + pan.cosA + panA * pan.signA) * zoom * kModelScale,
            (target[1] + pan.sinA + panA * pan.signB) * zoom * kModelScale,
            (target[2] - panB) * zoom * kModelScale};
}

Mat4 OrbitCamera::projection(double aspect) const {
    return multiply(perspectiveMatrix(kFieldOfViewDeg, aspect, kNearPlane, kFarPlane),
                    lookAtMatrix({0, 0, 0}, lookPoint(), {0, 0, 1}));
}

Mat4 OrbitCamera::model() const {
    const auto t = modelTranslation();
    Mat4 m = translationMatrix(t[0], t[1], t[2]);
    m = multiply(m, rotationMatrix(rotX, 1, 0, 0));
    m = multiply(m, rotationMatrix(rotY, 0, 1, 0));
    m = multiply(m, rotationMatrix(rotZ, 0, 0, 1));
    return multiply(m, translationMatrix(-target[0], -target[1], -target[2]));
}

WindowPoint projectToWindow(const OrbitCamera& camera, int width, int height,
                            const std::array<float, 3>& point) {
    WindowPoint w;
    if (width <= 0 || height <= 0) return w;
    const Mat4 m = multiply(camera.projection(static_cast<double>(width) / height), camera.model());
    double clip[4];
    for (int row = 0; row < 4; ++row) {
        clip[row] = m[row] * point[0] + m[4 + row] * point[1] + m[8 + row] * point[2] + m[12 + row];
    }
    if (!(clip[3] > 0)) return w;
    const double nx = clip[0] / clip[3], ny = clip[1] / clip[3], nz = clip[2] / clip[3];
    w.inside = std::fabs(nx) <= 1 && std::fabs(ny) <= 1 && std::fabs(nz) <= 1;
    w.x = (nx + 1) * 0.5 * width;
    const double glY = (ny + 1) * 0.5 * height; // frame-buffer rows count upwards
    w.y = height - glY;
    w.depth = (nz + 1) * 0.5;
    w.column = static_cast<int>(std::floor(w.x));
    w.row = height - 1 - static_cast<int>(std::floor(glY));
    return w;
}

void MouseControl::press(Button button, int x, int y) {
    if (button == Button::Left) {
        leftDown_ = true;
        lastLeftX_ = x;
        lastLeftY_ = y;
    } else {
        rightDown_ = true;
        lastRightX_ = x;
        lastRightY_ = y;
    }
}

void MouseControl::release() {
    leftDown_ = rightDown_ = false;
}

bool MouseControl::move(int x, int y, OrbitCamera& camera) {
    if (motionMode == kMotionTranslate) {
        if (leftDown_) {
            camera.panA += static_cast<float>(lastLeftX_ - x) * kPanFactor;
            camera.panB -= static_cast<float>(lastLeftY_ - y) * kPanFactor;
            lastLeftX_ = x;
            lastLeftY_ = y;
            return true;
        }
        if (rightDown_) {
            camera.zoom += static_cast<float>(lastRightY_ - y) * kPanFactor;
            lastRightX_ = x;
            lastRightY_ = y;
            return true;
        }
    } else if (motionMode == kMotionRotate) {
        if (leftDown_) {
            camera.rotZ -= static_cast<float>(lastLeftX_ - x) * kRotFactor;
            camera.rotX -= static_cast<float>(lastLeftY_ - y) * kRotFactor;
            lastLeftX_ = x;
            lastLeftY_ = y;
            return true;
        }
        if (rightDown_) {
            camera.rotY -= static_cast<float>(lastRightX_ - x) * kRotFactor;
            lastRightX_ = x;
            lastRightY_ = y;
            return true;
        }
    }
    return false;
}

} // namespace quarv
