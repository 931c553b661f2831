// The simulator's settings by name: every scanner, calibration and waveform setting that
// quarv-cli simulate takes as an option and the Python module as a keyword, with its allowed
// range, in one table so that both accept and refuse exactly the same values.
#pragma once

#include "core/sim/simulator.hpp"

#include <cstddef>
#include <span>
#include <string>

namespace quarv::sim {

struct SimOptionSpec {
    const char* name; // as the command line spells it: "hor-pos", "no-trailer"
    // 0: a flag, set by its presence; 1: one number within [lo, hi]; more: that many numbers.
    std::size_t count;
    double lo, hi;
    void (*set)(SimOptions& options, const double* values);
};

// Every option, flags first, in the order they are applied and checked.
std::span<const SimOptionSpec> simOptionTable();
// The entry named `name`, or null.
const SimOptionSpec* findSimOption(const std::string& name);

// Sets `values` (spec.count of them; none for a flag). Returns "" or what is wrong with them:
// "out of range" for a number outside its bounds, "needs K comma-separated numbers" for a list
// of another length or with a value that is not a finite number.
std::string applySimOption(SimOptions& options, const SimOptionSpec& spec,
                           std::span<const double> values);

// Gives a recording without a note of its own "Simulated SCENE, seed S".
void applyDefaultNote(SimOptions& options);

} // namespace quarv::sim
