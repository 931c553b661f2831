// Broken and hostile files handed to `quarv-cli info` and `quarv-cli process`: truncated files,
// oversized counts, wrong versions, garbage after valid headers, LAS headers of other tools that
// contradict themselves, names that are folders or FIFOs. Every run must end on its own with exit
// 0 or 1, say something on exit 1, show no sanitizer report and stay below 2 GiB.
#include "core/cloud/cloud_file.hpp"
#include "core/cloud/las_file.hpp"
#include "core/config/bytes.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quarv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kCli = fs::path(QUARV_BINARY_DIR) / "quarv-cli";
constexpr auto kTimeout = std::chrono::seconds(90);
constexpr long kMemoryLimitKb = 2L * 1024 * 1024;

struct Outcome {
    bool exited = false;
    int code = -1;
    int signal = 0;
    bool timedOut = false;
    long maxRssKb = 0;
    std::string out, err;
};

Outcome run(const std::vector<std::string>& args, const fs::path& scratch) {
    const fs::path outPath = scratch / "stdout.txt", errPath = scratch / "stderr.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Outcome o;
    int status = 0;
    rusage usage{};
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            o.timedOut = true;
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    o.exited = WIFEXITED(status);
    o.code = o.exited ? WEXITSTATUS(status) : -1;
    o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    o.maxRssKb = usage.ru_maxrss;
    const auto text = [](const fs::path& p) {
        const Bytes b = test::readBytes(p);
        return std::string(b.begin(), b.end());
    };
    o.out = text(outPath);
    o.err = text(errPath);
    return o;
}

// ---- hostile files ----

ScanHeader header(std::uint8_t type, std::uint16_t w, std::uint16_t p, std::uint16_t n,
                  std::uint16_t lines) {
    ScanHeader h;
    h.scanner.setShotsPerLine(w);
    h.scanner.setPulsesPerPosition(p);
    h.scanner.setLines(lines);
    h.scanner.setScanType(type);
    h.digitizer.setSamplesPerPulse(n);
    h.digitizer.setPulsesPerRecord(p);
    h.digitizer.setTemperatureC(12.0f);
    h.processing.setRefractiveIndex(1.34);
    h.processing.setInterpolation(4.0);
    h.processing.setRangeMax(20.0);
    h.calibration.setTimeScale(1.0f);
    h.calibration.setAzVoltToDegNeg(10.0f);
    h.calibration.setAzVoltToDegPos(10.0f);
    h.calibration.setElVoltToDegNeg(5.0f);
    h.calibration.setElVoltToDegPos(5.0f);
    return h;
}

Bytes encode(const ScanHeader& h) {
    const auto a = h.encode();
    return Bytes(a.begin(), a.end());
}

// A header followed by `records` line records of pulses with one return each, as bytes.
Bytes recording(const ScanHeader& h, int records) {
    const ScanGeometry g = ScanGeometry::of(h);
    Bytes b = encode(h);
    const std::uint32_t s = waveformRecordSize(g);
    const LineRecordOffsets off = lineRecordOffsets(g);
    for (int k = 0; k < records; ++k) {
        Bytes r(s, 0);
        le::store<std::uint16_t>(r.data(), kRecordSync);
        for (std::uint32_t i = 0; i < g.shotsPerLine; ++i)
            le::store<float>(r.data() + off.azimuth + 4 * i, 0.01f * float(i));
        for (std::uint64_t i = 0; i < std::uint64_t(g.pulsesPerRecord) * g.samplesPerPulse; ++i) {
            const double t = double(i % g.samplesPerPulse) - 0.4 * g.samplesPerPulse;
            le::store<std::int16_t>(r.data() + off.samples + 2 * i,
                                    std::int16_t(100 + 900 * std::exp(-t * t / 12.0)));
        }
        b.insert(b.end(), r.begin(), r.end());
    }
    return b;
}

