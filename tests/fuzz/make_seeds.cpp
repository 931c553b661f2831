// quarv-fuzz-seeds DIR: writes the seed corpus of every fuzz target into DIR/<target>/ with the
// program's own writers (raw scan files, 3DC, LAS, layer list, the settings files), plus a few
// LAS files laid out the way other tools write them, which our writer never produces. Each seed
// stays within a few kilobytes so that the fuzzers mutate small, fast inputs.
#include "core/cloud/cloud_file.hpp"
#include "core/cloud/las_file.hpp"
#include "core/config/bytes.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/config/viewer_settings.hpp"
#include "core/scan/laser_scan_settings.hpp"
#include "core/scanfile/raw_writer.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace quarv;

namespace {

bool failed = false;

void expect(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "quarv-fuzz-seeds: %s failed\n", what.c_str());
        failed = true;
    }
}

ScanHeader header(std::uint8_t scanType, std::uint16_t w, std::uint16_t p, std::uint16_t n,
                  std::uint16_t lines) {
    ScanHeader h;
    h.scanner.setShotsPerLine(w);
    h.scanner.setPulsesPerPosition(p);
    h.scanner.setLines(lines);
    h.scanner.setScanType(scanType);
    h.scanner.setAzStartOpt(-20.0f);
    h.scanner.setAzStopOpt(20.0f);
    h.digitizer.setSamplesPerPulse(n);
    h.digitizer.setPulsesPerRecord(p);
    h.digitizer.setTemperatureC(14.5f);
    h.digitizer.setGainCode(6);
    h.processing.setRefractiveIndex(1.34);
    h.processing.setInterpolation(4.0);
    h.processing.setRangeMin(1.0);
    h.processing.setRangeMax(12.0);
    h.environment.setScanPos("dock");
    h.environment.setJob("seed");
    h.environment.setSensor("unit 2");
    h.calibration.setTimeScale(1.0f);
    h.calibration.setAzVoltToDegNeg(2.0f);
    h.calibration.setAzVoltToDegPos(2.0f);
    h.calibration.setElVoltToDegNeg(1.5f);
    h.calibration.setElVoltToDegPos(1.5f);
    h.panTilt.setTiltAngle(10.0);
    return h;
}

std::vector<float> ramp(std::size_t n, float start, float step) {
    std::vector<float> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = start + step * static_cast<float>(i);
    return v;
}
std::vector<double> positions(std::size_t n, int record) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = 1e-9 * static_cast<double>(record * 100 + int(i));
    return v;
}
std::vector<std::uint32_t> words(std::size_t n, int record) {
    std::vector<std::uint32_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = 0xA5000000u + std::uint32_t(record * 256 + int(i));
    return v;
}
// Pulses with a Gaussian return a little later in every pulse, over a small offset.
std::vector<std::int16_t> waveforms(std::size_t pulses, std::size_t n, int record) {
    std::vector<std::int16_t> v(pulses * n);
    for (std::size_t p = 0; p < pulses; ++p)
        for (std::size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) - (n / 3.0 + static_cast<double>(p + record));
            v[p * n + i] = static_cast<std::int16_t>(40 + 1800.0 * std::exp(-t * t / 8.0));
        }
    return v;
}

