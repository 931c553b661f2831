#include "core/sim/forward_model.hpp"

#include <cmath>

namespace quarv::sim {

ForwardModel::ForwardModel(const ScanHeader& h, float tempA, float tempB)
    : cal_(h.calibration), mount_(MountRotation::fromPanTilt(h.panTilt)),
      level_(levelling({h.attitude.pitchAngle(), h.attitude.rollAngle()})),
      n_(h.processing.refractiveIndex()), factor_(h.processing.interpolation()),
      timeOffsetS_(static_cast<double>(h.calibration.timeOffsetNs()) * 1e-9),
      timeScale_(static_cast<double>(h.calibration.timeScale())), tempCorrection_(0.0) {
    if (n_ > 1.1) {
        const double tm = (static_cast<double>(tempA) + static_cast<double>(tempB)) / 2.0;
        tempCorrection_ = cal_.tempCoefC2() * tm * tm + cal_.tempCoefC1() * tm + cal_.tempCoefC0();
    }
}

namespace {

// The offsets and the mount rotation, applied the way the point placement applies them (f32
// cosines and sines, the same thresholds), to a position (`translate`) or a direction.
Vec3 mountTransform(Vec3 v, const CalibrationCfg& cal, const MountRotation& m, bool translate) {
    if (translate) {
        v.x += cal.xOffsetM();
        v.y += static_cast<double>(cal.yOffsetM()) - cal.frontGlassOffsetM();
        v.z += cal.zOffsetM();
    }
    if (std::fabs(m.tiltRad) > ROTATION_EPS) {
        const double c = m.tiltCos, s = m.tiltSin;
        v = {v.x, v.y * c - v.z * s, v.y * s + v.z * c};
    }
    if (std::fabs(m.panRad) > ROTATION_EPS) {
        const float a = -m.panRad;
        const double c = static_cast<float>(std::cos(static_cast<double>(a)));
        const double s = static_cast<float>(std::sin(static_cast<double>(a)));
        v = {v.x * c - v.y * s, v.x * s + v.y * c, v.z};
    }
    return v;
}

} // namespace

ShotBeam ForwardModel::beam(float azimuthReading, float elevationReading) const {
    ShotBeam s;
    s.elDeg = elevationDegrees(elevationReading, cal_);
    const BeamPath b = traceBeam(azimuthReading, s.elDeg, cal_, n_);
    s.azDeg = b.azDeg;
    s.excess = b.excess;
    s.ray.origin = mountTransform({b.x0, 0.0, b.z0}, cal_, mount_, true);
    s.ray.dir = mountTransform({b.dx, b.dy, b.dz}, cal_, mount_, false);
    const auto o = level_.rotate(s.ray.origin.x, s.ray.origin.y, s.ray.origin.z);
    const auto d = level_.rotate(s.ray.dir.x, s.ray.dir.y, s.ray.dir.z);
    s.world = {{o[0], o[1], o[2]}, {d[0], d[1], d[2]}};
    return s;
}

double ForwardModel::recordPosition(double rangePrime, double excess, double horPos) const {
    const double measured = rangePrime + excess;
    const double tof = measured * 2.0 * n_ / kSpeedOfLight + timeOffsetS_;
    const double finalPosition = tof * factor_ / (kRawSamplePeriod * timeScale_);
    return finalPosition - horPos * factor_ / kRawSamplePeriod + tempCorrection_;
}

double ForwardModel::measuredRange(double position, double horPos) const {
    const double p = position + horPos * factor_ / kRawSamplePeriod - tempCorrection_;
    const double t = timeScale_ * p / factor_ * kRawSamplePeriod;
    return kSpeedOfLight / (2.0 * n_) * (t - timeOffsetS_);
}

} // namespace quarv::sim
