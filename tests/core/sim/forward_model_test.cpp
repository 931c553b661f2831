#include "core/sim/forward_model.hpp"
#include "core/sim/scanner_model.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace quarv::sim {
namespace {

ScannerOptions skewedScanner() {
    ScannerOptions o;
    o.azFactorNeg = 9.0f;
    o.azFactorPos = 11.5f;
    o.elFactorNeg = 4.2f;
    o.elFactorPos = 5.9f;
    o.xOffsetM = 0.05f;
    o.yOffsetM = 0.12f;
    o.zOffsetM = -0.07f;
    o.frontGlassOffsetM = 0.031f;
    o.panDeg = 17.0;
    o.tiltDeg = -23.0;
    return o;
}

TEST(SimScanner, VoltsGiveBackTheOpticalAnglesWithEitherSignsFactor) {
    const ScanHeader h = makeHeader(skewedScanner(), false);
    for (double deg : {-35.0, -12.5, -0.01, 0.0, 0.01, 8.0, 41.0}) {
        SCOPED_TRACE(deg);
        const float a = azimuthVolts(deg, h.calibration);
        const float e = elevationVolts(deg, h.calibration);
        // Positive optical azimuth needs a negative reading (the geometry inverts its sign).
        if (deg != 0) {
            EXPECT_EQ(a<0, deg> 0);
        }
        EXPECT_NEAR(traceBeam(a, 0.0, h.calibration, 1.34).azDeg, deg, 1e-5);
        EXPECT_NEAR(elevationDegrees(e, h.calibration), deg, 1e-5);
    }
}

TEST(SimScanner, InvalidOptionsAreNamed) {
    struct Case {
        const char* name;
        void (*edit)(ScannerOptions&);
    };
    const Case cases[] = {
        {"type", [](ScannerOptions& o) { o.scanType = 5; }},
        {"fractional interpolation", [](ScannerOptions& o) { o.interpolation = 2.5; }},
        {"negative factor", [](ScannerOptions& o) { o.elFactorNeg = -1.0f; }},
        {"too many shots", [](ScannerOptions& o) { o.shotsPerLine = 3001; }},
        {"bowtie too wide", [](ScannerOptions& o) { o.scanType = 4, o.shotsPerLine = 751; }},
        {"index", [](ScannerOptions& o) { o.refractiveIndex = 0.9; }},
        {"sweep", [](ScannerOptions& o) { o.azStopDeg = 75.0f; }},
    };
    for (const Case& c : cases) {
        ScannerOptions o;
        c.edit(o);
        EXPECT_NE(validateScanner(o), "") << c.name;
    }
}

TEST(SimScanner, TemperaturesFollowTheTrailerRule) {
    ScannerOptions o;
    o.digitizerTemperatureC = 14.0f;
    struct Case {
        std::optional<std::pair<float, float>> trailer;
        float a, b;
    };
    for (const Case& c :
         {Case{std::make_pair(12.5f, 13.0f), 12.5f, 13.0f},
          Case{std::make_pair(0.0f, 55.0f), 0.0f, 55.0f},
          Case{std::make_pair(12.5f, 55.5f), 14.0f, 14.0f},
          Case{std::make_pair(-0.1f, 10.0f), 14.0f, 14.0f}, Case{std::nullopt, 14.0f, 14.0f}}) {
        o.trailerTemperatures = c.trailer;
        const auto t = processingTemperatures(o);
        EXPECT_EQ(t.first, c.a);
        EXPECT_EQ(t.second, c.b);
    }
}

TEST(SimScanner, PatternSweepsLinesAndBowties) {
    ScannerOptions o;
    o.shotsPerLine = 11;
    o.lines = 5;
    const ScanHeader h = makeHeader(o, false);
    for (std::uint8_t type : {0, 2}) {
        o.scanType = type;
        const ScanPattern p(o, h.calibration);
        EXPECT_NEAR(elevationDegrees(p.lineElevation(0), h.calibration), o.elStartDeg, 1e-5);
        EXPECT_NEAR(elevationDegrees(p.lineElevation(4), h.calibration), o.elStopDeg, 1e-5);
        // Moving Continuous runs every second line backwards.
        const float first = p.shotAzimuth(1, 0), last = p.shotAzimuth(1, 10);
        EXPECT_EQ(first, type == 2 ? p.shotAzimuth(0, 10) : p.shotAzimuth(0, 0));
        EXPECT_EQ(last, type == 2 ? p.shotAzimuth(0, 0) : p.shotAzimuth(0, 10));
    }
    o.scanType = 4;
    const ScanPattern p(o, h.calibration);
    // The four passes: diagonal up, vertical down at the far side, diagonal up, vertical down.
    const auto start = p.bowtieReading(2, 0), pass1 = p.bowtieReading(2, 11),
               pass2 = p.bowtieReading(2, 22), pass3 = p.bowtieReading(2, 33);
    EXPECT_EQ(pass1.first, p.shotAzimuth(2, 10));
    EXPECT_EQ(pass2.first, p.shotAzimuth(2, 10));
    EXPECT_EQ(pass3.first, p.shotAzimuth(2, 0));
    EXPECT_EQ(start.first, p.shotAzimuth(2, 0));
    EXPECT_LT(start.second, pass1.second);
    EXPECT_EQ(start.second, pass2.second);
    EXPECT_NEAR(0.5 * (start.second + pass1.second), p.lineElevation(2), 1e-6);
}

// The ray of the forward model is the line on which the processing places a shot's points.
TEST(SimForward, RayFollowsThePointPlacement) {
    for (const double pan : {0.0, 0.004, 17.0, -95.0}) {
        for (const double tilt : {0.0, -0.005, -23.0, 31.0}) {
            ScannerOptions o = skewedScanner();
            o.panDeg = pan;
            o.tiltDeg = tilt;
            const ScanHeader h = makeHeader(o, false);
            const ForwardModel model(h, 12.0f, 12.0f);
            const MountRotation mount = MountRotation::fromPanTilt(h.panTilt);
            for (float a : {-2.7f, 0.0f, 1.3f}) {
                for (float e : {-3.1f, 0.0f, 2.2f}) {
                    const ShotBeam s = model.beam(a, e);
                    const BeamPath b =
                        traceBeam(a, elevationDegrees(e, h.calibration), h.calibration, 1.34);
                    EXPECT_EQ(s.azDeg, b.azDeg);
                    EXPECT_EQ(s.excess, b.excess);
                    EXPECT_NEAR(norm(s.ray.dir), 1.0, 1e-6);
                    for (float range : {0.5f, 4.0f, 25.0f}) {
                        CloudPoint pt;
                        const double rPrime = placePoint(pt, b, range, h.calibration, mount);
                        const Vec3 q = s.ray.at(rPrime);
                        // f32 positions: a few ulps of 25 m.
                        EXPECT_NEAR(pt.x, q.x, 1e-5);
                        EXPECT_NEAR(pt.y, q.y, 1e-5);
                        EXPECT_NEAR(pt.z, q.z, 1e-5);
                    }
                }
            }
        }
    }
}

// Positions against the range arithmetic of the processing: t = scale p / F T, range =
// c / 2n (t - offset), after adding the horizontal position and taking off the temperature
// correction.
TEST(SimForward, RecordPositionMatchesTheRangeArithmetic) {
    ScannerOptions o;
    o.timeOffsetNs = 0.0f;
    o.tempCoefC2 = o.tempCoefC1 = o.tempCoefC0 = 0.0;
    {
        const ForwardModel m(makeHeader(o, false), 12.0f, 12.0f);
        // 400 interpolated samples at F = 4 and n = 1.34 are 2.7966 m.
        EXPECT_NEAR(m.recordPosition(299792458.0 / 2.68 * 2.5e-8, 0.0, 0.0), 400.0, 1e-9);
        // A delay of 100 ns moves the peak 1600 interpolated samples towards the record start.
        EXPECT_NEAR(m.recordPosition(20.0, 0.0, 0.0) - m.recordPosition(20.0, 0.0, 1e-7), 1600.0,
                    1e-9);
        // The path inside the housing is part of the measured range.
        EXPECT_NEAR(m.recordPosition(3.0, 0.01, 0.0), m.recordPosition(3.01, 0.0, 0.0), 1e-9);
    }
    {
        // A time offset of 10 ns is 40 raw samples, 160 interpolated ones.
        o.timeOffsetNs = 10.0f;
        const ForwardModel m(makeHeader(o, false), 12.0f, 12.0f);
        o.timeOffsetNs = 0.0f;
        const ForwardModel m0(makeHeader(o, false), 12.0f, 12.0f);
        EXPECT_NEAR(m.recordPosition(5.0, 0.0, 0.0) - m0.recordPosition(5.0, 0.0, 0.0), 160.0,
                    1e-9);
    }
    {
        // c1 = 1 with temperatures 10 and 20: the processing takes 15 samples off, so the peak
        // sits 15 samples later; in air the correction is off.
        o.tempCoefC1 = 1.0;
        const ForwardModel water(makeHeader(o, false), 10.0f, 20.0f);
        o.tempCoefC1 = 0.0;
        const ForwardModel plain(makeHeader(o, false), 10.0f, 20.0f);
        EXPECT_NEAR(water.recordPosition(5.0, 0.0, 0.0) - plain.recordPosition(5.0, 0.0, 0.0), 15.0,
                    1e-9);
        o.tempCoefC1 = 1.0;
        o.refractiveIndex = 1.0003;
        const ForwardModel air(makeHeader(o, false), 10.0f, 20.0f);
        o.tempCoefC1 = 0.0;
        const ForwardModel airPlain(makeHeader(o, false), 10.0f, 20.0f);
        EXPECT_NEAR(air.recordPosition(5.0, 0.0, 0.0), airPlain.recordPosition(5.0, 0.0, 0.0),
                    1e-9);
        EXPECT_FALSE(air.temperatureCompensated());
    }
    {
        // Everything at once, through the inverse: the processing recovers the range.
        ScannerOptions all = skewedScanner();
        all.timeScale = 1.0007f;
        all.interpolation = 8.0;
        const ForwardModel m(makeHeader(all, false), 9.5f, 13.25f);
        for (double r : {0.7, 3.3, 12.0, 41.0}) {
            const double pos = m.recordPosition(r, 0.004, 3.5e-9);
            EXPECT_NEAR(m.measuredRange(pos, 3.5e-9), r + 0.004, 1e-12);
        }
        // A time scale above 1 stretches the processing's time axis: the same range sits at a
        // smaller position.
        all.timeScale = 1.0f;
        const ForwardModel unscaled(makeHeader(all, false), 9.5f, 13.25f);
        EXPECT_LT(m.recordPosition(10.0, 0.0, 0.0), unscaled.recordPosition(10.0, 0.0, 0.0));
    }
}

} // namespace
} // namespace quarv::sim
