// Small recordings for the dialog and workstation tests, written by the simulator into a
// temporary folder.
#pragma once

#include "core/sim/simulator.hpp"

#include <filesystem>
#include <functional>
#include <string>

namespace quarv::test {

// A "plane" scene recording (the flat target at `distance` metres) with a small geometry unless
// `adjust` changes it. Fails the calling test when the simulator refuses.
std::filesystem::path makeRecording(const std::filesystem::path& dir, const std::string& name,
                                    const std::function<void(sim::SimOptions&)>& adjust = {},
                                    sim::SimResult* result = nullptr);

// Rewrites the pulses-per-position count K (ScannerCfg byte 2) of a recording's header.
void setPulsesPerPosition(const std::filesystem::path& file, std::uint16_t k);

} // namespace quarv::test