void rawSeeds(const fs::path& dir) {
    {
        RawFileWriter w; // "Moving Raster" line records with a trailer
        const ScanHeader h = header(3, 4, 4, 24, 3);
        expect(w.open(dir / "line_trailer.raw", h), "line open");
        for (int k = 0; k < 3; ++k)
            expect(w.writeLineRecord(0.1f * float(k), ramp(4, -1.0f, 0.5f), positions(4, k),
                                     words(4, k), waveforms(4, 24, k)),
                   "line record");
        expect(w.finish(std::make_pair(12.5f, 13.0f)), "line finish");
    }
    {
        RawFileWriter w; // "Stable Raster" without trailer, the last record cut short later
        const ScanHeader h = header(0, 3, 3, 16, 2);
        expect(w.open(dir / "line_truncated.raw", h), "truncated open");
        for (int k = 0; k < 2; ++k)
            expect(w.writeLineRecord(-0.2f, ramp(3, 0.0f, 0.25f), positions(3, k), words(3, k),
                                     waveforms(3, 16, k)),
                   "truncated record");
        expect(w.finish(std::nullopt), "truncated finish");
        fs::resize_file(dir / "line_truncated.raw", fs::file_size(dir / "line_truncated.raw") - 37);
    }
    {
        RawFileWriter w; // "Stop and Stare": W records per line
        const ScanHeader h = header(1, 2, 2, 12, 2);
        expect(w.open(dir / "stare.raw", h), "stare open");
        for (int k = 0; k < 4; ++k)
            expect(w.writeStareRecord(0.3f, -0.1f * float(k), positions(2, k), words(2, k),
                                      waveforms(2, 12, k)),
                   "stare record");
        expect(w.finish(std::make_pair(5.0f, 55.5f)), "stare finish"); // rejected trailer
    }
    {
        RawFileWriter w; // "Moving Bowtie": 4 W pulses a sweep
        const ScanHeader h = header(4, 2, 1, 10, 2);
        expect(w.open(dir / "bowtie.raw", h), "bowtie open");
        for (int k = 0; k < 2; ++k)
            expect(w.writeBowtieRecord(ramp(8, -1.0f, 0.25f), ramp(8, 0.5f, -0.1f), positions(8, k),
                                       words(8, k), waveforms(8, 10, k)),
                   "bowtie record");
        expect(w.finish(std::make_pair(20.0f, 21.0f)), "bowtie finish");
    }
    {
        RawFileWriter w; // peak line records (".pek")
        const ScanHeader h = header(3, 3, 3, 16, 2);
        expect(w.open(dir / "peak_line.pek", h), "peak line open");
        for (int k = 0; k < 2; ++k) {
            const auto a = positions(3, k);
            expect(w.writePeakLineRecord(0.2f, ramp(3, -0.5f, 0.5f), a, a, a, a),
                   "peak line record");
        }
        expect(w.finish(std::nullopt), "peak line finish");
    }
    {
        RawFileWriter w; // peak stare records, marked by the file kind alone
        ScanHeader h = header(1, 2, 2, 8, 1);
        h.fileKind = kFileKindPeak;
        expect(w.open(dir / "peak_stare.raw", h), "peak stare open");
        for (int k = 0; k < 2; ++k) {
            const auto a = positions(2, k);
            expect(w.writePeakStareRecord(0.1f, 0.2f, a, a, a, a), "peak stare record");
        }
        expect(w.finish(std::make_pair(10.0f, 11.0f)), "peak stare finish");
    }
    {
        // Version 2 and a bare header: refused and empty.
        RawFileWriter w;
        ScanHeader h = header(3, 2, 2, 8, 1);
        h.version = 2;
        expect(w.open(dir / "version2.raw", h) && w.finish(std::nullopt), "version 2");
        RawFileWriter bare;
        expect(bare.open(dir / "header_only.raw", header(3, 2, 2, 8, 4)) &&
                   bare.finish(std::nullopt),
               "bare header");
    }
}

CloudFileHeader cloudHeader() {
    const ScanHeader h = header(3, 8, 8, 64, 3);
    CloudFileHeader c;
    c.reserved = h.reserved;
    c.scanner = h.scanner;
    c.digitizer = h.digitizer;
    c.processing = h.processing;
    c.environment = h.environment;
    c.calibration = h.calibration;
    c.panTilt = h.panTilt;
    c.attitude = h.attitude;
    return c;
}

void cloudSeeds(const fs::path& dir) {
    const CloudFileHeader h = cloudHeader();
    auto peaks = [](int line, std::size_t n) {
        std::vector<CloudPeak> v(n);
        for (std::size_t i = 0; i < n; ++i) {
            v[i].range = 3.0 + 0.37 * double(i) - 0.5 * line;
            v[i].azimuthReading = -1.0 + 0.25 * double(i);
            v[i].amplitude = 100.0f * float(i);
            v[i].saturated = i == 3;
        }
        return v;
    };
    {
        CloudFileWriter w;
        expect(w.create(dir / "three_lines.3DC", h), "3DC create");
        for (int line = 0; line < 3; ++line)
            expect(w.writeLine(std::uint16_t(line), 0.1f * float(line), peaks(line, 5)), "line");
        expect(w.close(), "3DC close");
    }
    {
        CloudFileWriter w; // an empty line between two others, a range beyond 127 m
        expect(w.create(dir / "empty_line.3DC", h), "3DC create");
        auto far = peaks(0, 2);
        far[1].range = 200.0;
        far[0].range = -3.25;
        expect(w.writeLine(0, 0.0f, far) && w.writeLine(1, 0.1f, {}) &&
                   w.writeLine(2, 0.2f, peaks(2, 3)) && w.close(),
               "3DC empty line");
    }
    {
        CloudFileWriter w; // cut inside the last record: the total promises more than is there
        expect(w.create(dir / "truncated.3DC", h) && w.writeLine(0, 0.0f, peaks(0, 6)) &&
                   w.writeLine(1, 0.1f, peaks(1, 6)) && w.close(),
               "3DC truncated");
        fs::resize_file(dir / "truncated.3DC", fs::file_size(dir / "truncated.3DC") - 4);
    }
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    expect(bool(out), "writing " + path.string());
}

