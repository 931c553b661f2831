// The command line end to end over small simulated recordings of every kind: what simulate writes,
// what info and shot print and what process exports (points, LAS, XYZ, the LAS read back) are kept
// as golden transcripts. Any change in the numbers or bytes an operator gets shows up here; the
// accuracy against the ground truth is checked in simulated_scans_test.cpp.
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
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
     {"", "--filter-distance 0.5", "--no-filter --range-min 2 --range-max 9"}},
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

struct CliRun {
    int code = -1;
    std::string out, err;
};

class GoldenCli : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(cli_)) GTEST_SKIP() << cli_ << " is not built";
    }

    std::string read(const fs::path& file) {
        const auto bytes = test::readBytes(file);
        return std::string(bytes.begin(), bytes.end());
    }

    // Runs quarv-cli; the temporary folder's name and the run time are taken out of what it
    // prints, and so are the progress lines.
    CliRun cli(const std::string& args) {
        const std::string command = cli_.string() + " " + args + " >" + (dir / "out").string() +
                                    " 2>" + (dir / "err").string();
        const int status = std::system(command.c_str());
        CliRun r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        const std::regex folder(dir.path().string()), seconds(", [0-9.]+ s\n"),
            progress("progress [0-9]+%\n");
        const auto clean = [&](std::string s) {
            s = std::regex_replace(s, folder, "DIR");
            s = std::regex_replace(s, seconds, ", T s\n");
            return std::regex_replace(s, progress, "");
        };
        r.out = clean(read(dir / "out"));
        r.err = clean(read(dir / "err"));
        return r;
    }

    // The exports of one process run: the points CSV's digest with its first and last rows, the
    // LAS and XYZ digests.
    void exports(std::ostringstream& t, const std::string& input, const std::string& options) {
        const fs::path csv = dir / "points.csv", las = dir / "cloud.las", xyz = dir / "cloud.xyz";
        for (const fs::path& f : {csv, las, xyz}) fs::remove(f);
        const CliRun p =
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

TEST_F(GoldenCli, EveryRecordingKindThroughEveryCommand) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::ostringstream t;
        const fs::path rec = dir / c.file;
        const CliRun s = cli("simulate -o " + rec.string() + " " + c.simulate + " --truth " +
                             (dir / "truth.csv").string());
        ASSERT_EQ(s.code, 0) << s.err;
        if (c.truncate > 0) fs::resize_file(rec, fs::file_size(rec) - c.truncate);
        t << "== simulate " << c.simulate << "\n"
          << s.out << s.err << "recording " << test::digest(test::readBytes(rec)) << "\ntruth "
          << test::digest(test::readBytes(dir / "truth.csv")) << "\n";
        const CliRun info = cli("info " + rec.string());
        t << "== info\nexit " << info.code << "\n" << info.out << info.err;
        for (const char* shot : c.shots) {
            std::istringstream words(shot);
            std::string k, p, rest;
            words >> k >> p;
            std::getline(words, rest);
            const CliRun r = cli("shot " + rec.string() + " --home " + (dir / "home").string() +
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
        const CliRun r = cli(std::regex_replace(bad, std::regex("DIR"), dir.path().string()));
        t << "== " << bad << "\nexit " << r.code << "\n" << r.out << r.err;
        EXPECT_FALSE(fs::exists(dir / "x.raw")) << bad;
    }
    test::expectGolden("cli_refused.txt", t.str());
}

} // namespace
} // namespace quarv
