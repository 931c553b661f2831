// The attribute-rich export end to end through quarv-cli: LAS 1.4 read back by a reader written
// here from the format's text (not ours) against the --points CSV, a levelled seabed, a hand-
// computed placement in UTM with its WKT read back by PROJ, and hostile pose/CRS input.
#include "support/test_support.hpp"

#include <gtest/gtest.h>
#include <proj.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace quarv {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int exit = -1;
    std::string err;
};

CliRun cli(const test::TempDir& dir, const std::string& args) {
    const std::string cmd = "cd " + dir.path().string() + " && QUARV_HOME=home " +
                            QUARV_BINARY_DIR "/quarv-cli " + args + " >/dev/null 2>err.txt";
    const int status = std::system(cmd.c_str());
    std::ifstream in(dir / "err.txt");
    std::stringstream text;
    text << in.rdbuf();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

std::vector<std::vector<double>> csvRows(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line); // column names
    std::vector<std::vector<double>> rows;
    while (std::getline(in, line)) {
        std::vector<double> row;
        std::stringstream cells(line);
        for (std::string c; std::getline(cells, c, ',');) row.push_back(std::stod(c));
        rows.push_back(row);
    }
    return rows;
}
enum { X, Y, Z, AZ, EL, RANGE, AMP, SNR, SAT, VALID, SEQ, LINE, PEAK };

template <typename T> T at(const std::vector<std::uint8_t>& b, std::size_t o) {
    T v;
    std::memcpy(&v, b.data() + o, sizeof v);
    return v;
}

// A LAS 1.4 file as its text describes it: public header block, VLRs, point records of format 7
// with the extra bytes the Extra Bytes record describes.
struct Las14 {
    std::vector<std::uint8_t> b;
    std::uint32_t offset = 0;
    std::uint16_t length = 0;
    std::uint64_t count = 0;
    std::string wkt;
    std::vector<std::pair<std::string, int>> extras; // name, data type
    double coord(std::size_t i, int axis) const {
        return at<std::int32_t>(b, offset + i * length + 4 * axis) * at<double>(b, 131 + 8 * axis) +
               at<double>(b, 155 + 8 * axis);
    }
    template <typename T> T field(std::size_t i, std::size_t o) const {
        return at<T>(b, offset + i * length + o);
    }
};

Las14 readLas14(const fs::path& file) {
    Las14 l;
    l.b = test::readBytes(file);
    const auto& b = l.b;
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "LASF");
    EXPECT_EQ(b[24] * 10 + b[25], 14);
    EXPECT_EQ(at<std::uint16_t>(b, 94), 375);
    EXPECT_EQ(b[104], 7);
    l.offset = at<std::uint32_t>(b, 96);
    l.length = at<std::uint16_t>(b, 105);
    l.count = at<std::uint64_t>(b, 247);
    EXPECT_EQ(at<std::uint32_t>(b, 107), l.count); // legacy count
    EXPECT_EQ(b.size(), l.offset + l.count * l.length);
    std::size_t p = 375, extraSize = 0;
    for (std::uint32_t v = 0; v < at<std::uint32_t>(b, 100); ++v) {
        const std::string user(reinterpret_cast<const char*>(&b[p + 2]));
        const std::uint16_t id = at<std::uint16_t>(b, p + 18), size = at<std::uint16_t>(b, p + 20);
        if (user == "LASF_Spec" && id == 4) {
            EXPECT_EQ(size % 192, 0u);
            for (std::size_t d = p + 54; d < p + 54 + size; d += 192) {
                l.extras.emplace_back(reinterpret_cast<const char*>(&b[d + 4]), b[d + 2]);
                static const std::size_t sizes[] = {0, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
                extraSize += sizes[b[d + 2]];
            }
        } else if (user == "LASF_Projection" && id == 2112) {
            l.wkt = reinterpret_cast<const char*>(&b[p + 54]);
        }
        p += 54 + size;
    }
    EXPECT_EQ(p, l.offset);
    EXPECT_EQ(l.length, 36 + extraSize);
    EXPECT_EQ((at<std::uint16_t>(b, 6) & 16) != 0, !l.wkt.empty()); // WKT bit
    return l;
}

