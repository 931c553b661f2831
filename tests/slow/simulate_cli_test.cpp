// The two commands an operator would chain: quarv-cli simulate writes a recording and its truth
// CSV, quarv-cli process turns the recording into points; the CSVs agree to millimetres.
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace quarv {
namespace {

int run(const std::string& args) {
    const std::string command =
        std::string(QUARV_BINARY_DIR) + "/quarv-cli " + args + " 2>/dev/null";
    return std::system(command.c_str());
}

// Rows of a CSV file with a header line, as column name -> text.
std::vector<std::map<std::string, std::string>> readCsv(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    std::vector<std::string> names;
    std::vector<std::map<std::string, std::string>> rows;
    const auto split = [](const std::string& s) {
        std::vector<std::string> cells;
        std::stringstream ss(s);
        for (std::string c; std::getline(ss, c, ',');) cells.push_back(c);
        return cells;
    };
    if (std::getline(in, line)) names = split(line);
    while (std::getline(in, line)) {
        const auto cells = split(line);
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < names.size() && i < cells.size(); ++i) row[names[i]] = cells[i];
        rows.push_back(row);
    }
    return rows;
}

TEST(SimulateCli, RecordingTruthAndProcessedPointsAgree) {
    test::TempDir dir;
    const std::string raw = (dir / "plane.raw").string();
    const std::string scan = "--scene plane --distance 6 --pan 20 --tilt -15 --shots 40 "
                             "--lines 20 --offsets 0.03,0.11,-0.02 --az-factors 9.5,10.5 --seed 4";
    ASSERT_EQ(run("simulate -o " + raw + " " + scan + " --truth " + (dir / "truth.csv").string()),
              0);
    // The same seed writes the same bytes; another seed other noise.
    ASSERT_EQ(run("simulate -o " + (dir / "again.raw").string() + " " + scan), 0);
    ASSERT_EQ(run("simulate -o " + (dir / "other.raw").string() + " " + scan + " --seed 5"), 0);
    EXPECT_EQ(test::readBytes(raw), test::readBytes(dir / "again.raw"));
    EXPECT_NE(test::readBytes(raw), test::readBytes(dir / "other.raw"));

    ASSERT_EQ(run("process " + raw + " --home " + (dir / "home").string() +
                  " --no-filter --points " + (dir / "points.csv").string()),
              0);
    const auto truth = readCsv(dir / "truth.csv");
    const auto points = readCsv(dir / "points.csv");
    ASSERT_EQ(truth.size(), 800u);
    ASSERT_EQ(points.size(), truth.size());

    std::map<std::pair<long, float>, const std::map<std::string, std::string>*> byShot;
    for (const auto& t : truth)
        byShot[{std::stol(t.at("line")), std::strtof(t.at("azimuth").c_str(), nullptr)}] = &t;
    double sumSq = 0, worst = 0;
    for (const auto& p : points) {
        const auto it =
            byShot.find({std::stol(p.at("line")), std::strtof(p.at("azimuth").c_str(), nullptr)});
        ASSERT_NE(it, byShot.end()) << p.at("line") << " " << p.at("azimuth");
        const auto& t = *it->second;
        double d2 = 0;
        for (const char* k : {"x", "y", "z"}) {
            const double d = std::stod(p.at(k)) - std::stod(t.at(k));
            d2 += d * d;
        }
        sumSq += d2;
        worst = std::max(worst, std::sqrt(d2));
        EXPECT_EQ(std::strtof(p.at("elevation").c_str(), nullptr),
                  std::strtof(t.at("elevation").c_str(), nullptr));
        EXPECT_NEAR(std::stod(p.at("range")), std::stod(t.at("range")), 0.005);
    }
    EXPECT_LT(std::sqrt(sumSq / static_cast<double>(points.size())), 0.002);
    EXPECT_LT(worst, 0.010);
}

TEST(SimulateCli, BadOptionsAreRefused) {
    test::TempDir dir;
    const std::string out = " -o " + (dir / "x.raw").string();
    for (const char* bad : {"--scene moon", "--type 7", "--az 1", "--interp 2.5", "--shots abc"}) {
        SCOPED_TRACE(bad);
        EXPECT_NE(run(std::string("simulate") + out + " " + bad), 0);
        EXPECT_FALSE(std::filesystem::exists(dir / "x.raw"));
    }
    EXPECT_NE(run("simulate --scene plane"), 0); // no output file
}

} // namespace
} // namespace quarv
