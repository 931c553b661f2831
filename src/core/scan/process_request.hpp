// The one-byte requests that the processing thread carries out, one per semaphore release.
#pragma once

#include <cstdint>
#include <filesystem>

namespace quarv {

enum class ProcessRequest : std::uint8_t {
    None = 0,
    ProcessPlayback = 1,  // a raw recording into the current layer, then FilterLayers
    ProcessCloudFile = 2, // a stored peak (3DC) file into the current layer
    ImportLas = 3,        // a LAS file into the current layer
    FilterLayers = 4,     // the neighbour filters on every layer that waits for them
};

// How the Process command and quarv-cli tell the kinds of file apart: a file whose first four
// bytes are "LASF" is a LAS file whatever its name; otherwise the last extension in any case
// decides: ".las" LAS (its reader then says why it is not one), ".3dc" a cloud file, anything
// else a raw recording. Only a regular file is looked into, so a FIFO never blocks the choice.
ProcessRequest requestForPath(const std::filesystem::path& path);

} // namespace quarv
