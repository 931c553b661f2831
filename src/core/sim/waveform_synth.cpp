#include "core/sim/waveform_synth.hpp"

#include <algorithm>
#include <cmath>

namespace quarv::sim {

double cleanSignal(const WaveformOptions& opt, std::span<const Echo> echoes,
                   const Backscatter& water, double i) {
    double v = opt.baseline;
    const double inv2s2 = 1.0 / (2.0 * opt.pulseSigmaRaw * opt.pulseSigmaRaw);
    for (const Echo& e : echoes) {
        const double d = i - e.rawPosition;
        // Beyond 8 sigma the pulse is below a millionth of a count per 1000 counts.
        if (std::fabs(d) < 8.0 * opt.pulseSigmaRaw) v += e.amplitude * std::exp(-d * d * inv2s2);
    }
    if (water.amplitude > 0 && water.decayRaw > 0) {
        // An exponential decay that starts at the window, blurred by the pulse (exponentially
        // modified Gaussian), scaled so that it begins at `amplitude`.
        const double s = opt.pulseSigmaRaw, tau = water.decayRaw, x = i - water.startRaw;
        const double arg = (s / tau - x / s) / std::sqrt(2.0);
        const double expo = s * s / (2.0 * tau * tau) - x / tau;
        // Before the window (arg large) nothing arrives; far after it the decay is a thousandth
        // of a count and dropped.
        if (arg < 6.0 && expo < 700.0) {
            const double tail = water.amplitude * std::exp(expo);
            if (tail > 1e-3) v += tail * (arg < -6.0 ? 1.0 : 0.5 * std::erfc(arg));
        }
    }
    return v;
}

void synthesizeWaveform(const WaveformOptions& opt, std::span<const Echo> echoes,
                        const Backscatter& water, Random& rng, std::span<std::int16_t> samples) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
        double v = cleanSignal(opt, echoes, water, static_cast<double>(i));
        if (opt.noiseSigma > 0) v += opt.noiseSigma * rng.normal();
        v = std::clamp(v, -32768.0, std::min(opt.clipLevel, 32767.0));
        samples[i] = static_cast<std::int16_t>(std::lround(v));
    }
}

} // namespace quarv::sim
