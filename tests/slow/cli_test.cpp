// quarv-cli end to end. Over small simulated recordings of every kind, what simulate writes, what
// info and shot print and what process exports (points, LAS, XYZ, the LAS read back) are kept as
// golden transcripts: any change in the numbers or bytes an operator gets shows up here (the
// accuracy against the ground truth is checked in simulated_scans_test.cpp). The broken files of
// tests/slow/hostile/ and names that are folders or FIFOs go through info and process too: every
// run must end on its own with exit 0 or 1, say something on exit 1, show no sanitizer report,
// stay below 2 GiB, and say what the transcript keeps.
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sstream>
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

struct Case {
    const char* name;
    const char* file; // recording name: ".pek" writes peak records
    const char* simulate;
    std::vector<const char*> shots;   // "K P [options]" of quarv-cli shot
    std::vector<const char*> process; // option sets of quarv-cli process
    long truncate = 0;                // bytes cut off the end of the recording
};

const Case kCases[] = {
    {"plane_water",
     "plane.raw",
     "--scene plane --distance 4 --shots 24 --lines 8 --samples 400",
     {"0 0", "3 11", "7 23", "2 5 --range-min 6 --range-max 7"},
     {"", "--no-filter --show-saturated", "--range-min 3.9 --range-max 4.05 --snr-min 300"}},
    {"plane_air_mount",
     "air.raw",
     "--scene plane --distance 8 --index 1.000293 --pan 12 --tilt -20 --no-trailer --interp 2 "
     "--shots 20 --lines 6 --samples 500 --seed 3",
     {"1 4", "5 19"},
     {"--no-filter"}},
    {"seabed_continuous",
     "seabed.raw",
     "--scene seabed --type 2 --shots 32 --lines 8 --offsets 0.03,0.11,-0.02 --az-factors 9.5,10.5 "
     "--el-factors 10.2,9.8 --front-glass 0.02 --time-offset 3 --time-scale 1.01 "
     "--temp-coefs 0.001,-0.02,0.5 --trailer 12,14 --seed 7",
     {"1 0", "6 31"},
     {"", "--layer 3 --filter-distance 0.05"}},
    {"harbour_clutter",
     "harbour.raw",
     "--scene harbour --shots 48 --lines 16 --scatterers 30000 --seed 2",
     {"8 24"},
     {"", "--filter-distance 0.5", "--snr-min 8999999488 --show-saturated --no-filter",
      "--no-filter --range-min 2 --range-max 9"}},
    {"raster_jitter_truncated",
     "raster.raw",
     "--scene plane --type 3 --distance 5 --shots 16 --lines 6 --samples 450 --interp 8 "
     "--hor-pos 30 --hor-jitter 2 --pan -30 --tilt 10 --seed 11",
     {"2 7"},
     {""},
     300},
    {"stare",
     "stare.raw",
     "--scene plane --type 1 --shots 6 --lines 4 --pulses 3 --samples 400",
     {"0 0", "13 2"},
     {""}},
    {"bowtie",
     "bowtie.raw",
     "--scene seabed --type 4 --shots 8 --lines 3 --samples 640",
     {"1 17"},
     {""}},
    {"peak_lines", "lines.pek", "--scene seabed --shots 24 --lines 6", {"2 3"}, {""}},
    {"peak_stare",
     "stare.pek",
     "--scene plane --type 1 --shots 5 --lines 3 --pulses 2",
     {"4 1"},
     {""}},
};

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
        s.replace(at, from.size(), to);
    return s;
}

