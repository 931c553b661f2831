// The forward model of one shot: the mirror readings become the beam in the frame of the
// processed points (the same trace, offsets, tilt and pan the processing applies), and a distance
// along that beam becomes the peak position inside the digitiser record from which the
// processing will recover exactly that distance (time offset and scale, horizontal position,
// temperature correction, interpolation).
#pragma once

#include "core/geo/attitude.hpp"
#include "core/scan/geometry.hpp"
#include "core/scanfile/scan_header.hpp"
#include "core/sim/scene.hpp"

namespace quarv::sim {

constexpr double kSpeedOfLight = 299792458.0; // m/s
constexpr double kRawSamplePeriod = 2.5e-10;  // s
constexpr double kTemplatePeakOffset = 48.0;  // interpolated samples

struct ShotBeam {
    double azDeg = 0, elDeg = 0; // as the geometry reports them
    double excess = 0;           // path inside the housing, metres
    // World ray whose parameter is the corrected range R': the point the processing places for
    // a corrected range R' is origin + dir * R' (dir is unit to within f32 rounding of the
    // mount rotation). In the scanner's frame: where the processing puts the point.
    Ray ray;
    // The same ray in the level frame of the scene: turned by the header's pitch and roll as
    // levelling (core/geo/attitude.hpp) turns the points.
    Ray world;
};

class ForwardModel {
public:
    // `tempA`, `tempB`: the two temperatures the processing will use (see
    // processingTemperatures()).
    ForwardModel(const ScanHeader& header, float tempA, float tempB);

    ShotBeam beam(float azimuthReading, float elevationReading) const;

    // Peak position of a return at corrected range R', in interpolated samples from the first
    // sample of the digitiser record that starts `horPos` seconds after the laser fire.
    double recordPosition(double rangePrime, double excess, double horPos) const;
    // The inverse, as the processing computes it: the measured (uncorrected) range of a peak at
    // `position` interpolated samples.
    double measuredRange(double position, double horPos) const;

    double interpolation() const { return factor_; }
    double refractiveIndex() const { return n_; }
    bool temperatureCompensated() const { return n_ > 1.1; }

private:
    CalibrationCfg cal_;
    MountRotation mount_;
    RigidTransform level_;
    double n_, factor_, timeOffsetS_, timeScale_, tempCorrection_;
};

} // namespace quarv::sim
