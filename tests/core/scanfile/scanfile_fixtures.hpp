// Builders shared by the scan file tests: headers of each geometry and deterministic record
// contents whose every element differs, so a value read from the wrong offset shows.
#pragma once

#include "core/scanfile/scan_header.hpp"

#include <cstdint>
#include <vector>

namespace quarv::test {

inline ScanHeader makeHeader(std::uint8_t scanType, std::uint16_t w, std::uint16_t p,
                             std::uint16_t n, std::uint16_t lines = 3) {
    ScanHeader h;
    h.scanner.setShotsPerLine(w);
    h.scanner.setLines(lines);
    h.scanner.setScanType(scanType);
    h.scanner.setPulsesPerPosition(p);
    h.digitizer.setSamplesPerPulse(n);
    h.digitizer.setPulsesPerRecord(p);
    h.digitizer.setTemperatureC(17.25f);
    return h;
}

// Distinct, exactly representable values per record and element.
inline std::vector<float> floats(std::size_t count, int record, float base) {
    std::vector<float> v(count);
    for (std::size_t i = 0; i < count; ++i)
        v[i] = base + static_cast<float>(record) * 1000.0f + static_cast<float>(i) * 0.25f;
    return v;
}
inline std::vector<double> doubles(std::size_t count, int record, double base) {
    std::vector<double> v(count);
    for (std::size_t i = 0; i < count; ++i) v[i] = base + record * 1e4 + static_cast<double>(i) / 8;
    return v;
}
inline std::vector<std::uint32_t> wordsFor(std::size_t count, int record) {
    std::vector<std::uint32_t> v(count);
    for (std::size_t i = 0; i < count; ++i)
        v[i] = 0xA5000000u + static_cast<std::uint32_t>(record) * 0x10000u +
               static_cast<std::uint32_t>(i);
    return v;
}
inline std::vector<std::int16_t> samplesFor(std::size_t count, int record) {
    std::vector<std::int16_t> v(count);
    for (std::size_t i = 0; i < count; ++i)
        v[i] = static_cast<std::int16_t>(static_cast<int>((i * 7 + record * 131) % 4000) - 2000);
    return v;
}

} // namespace quarv::test