Bytes garbage(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    for (auto& v : b) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<std::uint8_t>(seed >> 24);
    }
    return b;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes cut(Bytes b, std::size_t size) {
    b.resize(std::min(size, b.size()));
    return b;
}

Bytes cloudFile(std::uint32_t pointTotal, std::uint32_t recordCount, std::size_t records,
                double amplitudeScale = kCloudAmplitudeScale) {
    Bytes b = encode(header(3, 4, 4, 64, 2));
    le::store<std::uint16_t>(b.data(), kCloudFileVersion);
    le::store<std::uint16_t>(b.data() + 2, kCloudFileKind);
    Bytes block(20, 0);
    le::store<double>(block.data(), amplitudeScale);
    le::store<std::uint32_t>(block.data() + 16, pointTotal);
    Bytes line(12, 0);
    le::store<std::uint16_t>(line.data(), kCloudLineMarker);
    le::store<std::uint32_t>(line.data() + 2, recordCount);
    le::store<float>(line.data() + 8, 0.25f);
    Bytes points;
    for (std::size_t i = 0; i < records; ++i) {
        const CloudRecord r =
            encodeCloudRecord({3.0 + 0.1 * double(i), 0.2, 300.0f, false}, kCloudAmplitudeScale);
        points.insert(points.end(), r.begin(), r.end());
    }
    return b + block + line + points;
}

Bytes lasFile(unsigned minor, std::uint16_t headerSize, std::uint8_t format,
              std::uint16_t recordLength, std::uint32_t count, std::uint32_t offset,
              std::size_t recordsPresent, double scale = 0.001) {
    Bytes b(std::max<std::size_t>(headerSize, 227), 0);
    std::memcpy(b.data(), "LASF", 4);
    b[24] = 1;
    b[25] = static_cast<std::uint8_t>(minor);
    std::memcpy(b.data() + 58, "another tool", 12);
    le::store<std::uint16_t>(b.data() + 94, headerSize);
    le::store<std::uint32_t>(b.data() + 96, offset);
    b[104] = format;
    le::store<std::uint16_t>(b.data() + 105, recordLength);
    le::store<std::uint32_t>(b.data() + 107, count);
    for (int i = 0; i < 3; ++i) le::store<double>(b.data() + 131 + 8 * i, scale);
    if (b.size() < offset && offset < (1u << 20)) b.resize(offset, 0);
    return b + garbage(recordsPresent * recordLength, 7);
}

struct Hostile {
    std::string name; // file name, its extension chooses the reader of `process`
    std::function<Bytes()> bytes;
};