// A public header the way other tools lay it out: version, header size, VLRs, point format and
// record length of their own choice, with offsets and scale that are not ours.
std::vector<std::uint8_t> foreignLas(unsigned minor, std::uint16_t headerSize, unsigned format,
                                     std::uint16_t recordLength, std::uint32_t points,
                                     std::uint32_t vlrData) {
    const std::uint32_t vlrs = vlrData ? 1 : 0;
    const std::uint32_t offset = headerSize + (vlrs ? 54 + vlrData : 0);
    std::vector<std::uint8_t> b(offset + std::size_t(points) * recordLength, 0);
    std::memcpy(b.data(), "LASF", 4);
    b[24] = 1;
    b[25] = static_cast<std::uint8_t>(minor);
    std::memcpy(b.data() + 26, "OTHER", 5);
    std::memcpy(b.data() + 58, "some tool 1.0", 13);
    le::store<std::uint16_t>(b.data() + 90, 200);
    le::store<std::uint16_t>(b.data() + 92, 2019);
    le::store<std::uint16_t>(b.data() + 94, headerSize);
    le::store<std::uint32_t>(b.data() + 96, offset);
    le::store<std::uint32_t>(b.data() + 100, vlrs);
    b[104] = static_cast<std::uint8_t>(format);
    le::store<std::uint16_t>(b.data() + 105, recordLength);
    le::store<std::uint32_t>(b.data() + 107, minor >= 4 && format >= 6 ? 0 : points);
    le::store<std::uint32_t>(b.data() + 111, points);
    const double scale[3] = {0.01, 0.01, 0.001}, off[3] = {5000.0, -200.0, 10.0};
    for (int i = 0; i < 3; ++i) {
        le::store<double>(b.data() + 131 + 8 * i, scale[i]);
        le::store<double>(b.data() + 155 + 8 * i, off[i]);
    }
    if (headerSize >= 375) le::store<std::uint64_t>(b.data() + 247, points);
    if (vlrs) {
        std::uint8_t* v = b.data() + headerSize;
        std::memcpy(v + 2, "LASF_Projection", 15);
        le::store<std::uint16_t>(v + 18, 2112); // WKT
        le::store<std::uint16_t>(v + 20, static_cast<std::uint16_t>(vlrData));
        for (std::uint32_t i = 0; i < vlrData; ++i)
            v[54 + i] = static_cast<std::uint8_t>('A' + i % 26);
    }
    for (std::uint32_t i = 0; i < points; ++i) {
        std::uint8_t* r = b.data() + offset + std::size_t(i) * recordLength;
        le::store<std::int32_t>(r, std::int32_t(1000 + 37 * i));
        le::store<std::int32_t>(r + 4, -std::int32_t(500 + 11 * i));
        le::store<std::int32_t>(r + 8, std::int32_t(3 * i));
        le::store<std::uint16_t>(r + 12, std::uint16_t(1000 * i));
        r[14] = 0x11;
        r[15] = 2;
        for (std::size_t k = 16; k < recordLength; ++k) r[k] = static_cast<std::uint8_t>(k + i);
    }
    return b;
}

void lasSeeds(const fs::path& dir) {
    {
        LasFile las; // ours: header for the points about to be written
        CloudBounds bounds;
        std::vector<CloudPoint> points(6);
        for (std::size_t i = 0; i < points.size(); ++i) {
            points[i].x = 0.5f * float(i) - 1.0f;
            points[i].y = 2.0f + 0.1f * float(i);
            points[i].z = -3.0f;
            points[i].amplitude = 200.0f * float(i);
            points[i].valid = 1;
            bounds.add(points[i]);
        }
        expect(las.create(dir / "ours.las", bounds), "LAS create");
        las.setIntensityScale();
        for (const CloudPoint& p : points)
            expect(las.writePoint(p.x, p.y, p.z, p.amplitude, false, 1.0, 1.0), "LAS point");
        expect(las.close(), "LAS close");
    }
    {
        LasFile las; // ours, no point: a 297-byte file
        expect(las.create(dir / "ours_empty.las", CloudBounds{}) && las.close(), "empty LAS");
    }
    writeFile(dir / "v12_format1.las", foreignLas(2, 227, 1, 28, 4, 0));
    writeFile(dir / "v10_format3_extra_bytes.las", foreignLas(0, 227, 3, 40, 3, 26));
    writeFile(dir / "v14_format6.las", foreignLas(4, 375, 6, 30, 3, 12));
    // A header announcing more points than the file holds.
    auto overcount = foreignLas(2, 227, 0, 20, 2, 0);
    le::store<std::uint32_t>(overcount.data() + 107, 1000000);
    writeFile(dir / "v12_overcount.las", overcount);
}

