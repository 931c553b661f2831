// The file readers under fuzzing. Each entry takes the bytes of one hostile file, hands them to a
// reader through a real file (the readers work on paths) and drives every read operation the
// program performs on such a file. An entry returns 0; a broken invariant (a reader that claims
// more than the file holds, a load/save that changes bytes) aborts with a message, which both
// libFuzzer and the replay test report as a failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

namespace quarv::fuzz {

using Entry = int (*)(const std::uint8_t* data, std::size_t size);

struct Target {
    std::string_view name; // folder name under corpus/ and regressions/
    Entry entry;
};

int rawScanFile(const std::uint8_t* data, std::size_t size);
int cloudFile3dc(const std::uint8_t* data, std::size_t size);
int lasFile(const std::uint8_t* data, std::size_t size);
int layerList(const std::uint8_t* data, std::size_t size);
int quarvSettingsFile(const std::uint8_t* data, std::size_t size);
int colorSettingsFile(const std::uint8_t* data, std::size_t size);
int laserScanSettingsFile(const std::uint8_t* data, std::size_t size);

std::span<const Target> targets();

// A private scratch folder of this process (created on first use, removed at exit).
const std::filesystem::path& scratchDir();
// Writes the bytes to `name` inside the scratch folder (sub-folders allowed) and returns the path.
std::filesystem::path writeScratch(std::string_view name, const std::uint8_t* data,
                                   std::size_t size);
// Aborts with `what` when `ok` is false.
void require(bool ok, const char* what);

} // namespace quarv::fuzz