std::vector<Hostile> hostileFiles() {
    const Bytes small = recording(header(3, 8, 8, 64, 3), 3);
    const std::uint32_t smallRecord = waveformRecordSize(ScanGeometry::of(header(3, 8, 8, 64, 3)));
    std::vector<Hostile> v = {
        {"empty.raw", [] { return Bytes{}; }},
        {"header_cut.raw", [] { return cut(encode(header(3, 8, 8, 64, 3)), 100); }},
        {"header_only.raw", [] { return encode(header(3, 8, 8, 64, 3)); }},
        {"version2.raw",
         [=] {
             Bytes b = small;
             le::store<std::uint16_t>(b.data(), 2);
             return b;
         }},
        {"version_ffff.raw",
         [] {
             return Bytes{0xFF, 0xFF} + garbage(3000, 1);
         }},
        {"counts_65535.raw", [] { return encode(header(3, 65535, 65535, 65535, 65535)); }},
        {"no_samples.raw", [] { return recording(header(3, 8, 8, 0, 3), 0) + garbage(500, 2); }},
        {"huge_record_tiny_file.raw",
         [] { return encode(header(3, 3000, 3000, 65535, 65535)) + garbage(4096, 3); }},
        {"garbage_after_records.raw", [=] { return small + garbage(5000, 4); }},
        {"cut_mid_record.raw", [=] { return cut(small, kScanHeaderSize + smallRecord + 100); }},
        {"lines_65535_two_records.raw", [] { return recording(header(3, 8, 8, 64, 65535), 2); }},
        {"stare.raw", [] { return recording(header(1, 4, 4, 64, 2), 8); }},
        {"bowtie.raw", [] { return recording(header(4, 2, 1, 64, 2), 2); }},
        {"scan_type_200.raw", [] { return recording(header(200, 8, 8, 64, 2), 2); }},
        {"peak_kind.raw",
         [=] {
             Bytes b = small;
             le::store<std::uint16_t>(b.data() + 2, kFileKindPeak);
             return b;
         }},
        {"nan_everywhere.raw",
         [] {
             ScanHeader h = header(3, 8, 8, 64, 3);
             const double nan = std::numeric_limits<double>::quiet_NaN();
             h.processing.setRefractiveIndex(nan);
             h.processing.setInterpolation(nan);
             h.processing.setRangeMin(nan);
             h.processing.setRangeMax(std::numeric_limits<double>::infinity());
             h.calibration.setTimeScale(std::numeric_limits<float>::quiet_NaN());
             h.calibration.setAzVoltToDegPos(std::numeric_limits<float>::infinity());
             h.digitizer.setTemperatureC(std::numeric_limits<float>::quiet_NaN());
             h.panTilt.setTiltAngle(1e308);
             return recording(h, 3);
         }},
        {"interpolation_1e300.raw",
         [] {
             ScanHeader h = header(3, 2, 2, 64, 1);
             h.processing.setInterpolation(1e300);
             return recording(h, 1);
         }},
        {"interpolation_65535.raw",
         [] {
             // 256 samples interpolated 65535 times: far more than a work buffer may hold.
             ScanHeader h = header(3, 1, 1, 256, 1);
             h.processing.setInterpolation(65535.0);
             return recording(h, 1);
         }},
        {"interpolation_at_buffer_limit.raw",
         [] {
             // 256 x 8192 = 2^21: the largest interpolated waveform the buffers accept.
             ScanHeader h = header(3, 2, 2, 256, 2);
             h.processing.setInterpolation(8192.0);
             return recording(h, 2);
         }},
        {"raw_named.3DC", [=] { return small; }},
        {"kind2.3DC",
         [] {
             Bytes b = cloudFile(2, 2, 2);
             le::store<std::uint16_t>(b.data() + 2, 2);
             return b;
         }},
        {"header_cut.3DC", [] { return cut(cloudFile(2, 2, 2), 300); }},
        {"total_4G.3DC", [] { return cloudFile(0xFFFFFFFF, 3, 3); }},
        {"record_count_4G.3DC", [] { return cloudFile(1000, 0xFFFFFFFF, 5); }},
        {"garbage_after_lines.3DC", [] { return cloudFile(10, 3, 3) + garbage(3000, 5); }},
        {"scale_zero.3DC", [] { return cloudFile(3, 3, 3, 0.0); }},
        {"scale_nan.3DC", [] { return cloudFile(3, 3, 3, std::nan("")); }},
        {"short_signature.las", [] { return Bytes{'L', 'A', 'S', 'F', 1, 2, 3}; }},
        {"count64_huge.las",
         [] {
             Bytes b = lasFile(4, 375, 6, 30, 0, 375, 3);
             le::store<std::uint64_t>(b.data() + 247, std::uint64_t(1) << 63);
             return b;
         }},
        {"offset_beyond_file.las", [] { return lasFile(2, 227, 0, 20, 3, 0xFFFFFF00, 3); }},
        {"header_size_0.las", [] { return lasFile(2, 0, 0, 20, 3, 227, 3); }},
        {"record_length_1.las", [] { return lasFile(2, 227, 0, 1, 3, 227, 3); }},
        {"count_4G.las", [] { return lasFile(2, 227, 1, 28, 0xFFFFFFFF, 227, 10); }},
        {"version_2_0.las",
         [] {
             Bytes b = lasFile(0, 227, 0, 20, 3, 227, 3);
             b[24] = 2;
             return b;
         }},
        {"compressed.las", [] { return lasFile(2, 227, 0x83, 34, 3, 227, 3); }},
        {"scale_zero.las", [] { return lasFile(2, 227, 0, 20, 3, 227, 3, 0.0); }},
        {"scale_nan.las", [] { return lasFile(2, 227, 0, 20, 3, 227, 3, std::nan("")); }},
        {"scale_1e300.las", [] { return lasFile(2, 227, 0, 20, 3, 227, 3, 1e300); }},
        {"other_tool_format3.las", [] { return lasFile(2, 227, 3, 34, 5, 227, 5); }},
        {"garbage_after_points.las", [] { return lasFile(2, 227, 0, 20, 3, 227, 50); }},
        {"vlr_count_huge.las",
         [] {
             Bytes b = lasFile(2, 227, 0, 20, 3, 227, 3);
             le::store<std::uint32_t>(b.data() + 100, 0xFFFFFFFF);
             return b;
         }},
    };
    return v;
}

