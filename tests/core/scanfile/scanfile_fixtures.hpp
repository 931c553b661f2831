// Builders shared by the scan file tests: headers of each geometry, deterministic record contents
// whose every element differs (a value read from the wrong offset shows), and small files of each
// record kind written through RawFileWriter.
#pragma once

#include "core/scanfile/raw_writer.hpp"
#include "core/scanfile/scan_header.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
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

// One small file per record kind; record k holds the builders' values for k. Line: T 3, W 5, P 4,
// N 6 (S 138). Bowtie: T 4, W 2 (Q 8), N 3 (S 226). Stare: T 1, W 3, L 2, P 2, N 4 (S 66,
// record l W + c). Peak line: T 0, W 3, P 2 (file kind 2). Peak stare: T 1, W 3, L 2, P 2
// (file kind 0: peak by a ".pek" name alone).
enum class Kind { Line, Bowtie, Stare, PeakLine, PeakStare };

inline ScanHeader headerOf(Kind kind) {
    const int i = static_cast<int>(kind);
    const int t[] = {3, 4, 1, 0, 1}, w[] = {5, 2, 3, 3, 3}, p[] = {4, 1, 2, 2, 2},
              n[] = {6, 3, 4, 1, 1};
    ScanHeader h =
        makeHeader(std::uint8_t(t[i]), std::uint16_t(w[i]), std::uint16_t(p[i]),
                   std::uint16_t(n[i]), kind == Kind::Stare || kind == Kind::PeakStare ? 2 : 3);
    if (kind == Kind::PeakLine) h.fileKind = kFileKindPeak;
    if (kind == Kind::PeakStare) h.fileKind = 0;
    return h;
}

inline std::filesystem::path writeFile(const std::filesystem::path& path, Kind kind, int records,
                                       std::optional<std::pair<float, float>> trailer = {}) {
    RawFileWriter w;
    EXPECT_TRUE(w.open(path, headerOf(kind)));
    for (int k = 0; k < records; ++k) {
        const float fk = static_cast<float>(k);
        const bool ok =
            kind == Kind::Line
                ? w.writeLineRecord(0.5f + fk, floats(5, k, 1.0f), doubles(4, k, 100.0),
                                    wordsFor(4, k), samplesFor(24, k))
            : kind == Kind::Bowtie
                ? w.writeBowtieRecord(floats(8, k, 10.0f), floats(8, k, -10.0f), doubles(8, k, 7.0),
                                      wordsFor(8, k), samplesFor(24, k))
            : kind == Kind::Stare
                ? w.writeStareRecord(fk, -fk, doubles(2, k, 3.0), wordsFor(2, k), samplesFor(8, k))
            : kind == Kind::PeakLine
                ? w.writePeakLineRecord(fk + 0.25f, floats(3, k, 1), doubles(2, k, 1),
                                        doubles(2, k, 2), doubles(2, k, 3), doubles(2, k, 4))
                : w.writePeakStareRecord(fk, -fk, doubles(2, k, 1), doubles(2, k, 2),
                                         doubles(2, k, 3), doubles(2, k, 4));
        EXPECT_TRUE(ok) << k;
    }
    EXPECT_TRUE(w.finish(trailer));
    return path;
}

} // namespace quarv::test
