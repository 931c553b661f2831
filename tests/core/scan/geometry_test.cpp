#include "core/scan/geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace quarv {
namespace {

CalibrationCfg calibration() {
    CalibrationCfg c;
    c.setAzVoltToDegNeg(2.0f);
    c.setAzVoltToDegPos(3.0f);
    c.setElVoltToDegNeg(4.0f);
    c.setElVoltToDegPos(5.0f);
    c.setXOffsetM(0.1f);
    c.setYOffsetM(0.2f);
    c.setZOffsetM(-0.3f);
    c.setFrontGlassOffsetM(0.05f);
    return c;
}

TEST(Geometry, StraightBeamLeavesAlongY) {
    const CalibrationCfg cal = calibration();
    const BeamPath b = traceBeam(0.0f, elevationDegrees(0.0f, cal), cal, 1.34);
    EXPECT_NEAR(b.dx, 0.0, 1e-15);
    EXPECT_NEAR(b.dz, 0.0, 1e-15);
    EXPECT_NEAR(b.dy, 1.0, 1e-15);
    EXPECT_NEAR(b.excess, 0.0, 1e-15);
    CloudPoint p;
    const double r = placePoint(p, b, 5.0f, cal, MountRotation{});
    EXPECT_NEAR(r, 5.0, 1e-12);
    EXPECT_FLOAT_EQ(p.x, 0.1f);
    EXPECT_FLOAT_EQ(p.y, 5.0f + 0.2f - 0.05f);
    EXPECT_FLOAT_EQ(p.z, -0.3f);
}

TEST(Geometry, ReadingSignSelectsFactorAndInvertsAzimuth) {
    const CalibrationCfg cal = calibration();
    EXPECT_DOUBLE_EQ(elevationDegrees(-1.0f, cal), -4.0);
    EXPECT_DOUBLE_EQ(elevationDegrees(1.0f, cal), 5.0);
    EXPECT_DOUBLE_EQ(traceBeam(-1.0f, 0.0, cal, 1.34).azDeg, 2.0);
    EXPECT_DOUBLE_EQ(traceBeam(1.0f, 0.0, cal, 1.34).azDeg, -3.0);
}

TEST(Geometry, DirectionIsUnitAndFollowsDeflection) {
    const CalibrationCfg cal = calibration();
    for (float a : {-4.0f, -1.0f, 2.0f, 5.0f}) {
        for (float e : {-3.0f, 0.5f, 4.0f}) {
            const BeamPath b = traceBeam(a, elevationDegrees(e, cal), cal, 1.34);
            EXPECT_NEAR(b.dx * b.dx + b.dy * b.dy + b.dz * b.dz, 1.0, 1e-12);
            EXPECT_GT(b.excess, 0.0);
            // X grows with the optical azimuth; refraction into water narrows the angle.
            EXPECT_EQ(b.dx > 0, b.azDeg > 0);
            EXPECT_LT(std::fabs(b.dx), std::fabs(std::sin(b.azDeg * quarvPi() / 180.0)));
        }
    }
}

TEST(Geometry, WaterIndexEqualToGlassKeepsGlassDirection) {
    const CalibrationCfg cal = calibration();
    const BeamPath inGlass = traceBeam(3.0f, 7.0, cal, WINDOW_INDEX);
    const BeamPath inWater = traceBeam(3.0f, 7.0, cal, 1.34);
    EXPECT_GT(std::fabs(inGlass.dx), 0.0);
    // Snell: n_water * sin(out) is the same for any medium.
    EXPECT_NEAR(inGlass.dx * WINDOW_INDEX, inWater.dx * 1.34, 1e-12);
}

TEST(Geometry, RotationsApplyOnlyAboveThreshold) {
    const CalibrationCfg cal = CalibrationCfg{};
    const BeamPath b = traceBeam(0.0f, 0.0, cal, 1.34);
    struct Case {
        double panDeg, tiltDeg;
        bool rotated;
    };
    const double eps = 0.0001 * 180.0 / quarvPi();
    for (const Case c : {Case{eps * 0.99, 0, false}, Case{0, eps * 0.99, false},
                         Case{eps * 1.1, 0, true}, Case{0, eps * 1.1, true}}) {
        PanTiltCfg pt;
        pt.setPanAngle(c.panDeg);
        pt.setTiltAngle(c.tiltDeg);
        CloudPoint p;
        placePoint(p, b, 10.0f, cal, MountRotation::fromPanTilt(pt));
        EXPECT_EQ(std::fabs(p.x) > 1e-4f || std::fabs(p.z) > 1e-4f, c.rotated)
            << c.panDeg << " " << c.tiltDeg;
    }
    // Pan of +90 degrees turns the boresight (0, r, 0) onto +X (the rotation uses -pan).
    PanTiltCfg pt;
    pt.setPanAngle(90.0);
    CloudPoint p;
    placePoint(p, b, 10.0f, cal, MountRotation::fromPanTilt(pt));
    EXPECT_NEAR(p.x, 10.0f, 1e-5);
    EXPECT_NEAR(p.y, 0.0f, 1e-5);
    // Tilt of +90 degrees turns it onto +Z.
    PanTiltCfg tilt;
    tilt.setTiltAngle(90.0);
    placePoint(p, b, 10.0f, cal, MountRotation::fromPanTilt(tilt));
    EXPECT_NEAR(p.z, 10.0f, 1e-5);
    EXPECT_NEAR(p.y, 0.0f, 1e-5);
}

} // namespace
} // namespace quarv
