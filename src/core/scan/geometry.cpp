#include "core/scan/geometry.hpp"

#include <cmath>

namespace quarv {

double quarvPi() {
    static const double pi = 4.0 * std::atan(1.0);
    return pi;
}

double elevationDegrees(float e, const CalibrationCfg& cal) {
    const float factor = e < 0 ? cal.elVoltToDegNeg() : cal.elVoltToDegPos();
    return static_cast<double>(e) * static_cast<double>(factor);
}

BeamPath traceBeam(float a, double elDeg, const CalibrationCfg& cal, double nWater) {
    BeamPath b;
    const double factor = a < 0 ? cal.azVoltToDegNeg() : cal.azVoltToDegPos();
    const double half = -static_cast<double>(a) * factor / 2.0;
    b.azDeg = 2.0 * half;
    const double h = half * quarvPi() / 180.0;

    // Azimuth mirror to elevation mirror.
    const double t1 = std::tan(2.0 * h) * AZMIRROR_TO_ELMIRROR_M;
    const double l1 = AZMIRROR_TO_ELMIRROR_M / std::cos(2.0 * h);

    // Reflections at both mirrors (rest angle 45 degrees).
    const double alpha = (45.0 + half) * quarvPi() / 180.0;
    const double ta = std::tan(alpha);
    const double ca = 1.0 / std::sqrt(ta * ta + 1.0);
    const double sa = ta * ca;
    const double u = 1.0 - 2.0 * ca * ca;
    const double v = -2.0 * ca * sa;
    const double beta = (elDeg / 2.0 + 45.0) * quarvPi() / 180.0;
    const double tb = std::tan(beta);
    const double cb = 1.0 / std::sqrt(tb * tb + 1.0);
    const double sb = -cb * tb;
    const double w = u;
    const double p = (1.0 - 2.0 * sb * sb) * v;
    const double q = 2.0 * sb * cb * v;

    // Elevation mirror to the inner face of the window.
    const double l2 = ELMIRROR_TO_WINDOW_M / q;
    const double t2x = l2 * w;
    const double t2z = l2 * p;

    // Through the glass.
    const double gz = p / WINDOW_INDEX;
    const double gx = w / WINDOW_INDEX;
    const double gy = std::sqrt(1.0 - gz * gz - gx * gx);
    const double l3 = WINDOW_THICKNESS_M / gy;
    const double t3x = l3 * gx;
    const double t3z = l3 * gz;

    // Into the water.
    b.dz = WINDOW_INDEX * gz / nWater;
    b.dx = WINDOW_INDEX * gx / nWater;
    b.dy = std::sqrt(1.0 - b.dz * b.dz - b.dx * b.dx);

    b.x0 = t1 + t2x + t3x;
    b.z0 = t2z + t3z;
    b.excess =
        (l1 + l2 + l3) - (AZMIRROR_TO_ELMIRROR_M + ELMIRROR_TO_WINDOW_M + WINDOW_THICKNESS_M);
    return b;
}

void MountRotation::setTiltRotation(float tiltRadians) {
    tiltCos = static_cast<float>(std::cos(static_cast<double>(tiltRadians)));
    tiltSin = static_cast<float>(std::sin(static_cast<double>(tiltRadians)));
}

MountRotation MountRotation::fromPanTilt(const PanTiltCfg& pt) {
    MountRotation m;
    m.tiltRad = static_cast<float>(degToRad(pt.tiltAngle()));
    m.panRad = static_cast<float>(degToRad(pt.panAngle()));
    m.setTiltRotation(m.tiltRad);
    return m;
}

void rotateTilt(CloudPoint& pt, float c, float s) {
    const double y = pt.y, z = pt.z;
    pt.y = static_cast<float>(y * c - z * s);
    pt.z = static_cast<float>(y * s + z * c);
}

void rotatePan(CloudPoint& pt, float angle) {
    const float c = static_cast<float>(std::cos(static_cast<double>(angle)));
    const float s = static_cast<float>(std::sin(static_cast<double>(angle)));
    const double x = pt.x, y = pt.y;
    pt.x = static_cast<float>(x * c - y * s);
    pt.y = static_cast<float>(x * s + y * c);
}

double placePoint(CloudPoint& pt, const BeamPath& b, float range, const CalibrationCfg& cal,
                  const MountRotation& m) {
    const double r = static_cast<double>(range) - b.excess;
    pt.x = static_cast<float>(r * b.dx + b.x0);
    pt.y = static_cast<float>(r * b.dy);
    pt.z = static_cast<float>(r * b.dz + b.z0);
    pt.x = static_cast<float>(static_cast<double>(pt.x) + cal.xOffsetM());
    pt.y = static_cast<float>(static_cast<double>(pt.y) +
                              (static_cast<double>(cal.yOffsetM()) - cal.frontGlassOffsetM()));
    pt.z = static_cast<float>(static_cast<double>(pt.z) + cal.zOffsetM());
    if (std::fabs(m.tiltRad) > ROTATION_EPS) rotateTilt(pt, m.tiltCos, m.tiltSin);
    if (std::fabs(m.panRad) > ROTATION_EPS) rotatePan(pt, -m.panRad);
    return r;
}

void placeShot(CloudPoint& p, float azimuthReading, double elDeg, float range,
               const CalibrationCfg& cal, const MountRotation& mount, double nWater) {
    const BeamPath beam = traceBeam(azimuthReading, elDeg, cal, nWater);
    p.range = static_cast<float>(placePoint(p, beam, range, cal, mount));
    p.azimuth = static_cast<float>(beam.azDeg);
    p.elevation = static_cast<float>(elDeg);
}

} // namespace quarv