TEST(SurveyExport, LasCarriesEveryAttributeOfThePointsCsv) {
    test::TempDir dir;
    ASSERT_EQ(cli(dir, "simulate -o h.raw --scene harbour --shots 48 --lines 16 --scatterers "
                       "30000 --seed 2")
                  .exit,
              0);
    ASSERT_EQ(cli(dir, "process h.raw --export h.LAS --include-hidden --points h.csv").exit, 0);
    const auto rows = csvRows(dir / "h.csv");
    const Las14 las = readLas14(dir / "h.LAS");
    const std::vector<std::pair<std::string, int>> extras = {
        {"range", 9},          {"snr", 9},    {"amplitude", 3},
        {"saturated", 1},      {"line", 5},   {"shot", 5},
        {"peak position", 10}, {"pulses", 3}, {"range std dev", 9}};
    EXPECT_EQ(las.extras, extras);
    ASSERT_EQ(las.count, rows.size());
    int hidden = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& r = rows[i];
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(las.coord(i, a), r[X + a], 0.6e-4);
        EXPECT_EQ(las.field<std::uint8_t>(i, 14), 0x11); // return 1 of 1
        EXPECT_EQ(las.field<std::uint8_t>(i, 16), r[VALID] ? 1 : 7);
        hidden += r[VALID] ? 0 : 1;
        EXPECT_EQ(las.field<std::int16_t>(i, 18), std::nearbyint(r[AZ] / 0.006));
        EXPECT_EQ(las.field<double>(i, 22), 0.0); // GPS time
        EXPECT_EQ(las.field<float>(i, 36), float(r[RANGE]));
        EXPECT_EQ(las.field<float>(i, 40), float(r[SNR]));
        EXPECT_EQ(las.field<std::uint16_t>(i, 44), std::nearbyint(r[AMP]));
        EXPECT_EQ(las.field<std::uint8_t>(i, 46), r[SAT]);
        EXPECT_EQ(las.field<std::uint32_t>(i, 47), r[LINE]);
        EXPECT_EQ(las.field<double>(i, 55), float(r[PEAK]));
        EXPECT_EQ(las.field<std::uint16_t>(i, 63), 1); // one pulse per line-scan point
    }
    EXPECT_GT(hidden, 0);
    // A stare point averages its position's pulses: their number and spread travel along.
    ASSERT_EQ(cli(dir, "simulate -o s.raw --scene plane --type 1 --shots 6 --lines 4 --pulses 3 "
                       "--samples 400")
                  .exit,
              0);
    ASSERT_EQ(cli(dir, "process s.raw --export s.las").exit, 0);
    const Las14 stare = readLas14(dir / "s.las");
    ASSERT_GT(stare.count, 0u);
    for (std::size_t i = 0; i < stare.count; ++i) {
        EXPECT_EQ(stare.field<std::uint16_t>(i, 63), 3);
        EXPECT_GT(stare.field<float>(i, 65), 0.0f);
    }
}

TEST(SurveyExport, LevelSeabedScannedPitchedAndRolledComesBackLevel) {
    test::TempDir dir;
    ASSERT_EQ(cli(dir, "simulate -o f.raw --scene flat --shots 64 --lines 40 --pitch 3 --roll -2 "
                       "--noise 0")
                  .exit,
              0);
    for (const bool level : {false, true}) {
        ASSERT_EQ(
            cli(dir, std::string("process f.raw --export f.las") + (level ? " --level" : "")).exit,
            0);
        const Las14 las = readLas14(dir / "f.las");
        double sum = 0;
        for (std::size_t i = 0; i < las.count; ++i) sum += std::pow(las.coord(i, 2) + 3.0, 2);
        const double rms = std::sqrt(sum / double(las.count));
        if (level)
            EXPECT_LT(rms, 1e-4) << "level bottom at z = -3";
        else
            EXPECT_GT(rms, 0.1);
    }
}

