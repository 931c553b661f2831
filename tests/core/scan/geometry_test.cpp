// The ray trace and the point placement: what the end-to-end goldens and the simulated scans
// cannot tell apart (the same code places the simulator's truth), namely the calibration's choice
// of factor by the reading's sign and the mount's rotation threshold and sense.
#include "core/scan/geometry.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace quarv {
namespace {

TEST(Geometry, ReadingSignSelectsTheFactorAndTheGlassDirectionObeysSnell) {
    CalibrationCfg cal;
    cal.setAzVoltToDegNeg(2.0f);
    cal.setAzVoltToDegPos(3.0f);
    cal.setElVoltToDegNeg(4.0f);
    cal.setElVoltToDegPos(5.0f);
    EXPECT_DOUBLE_EQ(elevationDegrees(-1.0f, cal), -4.0);
    EXPECT_DOUBLE_EQ(elevationDegrees(1.0f, cal), 5.0);
    EXPECT_DOUBLE_EQ(traceBeam(-1.0f, 0.0, cal, 1.34).azDeg, 2.0);
    EXPECT_DOUBLE_EQ(traceBeam(1.0f, 0.0, cal, 1.34).azDeg, -3.0);
    const BeamPath inGlass = traceBeam(3.0f, 7.0, cal, WINDOW_INDEX);
    const BeamPath inWater = traceBeam(3.0f, 7.0, cal, 1.34);
    EXPECT_GT(std::fabs(inGlass.dx), 0.0);
    EXPECT_NEAR(inGlass.dx * WINDOW_INDEX, inWater.dx * 1.34, 1e-12);
}

TEST(Geometry, PanAndTiltTurnTheBoresightOnlyAboveTheirThreshold) {
    const CalibrationCfg cal;
    const BeamPath b = traceBeam(0.0f, 0.0, cal, 1.34);
    const double eps = 0.0001 * 180.0 / quarvPi();
    struct Case {
        double panDeg, tiltDeg;
        float x, y, z;
    };
    // Pan +90 turns the boresight (0, r, 0) onto +X, tilt +90 onto +Z.
    for (const Case c : {Case{eps * 0.99, 0, 0, 10, 0}, Case{0, eps * 0.99, 0, 10, 0},
                         Case{eps * 1.1, 0, 1.1e-3f, 10, 0}, Case{0, eps * 1.1, 0, 10, 1.1e-3f},
                         Case{90, 0, 10, 0, 0}, Case{0, 90, 0, 0, 10}}) {
        PanTiltCfg pt;
        pt.setPanAngle(c.panDeg);
        pt.setTiltAngle(c.tiltDeg);
        CloudPoint p;
        placePoint(p, b, 10.0f, cal, MountRotation::fromPanTilt(pt));
        EXPECT_NEAR(p.x, c.x, 1e-5) << c.panDeg << " " << c.tiltDeg;
        EXPECT_NEAR(p.y, c.y, 1e-5) << c.panDeg << " " << c.tiltDeg;
        EXPECT_NEAR(p.z, c.z, 1e-5) << c.panDeg << " " << c.tiltDeg;
    }
}

} // namespace
} // namespace quarv
