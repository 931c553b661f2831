// The simulator's own pseudo-random numbers: xoshiro256** seeded through splitmix64, with uniform
// and Gaussian draws computed here rather than by the standard library's distributions, whose
// output differs between library versions. A seed gives the same recording everywhere.
#pragma once

#include <array>
#include <cstdint>

namespace quarv::sim {

// One step of splitmix64; also used to derive independent stream seeds from one user seed.
std::uint64_t splitMix64(std::uint64_t& state);

class Random {
public:
    explicit Random(std::uint64_t seed);

    std::uint64_t next();
    // Uniform in [0, 1) with 53 random bits.
    double uniform();
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Standard normal (Marsaglia's polar method; the spare value is kept for the next call).
    double normal();

private:
    std::array<std::uint64_t, 4> s_{};
    double spare_ = 0;
    bool hasSpare_ = false;
};

// Seed of a named sub-stream of a user seed, so that for example the scene's scatterers stay put
// when waveform options change.
std::uint64_t streamSeed(std::uint64_t seed, std::uint64_t stream);

} // namespace quarv::sim
