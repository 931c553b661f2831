// Processing constants shared by the waveform code and its callers.
#pragma once

namespace quarv {

// Digitiser sample period (4 GS/s) and the speed of light in vacuum.
constexpr double RAW_SAMPLE_PERIOD_S = 2.5e-10;
constexpr double SPEED_OF_LIGHT_MPS = 299792458.0;
// A refractive index above this means the scanner looks into water (temperature compensation on).
constexpr double WATER_INDEX_THRESHOLD = 1.1;
// The pulse template: 100 samples at the interpolated rate, its peak 48 samples after its start.
constexpr int TEMPLATE_LENGTH = 100;
constexpr int TEMPLATE_PEAK_OFFSET = 48;
// Raw counts at or above this level mean the digitiser clipped the return.
constexpr float SATURATION_LEVEL = 780.0f;
// The SNR given to a saturated return instead of a measured one (the float nearest 9e9).
constexpr double SATURATED_SNR = 8999999488.0;
constexpr int NOISE_SAMPLES = 20;

} // namespace quarv
