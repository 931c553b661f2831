// The simulator's scanner model against the processing's geometry: mirror volts give back their
// optical angles, and the forward model's ray is the line on which the processing places points.
#include "core/sim/forward_model.hpp"
#include "core/sim/scanner_model.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace quarv::sim {
namespace {

ScannerOptions skewedScanner(double pan = 17.0, double tilt = -23.0) {
    ScannerOptions o;
    o.azFactorNeg = 9.0f;
    o.azFactorPos = 11.5f;
    o.elFactorNeg = 4.2f;
    o.elFactorPos = 5.9f;
    o.xOffsetM = 0.05f;
    o.yOffsetM = 0.12f;
    o.zOffsetM = -0.07f;
    o.frontGlassOffsetM = 0.031f;
    o.panDeg = pan;
    o.tiltDeg = tilt;
    return o;
}

TEST(SimForward, RayFollowsThePointPlacementAndRangesInvert) {
    for (const double pan : {0.0, 0.004, 17.0, -95.0}) {
        for (const double tilt : {0.0, -0.005, -23.0, 31.0}) {
            const ScanHeader h = makeHeader(skewedScanner(pan, tilt), false);
            const ForwardModel model(h, 12.0f, 12.0f);
            const MountRotation mount = MountRotation::fromPanTilt(h.panTilt);
            for (float a : {-2.7f, 0.0f, 1.3f}) {
                for (float e : {-3.1f, 0.0f, 2.2f}) {
                    const ShotBeam s = model.beam(a, e);
                    const BeamPath b =
                        traceBeam(a, elevationDegrees(e, h.calibration), h.calibration, 1.34);
                    EXPECT_TRUE(s.azDeg == b.azDeg && s.excess == b.excess);
                    EXPECT_NEAR(norm(s.ray.dir), 1.0, 1e-6);
                    for (float range : {0.5f, 25.0f}) {
                        CloudPoint pt;
                        const Vec3 q = s.ray.at(placePoint(pt, b, range, h.calibration, mount));
                        // f32 positions: a few ulps of 25 m.
                        EXPECT_NEAR(norm(Vec3{double(pt.x), double(pt.y), double(pt.z)} - q), 0.0,
                                    2e-5);
                    }
                }
            }
        }
    }
    // The processing's range arithmetic inverts the record position.
    ScannerOptions all = skewedScanner();
    all.timeScale = 1.0007f;
    all.interpolation = 8.0;
    const ForwardModel m(makeHeader(all, false), 9.5f, 13.25f);
    for (double r : {0.7, 12.0, 41.0})
        EXPECT_NEAR(m.measuredRange(m.recordPosition(r, 0.004, 3.5e-9), 3.5e-9), r + 0.004, 1e-12);
}

} // namespace
} // namespace quarv::sim
