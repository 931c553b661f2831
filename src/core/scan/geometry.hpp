// Scan geometry: the small ray trace that turns two mirror readings and a measured range into a
// point. The beam goes from the azimuth mirror to the elevation mirror, through the flat window
// (Snell at both faces) into the water; the path inside the housing is taken off the range, then
// the sensor offsets, the mount tilt and the pan are applied. Frame: Y out through the window
// along the boresight, X with the azimuth deflection, Z with the elevation deflection.
#pragma once

#include "core/cloud/cloud_point.hpp"
#include "core/config/records.hpp"

namespace quarv {

constexpr double AZMIRROR_TO_ELMIRROR_M = 0.01934;
constexpr double ELMIRROR_TO_WINDOW_M = 0.026;
constexpr double WINDOW_THICKNESS_M = 0.016;
constexpr double WINDOW_INDEX = 1.7717632554;
constexpr double ROTATION_EPS = 0.0001;

// pi as the system computes it, 4 atan(1).
double quarvPi();
inline double degToRad(double deg) {
    return deg * quarvPi() / 180.0;
}

// Degrees of a scanner reading: the reading times the calibration factor of its sign (a reading
// of exactly 0 uses the factor for non-negative readings).
double elevationDegrees(float elevationReading, const CalibrationCfg& cal);

// The beam of one shot before offsets and mount rotation.
struct BeamPath {
    double azDeg = 0;              // full optical azimuth, 2 x half mirror angle
    double x0 = 0, z0 = 0;         // exit point on the outer face of the window
    double dx = 0, dy = 0, dz = 0; // unit direction in the water
    double excess = 0;             // extra path inside the housing, metres
};
BeamPath traceBeam(float azimuthReading, double elDeg, const CalibrationCfg& cal, double nWater);

// The mount rotation of one file: tilt about X (Y-Z plane), then pan about Z (X-Y plane).
struct MountRotation {
    float tiltRad = 0, panRad = 0; // as f32, the way the thresholds compare them
    float tiltCos = 1, tiltSin = 0;

    void setTiltRotation(float tiltRadians);
    static MountRotation fromPanTilt(const PanTiltCfg& panTilt);
};

void rotateTilt(CloudPoint& p, float tiltCos, float tiltSin);
void rotatePan(CloudPoint& p, float angleRad);

// Steps common to every point: position from the beam and the corrected range, offsets, tilt,
// pan. Writes x, y, z and returns the corrected range R' = R - excess.
double placePoint(CloudPoint& p, const BeamPath& beam, float range, const CalibrationCfg& cal,
                  const MountRotation& mount);

// A shot's point from its azimuth reading, the line's elevation in degrees and the measured
// range: x, y, z, the corrected range and the full azimuth in degrees, the elevation in degrees.
void placeShot(CloudPoint& p, float azimuthReading, double elDeg, float range,
               const CalibrationCfg& cal, const MountRotation& mount, double nWater);

} // namespace quarv
