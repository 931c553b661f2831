#include "core/geo/attitude.hpp"

#include <cmath>
#include <numbers>

namespace quarv {

namespace {
constexpr double kRad = std::numbers::pi / 180.0;
}

RigidTransform RigidTransform::then(const RigidTransform& next) const {
    RigidTransform out;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double s = 0;
            for (int k = 0; k < 3; ++k) s += next.r[3 * i + k] * r[3 * k + j];
            out.r[3 * i + j] = s;
        }
    }
    const auto moved = next.apply(t[0], t[1], t[2]);
    out.t = moved;
    return out;
}

RigidTransform levelling(Attitude a) {
    const double cp = std::cos(a.pitchDeg * kRad), sp = std::sin(a.pitchDeg * kRad);
    const double cr = std::cos(a.rollDeg * kRad), sr = std::sin(a.rollDeg * kRad);
    // Ry(roll): X' = X cr + Z sr, Z' = -X sr + Z cr (the +X side goes down for positive roll).
    RigidTransform roll;
    roll.r = {cr, 0, sr, 0, 1, 0, -sr, 0, cr};
    // Rx(pitch): Y' = Y cp - Z sp, Z' = Y sp + Z cp (the boresight goes up for positive pitch).
    RigidTransform pitch;
    pitch.r = {1, 0, 0, 0, cp, -sp, 0, sp, cp};
    return roll.then(pitch);
}

RigidTransform placement(double headingDeg, const std::array<double, 3>& position) {
    const double c = std::cos(headingDeg * kRad), s = std::sin(headingDeg * kRad);
    RigidTransform p;
    // East = X cos h + Y sin h, North = -X sin h + Y cos h: the boresight (0, 1) points at
    // (sin h, cos h), clockwise from north.
    p.r = {c, s, 0, -s, c, 0, 0, 0, 1};
    p.t = position;
    return p;
}

} // namespace quarv