struct Outcome {
    bool exited = false, timedOut = false;
    int code = -1, signal = 0;
    long maxRssKb = 0;
    std::string out, err;
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(cli_)) GTEST_SKIP() << cli_ << " is not built";
    }

    std::string read(const fs::path& file) {
        const auto bytes = test::readBytes(file);
        return std::string(bytes.begin(), bytes.end());
    }

    // Runs quarv-cli with `args` (split at spaces) in a child process of its own, killed after
    // 90 s; the temporary folder's name, the run time and the progress lines are taken out of
    // what it prints.
    Outcome cli(const std::string& args) {
        std::vector<std::string> words = {cli_.string()};
        std::istringstream split(args);
        for (std::string w; split >> w;) words.push_back(w);
        const fs::path outPath = dir / "stdout.txt", errPath = dir / "stderr.txt";
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& w : words) argv.push_back(w.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        Outcome o;
        int status = 0;
        rusage usage{};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
        while (::wait4(pid, &status, WNOHANG, &usage) != pid) {
            if (std::chrono::steady_clock::now() > deadline) {
                o.timedOut = true;
                ::kill(pid, SIGKILL);
                ::wait4(pid, &status, 0, &usage);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        o.exited = WIFEXITED(status);
        o.code = o.exited ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        o.maxRssKb = usage.ru_maxrss;
        o.out = clean(read(outPath));
        o.err = clean(read(errPath));
        return o;
    }

    // The temporary folder as DIR, a run time "N.NN s" at a line's end as "T s", no progress lines.
    std::string clean(const std::string& text) {
        std::istringstream lines(replaceAll(text, dir.path().string(), "DIR"));
        std::string out;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("progress ", 0) == 0) continue;
            const std::size_t comma = line.rfind(", ");
            if (line.size() > 2 && line.compare(line.size() - 2, 2, " s") == 0 &&
                comma != std::string::npos &&
                line.find_first_not_of("0123456789.", comma + 2) == line.size() - 2)
                line = line.substr(0, comma) + ", T s";
            out += line + "\n";
        }
        return out;
    }

    void expectCleanEnd(const Outcome& o, const std::string& what) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(o.timedOut) << "did not end within 90 s";
        EXPECT_TRUE(o.exited) << "ended by signal " << o.signal << "\n" << o.err;
        EXPECT_TRUE(o.code == 0 || o.code == 1) << "exit " << o.code << "\n" << o.err;
        EXPECT_TRUE(o.code == 0 || !o.err.empty()) << "exit 1 without a message";
        EXPECT_EQ(o.err.find("Sanitizer"), std::string::npos) << o.err;
        EXPECT_EQ(o.err.find("runtime error"), std::string::npos) << o.err;
        EXPECT_LT(o.maxRssKb, 2L * 1024 * 1024) << "peak memory " << o.maxRssKb / 1024 << " MiB";
    }

    // The exports of one process run: the points CSV's digest with its first and last rows, the
    // LAS and XYZ digests.
    void exports(std::ostringstream& t, const std::string& input, const std::string& options) {
        const fs::path csv = dir / "points.csv", las = dir / "cloud.las", xyz = dir / "cloud.xyz";
        for (const fs::path& f : {csv, las, xyz}) fs::remove(f);
        const Outcome p =
            cli("process " + input + " --home " + (dir / "home").string() + " --points " +
                csv.string() + " --las " + las.string() + " --xyz " + xyz.string() + " " + options);
        t << "== process " << options << "\nexit " << p.code << "\n" << p.err;
        std::istringstream rows(read(csv));
        std::string line, last;
        for (int i = 0; std::getline(rows, line); ++i) {
            if (i < 3) t << line << "\n";
            last = line;
        }
        t << "... " << last << "\npoints " << test::digest(test::readBytes(csv)) << "\nlas "
          << test::digest(test::readBytes(las)) << "\nxyz " << test::digest(test::readBytes(xyz))
          << "\n";
    }

    const fs::path cli_ = fs::path(QUARV_BINARY_DIR) / "quarv-cli";
    test::TempDir dir;
};

using GoldenCli = Cli;
using HostileFilesCli = Cli;

TEST_F(GoldenCli, EveryRecordingKindThroughEveryCommand) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::ostringstream t;
        const fs::path rec = dir / c.file;
        const Outcome s = cli("simulate -o " + rec.string() + " " + c.simulate + " --truth " +
                              (dir / "truth.csv").string());
        ASSERT_EQ(s.code, 0) << s.err;
        if (c.truncate > 0) fs::resize_file(rec, fs::file_size(rec) - c.truncate);
        t << "== simulate " << c.simulate << "\n"
          << s.out << s.err << "recording " << test::digest(test::readBytes(rec)) << "\ntruth "
          << test::digest(test::readBytes(dir / "truth.csv")) << "\n";
        const Outcome info = cli("info " + rec.string());
        t << "== info\nexit " << info.code << "\n" << info.out << info.err;
        for (const char* shot : c.shots) {
            std::istringstream words(shot);
            std::string k, p, rest;
            words >> k >> p;
            std::getline(words, rest);
            const Outcome r = cli("shot " + rec.string() + " --home " + (dir / "home").string() +
                                  " --record " + k + " --pulse " + p + rest);
            t << "== shot " << shot << "\nexit " << r.code << "\n" << r.out << r.err;
        }
        for (const char* options : c.process) exports(t, rec.string(), options);
        // The LAS of the last run read back as a layer, and exported again.
        if (fs::exists(dir / "cloud.las")) {
            fs::copy_file(dir / "cloud.las", dir / "import.las",
                          fs::copy_options::overwrite_existing);
            exports(t, (dir / "import.las").string(), "");
        }
        test::expectGolden(std::string("cli_") + c.name + ".txt", t.str());
    }
}