class HostileFilesCli : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kCli)) GTEST_SKIP() << kCli << " is not built";
    }
    void expectCleanEnd(const Outcome& o, const std::string& what) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(o.timedOut) << "did not end within " << kTimeout.count() << " s";
        EXPECT_TRUE(o.exited) << "ended by signal " << o.signal << "\n" << o.err;
        EXPECT_TRUE(o.code == 0 || o.code == 1) << "exit " << o.code << "\n" << o.err;
        if (o.code == 1) {
            EXPECT_FALSE(o.err.empty()) << "exit 1 without a message";
        }
        EXPECT_EQ(o.err.find("Sanitizer"), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find("runtime error"), std::string::npos) << o.err;
        EXPECT_LT(o.maxRssKb, kMemoryLimitKb) << "peak memory " << o.maxRssKb / 1024 << " MiB";
    }
    test::TempDir dir;
};

TEST_F(HostileFilesCli, InfoAndProcessEndCleanlyOnEveryHostileFile) {
    const fs::path home = dir / "home";
    long peakKb = 0;
    std::string hungriest;
    for (const Hostile& h : hostileFiles()) {
        const fs::path file = dir / h.name;
        test::writeBytes(file, h.bytes());
        expectCleanEnd(run({kCli.string(), "info", file.string()}, dir.path()), "info " + h.name);
        const Outcome p =
            run({kCli.string(), "process", file.string(), "--home", home.string()}, dir.path());
        expectCleanEnd(p, "process " + h.name);
        if (p.maxRssKb > peakKb) peakKb = p.maxRssKb, hungriest = h.name;
        fs::remove(file);
    }
    std::printf("peak memory of a process run: %ld MiB (%s)\n", peakKb / 1024, hungriest.c_str());
}

TEST_F(HostileFilesCli, FoldersFifosAndMissingNamesEndCleanly) {
    const fs::path home = dir / "home";
    for (const char* name : {"folder.raw", "folder.3DC", "folder.las"})
        fs::create_directory(dir / name);
    for (const char* name : {"fifo.raw", "fifo.3DC", "fifo.las"})
        ASSERT_EQ(::mkfifo((dir / name).c_str(), 0600), 0);
    for (const char* name : {"folder.raw", "folder.3DC", "folder.las", "fifo.raw", "fifo.3DC",
                             "fifo.las", "missing.raw", "missing.3DC", "missing.las"}) {
        const fs::path file = dir / name;
        const Outcome i = run({kCli.string(), "info", file.string()}, dir.path());
        expectCleanEnd(i, std::string("info ") + name);
        EXPECT_EQ(i.code, 1) << name;
        const Outcome p =
            run({kCli.string(), "process", file.string(), "--home", home.string()}, dir.path());
        expectCleanEnd(p, std::string("process ") + name);
        EXPECT_EQ(p.code, 1) << name;
    }
}

} // namespace
} // namespace quarv