PointLayer layer(int i) {
    PointLayer l;
    l.colorFrom = {std::uint8_t(10 * i), 20, 30};
    l.colorTo = {200, std::uint8_t(255 - i), 40};
    l.colorFromExtra = 7;
    l.colorMode = std::uint32_t(i % 4);
    l.inUse = i == 2;
    l.showSaturated = 1;
    l.pointSize = std::uint8_t(1 + i);
    l.snrMin = 2.5f * float(i);
    l.filterDistance = 0.05 * (i + 1);
    l.neighbourFilter = i % 2;
    l.rangeMin = 0.5f;
    l.rangeMax = 20.0f + float(i);
    return l;
}

void settingsSeeds(const fs::path& root) {
    {
        std::vector<PointLayer> layers;
        for (int i = 0; i < 5; ++i) layers.push_back(layer(i));
        expect(writeLayerListFile(layers.data(), 5, root / "layer_list" / "layers.lcfg"),
               "layer list");
        expect(writeLayerListFile(layers.data(), 2, root / "layer_list" / "two_layers.lcfg"),
               "short layer list");
        std::vector<PointLayer> zero(5);
        for (PointLayer& l : zero) l.clearSettingsAndStatistics();
        expect(writeLayerListFile(zero.data(), 5, root / "layer_list" / "zeros.lcfg"),
               "zero layer list");
    }
    {
        QuarvSettings s;
        s.lowIntensityCutoff = controlToCutoff(12.9);
        s.highIntensityCutoff = controlToCutoff(300.7);
        s.startRgb = {0, 0, 255};
        s.midRgb = {0, 255, 0};
        s.highRgb = {255, 0, 0};
        expect(saveQuarvSettings(root / "quarv_mcfg" / "quarv.mcfg", s), "quarv.mcfg");
        expect(saveQuarvSettings(root / "quarv_mcfg" / "zeros.mcfg", QuarvSettings{}),
               "quarv.mcfg zeros");
        writeFile(root / "quarv_mcfg" / "short.mcfg", {0, 0, 0x40, 0x41, 1, 2, 3});
    }
    {
        ColorSettings s;
        s.lowIntensity = 50;
        s.mediumIntensity = 300;
        s.highIntensity = controlToThreshold(4e9);
        s.lowIntensityRgb = {0, 0, 128};
        s.lowStartRgb = {0, 0, 255};
        s.lowEndRgb = {0, 255, 255};
        s.mediumStartRgb = {0, 255, 0};
        s.mediumEndRgb = {255, 255, 0};
        s.highIntensityRgb = {255, 0, 0};
        s.saturationRgb = {255, 255, 255};
        s.pointSize = controlToByte(3.9);
        expect(saveColorSettings(root / "colorcfg_mcfg" / "colorcfg.mcfg", s), "colorcfg");
        expect(saveColorSettings(root / "colorcfg_mcfg" / "zeros.mcfg", ColorSettings{}),
               "colorcfg zeros");
        writeFile(root / "colorcfg_mcfg" / "short.mcfg", {0xFF, 0xFF, 0xFF, 0x7F, 9});
    }
    {
        const fs::path dir = root / "laserscan_cfg";
        const ConfigRoot cfg(dir / "home");
        fs::create_directories(cfg.calDir());
        LaserScanSettings s = LaserScanSettings::defaults();
        expect(saveLaserScanSettings(cfg, s), "laserscan defaults");
        fs::rename(laserScanSettingsPath(cfg), dir / "defaults.cfg");
        s.complete(0, 1.5f, 30.0f, 4.0f);
        expect(saveLaserScanSettings(cfg, s), "laserscan completed");
        fs::rename(laserScanSettingsPath(cfg), dir / "completed.cfg");
        s.setRangeGate(0);
        s.complete(300, 1.5f, 30.0f, 4.0f);
        expect(saveLaserScanSettings(cfg, s), "laserscan gate off");
        fs::rename(laserScanSettingsPath(cfg), dir / "gate_off.cfg");
        fs::remove_all(dir / "home");
        writeFile(dir / "short.cfg", {2, 0, 0, 0, 0xF4, 1});
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quarv-fuzz-seeds DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* t : {"raw_scan", "cloud_3dc", "las", "layer_list", "quarv_mcfg",
                          "colorcfg_mcfg", "laserscan_cfg"})
        fs::create_directories(root / t);
    rawSeeds(root / "raw_scan");
    cloudSeeds(root / "cloud_3dc");
    lasSeeds(root / "las");
    settingsSeeds(root);
    return failed ? 1 : 0;
}