TEST(SurveyExport, PlacementInUtmByHandAndItsWktReadBackByProj) {
    test::TempDir dir;
    ASSERT_EQ(cli(dir, "simulate -o p.raw --scene plane --shots 12 --lines 6").exit, 0);
    // Heading 90: the boresight (+Y) points east, +X south. E = 500000 + y, N = 5700000 - x.
    const std::string pose = " --position 500000,5700000,-10 --heading 90 --crs EPSG:32631";
    ASSERT_EQ(cli(dir, "process p.raw --points p.csv --export p.ply" + pose).exit, 0);
    ASSERT_EQ(cli(dir, "process p.raw --export p.las" + pose).exit, 0);
    auto rows = csvRows(dir / "p.csv");
    std::erase_if(rows, [](const auto& r) { return r[VALID] == 0; }); // hidden: not exported
    const auto ply = test::readBytes(dir / "p.ply");
    const std::string text(ply.begin(), ply.end());
    const std::size_t body = text.find("end_header\n") + 11;
    ASSERT_NE(text.find("comment crs WGS 84 / UTM zone 31N\n"), std::string::npos);
    ASSERT_EQ(ply.size(), body + rows.size() * 72);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_NEAR(at<double>(ply, body + 72 * i), 500000 + rows[i][Y], 1e-6);
        EXPECT_NEAR(at<double>(ply, body + 72 * i + 8), 5700000 - rows[i][X], 1e-6);
        EXPECT_NEAR(at<double>(ply, body + 72 * i + 16), -10 + rows[i][Z], 1e-6);
    }
    const Las14 las = readLas14(dir / "p.las");
    PJ_CONTEXT* ctx = proj_context_create();
    PJ* fromFile = proj_create(ctx, las.wkt.c_str());
    PJ* utm = proj_create(ctx, "EPSG:32631");
    ASSERT_NE(fromFile, nullptr);
    EXPECT_TRUE(proj_is_equivalent_to(fromFile, utm, PJ_COMP_EQUIVALENT));
    proj_destroy(fromFile);
    proj_destroy(utm);
    proj_context_destroy(ctx);
    // On the zone's central meridian (3 E) the easting is the false easting.
    ASSERT_EQ(cli(dir, "process p.raw --export q.las --position 51,3,40 --position-crs "
                       "EPSG:4979 --crs EPSG:32631")
                  .exit,
              0);
    const Las14 q = readLas14(dir / "q.las");
    EXPECT_NEAR(q.coord(0, 0), 500000 + rows[0][X], 1e-3);
}

TEST(SurveyExport, HostilePoseAndCrsAreRefusedAndLeaveTheFileAlone) {
    test::TempDir dir;
    ASSERT_EQ(cli(dir, "simulate -o p.raw --scene plane --shots 8 --lines 4").exit, 0);
    struct Case {
        const char* args;
        const char* sidecar; // written as p.pose.json when set
        const char* says;
    };
    const Case cases[] = {
        {"--position 1,2", nullptr, "is not three numbers"},
        {"--heading north", nullptr, "is not a number"},
        {"--position 1,2,3 --crs EPSG:999999", nullptr, "unknown coordinate system"},
        {"--position 1,2,3 --crs EPSG:4326", nullptr, "not a projected"},
        {"--position 9000000,1,0 --crs EPSG:32631", nullptr, "outside the area of use"},
        {"--position 1,2,3 --position-crs EPSG:4979", nullptr, "needs a coordinate system"},
        {"", "{\"position\": [1, 2]}", "\"position\" is not [E, N, H]"},
        {"", "{\"heading\": 3,", "not valid JSON"},
        {"", "{\"height\": 3}", "unknown key"},
    };
    for (const Case& c : cases) {
        if (c.sidecar)
            test::writeBytes(dir / "p.pose.json", {c.sidecar, c.sidecar + std::strlen(c.sidecar)});
        test::writeBytes(dir / "out.las", {'k', 'e', 'e', 'p'});
        const CliRun r = cli(dir, std::string("process p.raw --export out.las ") + c.args);
        EXPECT_EQ(r.exit, 1) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(test::readBytes(dir / "out.las"),
                  (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
        fs::remove(dir / "p.pose.json");
    }
    const CliRun r = cli(dir, "process p.raw --export nowhere/x.ply");
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find("cannot create the file"), std::string::npos) << r.err;
}

} // namespace
} // namespace quarv
