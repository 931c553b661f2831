// Rigid transforms of the point frame: levelling by the scanner's attitude and placement by its
// heading and position. The point frame is X to the side, Y along the boresight at zero pan and
// tilt, Z up; the mount's pan and tilt are already in the points.
//
// Attitude conventions (the header's "Pitch Angle" and "Roll Angle", degrees):
//  - pitch turns the boresight about X; positive pitch raises it (nose up), as a positive tilt
//    of the mount does;
//  - roll turns the housing about the boresight (Y); positive roll lowers the +X side;
//  - the housing is first rolled, then pitched: a point p measured by the scanner lies at
//    Rx(pitch) * Ry(roll) * p in the level frame, and that is what levelling computes.
// Placement: heading is clockwise from grid north to the boresight at pan 0, so the levelled
// frame is turned by -heading about Z (X east and Y north at heading 0), then moved to the
// position (easting, northing, height).
#pragma once

#include <array>

namespace quarv {

struct Attitude {
    double pitchDeg = 0;
    double rollDeg = 0;
};

struct RigidTransform {
    std::array<double, 9> r{1, 0, 0, 0, 1, 0, 0, 0, 1}; // row major
    std::array<double, 3> t{};

    std::array<double, 3> apply(double x, double y, double z) const {
        return {r[0] * x + r[1] * y + r[2] * z + t[0], r[3] * x + r[4] * y + r[5] * z + t[1],
                r[6] * x + r[7] * y + r[8] * z + t[2]};
    }
    // The rotation alone, for directions.
    std::array<double, 3> rotate(double x, double y, double z) const {
        return {r[0] * x + r[1] * y + r[2] * z, r[3] * x + r[4] * y + r[5] * z,
                r[6] * x + r[7] * y + r[8] * z};
    }
    // This transform followed by `next`.
    RigidTransform then(const RigidTransform& next) const;
};

// Scanner frame to level frame.
RigidTransform levelling(Attitude attitude);
// Level frame to the survey's coordinates.
RigidTransform placement(double headingDeg, const std::array<double, 3>& position);

} // namespace quarv
