// The one-byte requests that the processing thread carries out, one per semaphore release.
#pragma once

#include <cstdint>

namespace quarv {

enum class ProcessRequest : std::uint8_t {
    None = 0,
    ProcessPlayback = 1,  // a raw recording into the current layer, then FilterLayers
    ProcessCloudFile = 2, // a stored peak (3DC) file into the current layer
    ImportLas = 3,        // a LAS file into the current layer
    FilterLayers = 4,     // the neighbour filters on every layer that waits for them
};

// How the Process command tells the kinds of file apart: case-sensitive substring tests, the
// first that matches wins (so "a.3DC.raw" is a cloud file and "a.LAS" a raw recording).
inline ProcessRequest requestForPath(const char* path) {
    const auto contains = [path](const char* needle) {
        for (const char* p = path; *p; ++p) {
            const char* a = p;
            const char* b = needle;
            while (*a && *b && *a == *b) ++a, ++b;
            if (!*b) return true;
        }
        return false;
    };
    if (contains(".las")) return ProcessRequest::ImportLas;
    if (contains(".3DC")) return ProcessRequest::ProcessCloudFile;
    return ProcessRequest::ProcessPlayback;
}

} // namespace quarv