// Usage errors: exit 2 (1 for a file that cannot be used) with the command's own message, and no
// file written.
TEST_F(GoldenCli, RefusedCommandLines) {
    const std::string out = " -o DIR/x.raw";
    std::ostringstream t;
    for (const std::string& bad : std::vector<std::string>{
             "simulate" + out + " --scene moon", "simulate" + out + " --type 7",
             "simulate" + out + " --az 1", "simulate" + out + " --interp 2.5",
             "simulate" + out + " --shots abc", "simulate --scene plane", "process x.raw --layer 5",
             "process x.raw --range-min", "shot x.raw", "shot x.raw --record 1 --pulse -1", "info",
             "nonsense"}) {
        const Outcome r = cli(replaceAll(bad, "DIR", dir.path().string()));
        t << "== " << bad << "\nexit " << r.code << "\n" << r.out << r.err;
        EXPECT_FALSE(fs::exists(dir / "x.raw")) << bad;
    }
    test::expectGolden("cli_refused.txt", t.str());
}

// Every file of tests/slow/hostile/ (made once with the program's own writers, then broken: cut
// short, counts of 65535 or 2^32, NaN calibrations, interpolation beyond the buffers, LAS headers
// that contradict themselves, ...), and names that are folders, FIFOs or missing, through info
// and process.
TEST_F(HostileFilesCli, InfoAndProcessEndCleanlyOnEveryHostileFile) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(fs::path(QUARV_SOURCE_DIR) / "tests/slow/hostile"))
        files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 40u);
    for (const fs::path& source : files) fs::copy_file(source, dir / source.filename());
    for (const char* name : {"folder.raw", "folder.3DC", "folder.las"})
        fs::create_directory(dir / name);
    for (const char* name : {"fifo.raw", "fifo.3DC", "fifo.las"})
        ASSERT_EQ(::mkfifo((dir / name).c_str(), 0600), 0);
    for (const char* name : {"folder.raw", "folder.3DC", "folder.las", "fifo.raw", "fifo.3DC",
                             "fifo.las", "missing.raw", "missing.3DC", "missing.las"})
        files.push_back(dir / name);
    std::string transcript;
    long peakKb = 0;
    for (const fs::path& source : files) {
        const std::string file = (dir / source.filename()).string();
        for (const std::string& command :
             {"info " + file, "process " + file + " --home DIR/home --points DIR/p.csv"}) {
            fs::remove(dir / "p.csv");
            const Outcome o = cli(replaceAll(command, "DIR", dir.path().string()));
            expectCleanEnd(o, command);
            // Whatever a recording holds, no point gets a value that is not a number.
            const std::string ext = source.extension().string();
            if ((ext == ".raw" || ext == ".pek") && fs::exists(dir / "p.csv")) {
                const auto bytes = test::readBytes(dir / "p.csv");
                const std::string csv(bytes.begin(), bytes.end());
                EXPECT_EQ(csv.find("nan"), std::string::npos) << command;
                EXPECT_EQ(csv.find("inf"), std::string::npos) << command;
            }
            transcript += "== " + command.substr(0, command.find(' ')) + " " +
                          source.filename().string() + ": exit " + std::to_string(o.code) + "\n" +
                          o.err;
            peakKb = std::max(peakKb, o.maxRssKb);
        }
    }
    test::expectGolden("cli_hostile.txt", transcript);
    std::printf("peak memory of a run: %ld MiB\n", peakKb / 1024);
}

} // namespace
} // namespace quarv
