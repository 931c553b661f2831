#include "core/app/message_sink.hpp"
#include "core/scanfile/file_info.hpp"
#include "core/scanfile/raw_writer.hpp"
#include "scanfile_fixtures.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <sys/wait.h>

namespace quarv {
namespace {

using namespace quarv::test;

ScanHeader describedHeader(std::uint8_t scanType) {
    ScanHeader h = makeHeader(scanType, 100, 100, 400, 50);
    h.scanner.setAzStartOpt(-30.5f);
    h.scanner.setAzStopOpt(30.25f);
    h.scanner.setElStartOpt(-10.0f);
    h.scanner.setElStopOpt(10.125f);
    h.digitizer.setGainCode(9);
    h.processing.setRefractiveIndex(1.340123);
    h.processing.setCtdTemperatureC(12.34);
    h.processing.setCtdSalinityPsu(35.0);
    h.processing.setCtdPressureDbar(10.06);
    h.panTilt.setPanAngle(45.5);
    h.panTilt.setTiltAngle(-12.25);
    h.attitude.setPitchAngle(0.5);
    h.attitude.setRollAngle(-1.0);
    h.environment.setSensor("SX-1");
    h.environment.setJob("Pier");
    h.environment.setScanPos("North");
    h.environment.setScanNum(7);
    h.environment.setNote("calm");
    return h;
}

TEST(FileInformation, TheThirtyLines) {
    const std::vector<std::string> expected = {
        "\t File Configuration Parameters",
        "",
        "/data/scan.raw",
        "",
        "Scan Type: \tMoving Raster",
        "Sensor: \t\tSX-1",
        "Job: \t\tPier",
        "Scan Pos: \tNorth",
        "Scan Num: \t07",
        "Note: \t\tcalm",
        "",
        "Scan Size\t\t\t100 X 50",
        "Az Start Opt\t\t-30.500 deg",
        "Az Stop Opt\t\t30.250 deg",
        "El Start Opt\t\t-10.000 deg",
        "El Stop Opt\t\t10.125 deg",
        "Samples Per Pulse\t\t400",
        "",
        "Gain\t\t\t9000",
        "CTD Index\t\t1.340123",
        "CTD Temp C\t\t12.3",
        "CTD Salinity psu\t\t35.0",
        "CTD Pressure dbar\t\t10.1",
        "",
        "Pan Angle\t\t45.500",
        "Tilt Angle\t\t\t-12.250",
        "",
        "Pitch Angle\t\t0.500",
        "Roll Angle\t\t-1.000",
        "",
    };
    EXPECT_EQ(fileInformationLines("/data/scan.raw", describedHeader(3).image()), expected);
}

TEST(FileInformation, ScanTypesAndScanSize) {
    struct Case {
        std::uint8_t type;
        const char* line5;
        const char* size;
    } cases[] = {
        {0, "Scan Type: \tStable Raster", "Scan Size\t\t\t100 X 50"},
        {1, "Scan Type: \tStop and Stare", "Scan Size\t\t\t100 X 50"},
        {2, "Scan Type: \tMoving Continuous", "Scan Size\t\t\t100 X 50"},
        {3, "Scan Type: \tMoving Raster", "Scan Size\t\t\t100 X 50"},
        {4, "Scan Type: \tMoving Bowtie", "Scan Size\t\t\t400 X 50"},
        {5, "x/odd.raw", "Scan Size\t\t\t100 X 50"}, // no text: the path line again
        {255, "x/odd.raw", "Scan Size\t\t\t100 X 50"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.type));
        const auto lines = fileInformationLines("x/odd.raw", describedHeader(c.type).image());
        ASSERT_EQ(lines.size(), kFileInfoLineCount);
        EXPECT_EQ(lines[4], c.line5);
        EXPECT_EQ(lines[11], c.size);
    }
}

TEST(FileInformation, GainCodes) {
    const std::pair<int, const char*> cases[] = {
        {0, "Gain\t\t\t0"},        {4, "Gain\t\t\t4"},    {5, "Gain\t\t\t500"},
        {8, "Gain\t\t\t800"},      {9, "Gain\t\t\t9000"}, {12, "Gain\t\t\t12000"},
        {255, "Gain\t\t\t255000"},
    };
    for (const auto& [code, text] : cases) {
        ScanHeader h = describedHeader(0);
        h.digitizer.setGainCode(std::uint8_t(code));
        EXPECT_EQ(fileInformationLines("f", h.image())[18], text) << code;
    }
}

TEST(FileInformation, FillInfoReplacesTheLinesAndKeepsTheLastHeader) {
    TempDir dir;
    ScanHeader first = describedHeader(4);
    RawFileWriter w;
    ASSERT_TRUE(w.open(dir / "a.raw", first));
    ASSERT_TRUE(w.finish(std::nullopt));
    ScanHeader bad = describedHeader(1);
    bad.version = 2;
    const auto enc = bad.encode();
    writeBytes(dir / "old.raw", std::vector<std::uint8_t>(enc.begin(), enc.end()));

    RecordingSink sink;
    PlaybackFile reader(sink);
    std::vector<std::string> lines(40, "stale");
    ASSERT_TRUE(fillInfo(reader, dir / "a.raw", lines));
    EXPECT_FALSE(reader.isOpen()); // closed again at once
    EXPECT_EQ(lines, fileInformationLines((dir / "a.raw").string(), first.image()));

    // A refused file: the reader's message, and the list from the header image still held.
    EXPECT_FALSE(fillInfo(reader, dir / "old.raw", lines));
    EXPECT_EQ(sink.messages(),
              std::vector<std::string>{"ERROR: Loading file - convert to version 3.0 before use"});
    ASSERT_EQ(lines.size(), kFileInfoLineCount);
    EXPECT_EQ(lines[2], (dir / "old.raw").string());
    EXPECT_EQ(lines[4], "Scan Type: \tMoving Bowtie");
}

// The command prints exactly these lines on stdout; a refused file gives the message on stderr.
TEST(FileInformation, CliInfoCommand) {
    const std::filesystem::path cli = std::filesystem::path(QUARV_BINARY_DIR) / "quarv-cli";
    if (!std::filesystem::exists(cli)) GTEST_SKIP() << "quarv-cli not built in " << cli;
    TempDir dir;
    RawFileWriter w;
    ASSERT_TRUE(w.open(dir / "s.raw", describedHeader(3)));
    ASSERT_TRUE(w.finish(std::nullopt));
    auto run = [&](const std::string& args, std::string& out) {
        const std::string command =
            cli.string() + " info " + args + " 2>" + (dir / "err.txt").string();
        FILE* p = ::popen(command.c_str(), "r");
        std::array<char, 4096> buf{};
        out.clear();
        for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;)
            out.append(buf.data(), n);
        const int status = ::pclose(p);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    auto errText = [&] {
        const auto b = readBytes(dir / "err.txt");
        return std::string(b.begin(), b.end());
    };

    std::string out;
    EXPECT_EQ(run((dir / "s.raw").string() + " --home " + (dir / "home").string(), out), 0);
    std::string expected;
    for (const auto& l : fileInformationLines((dir / "s.raw").string(), describedHeader(3).image()))
        expected += l + "\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(errText(), "");

    EXPECT_EQ(run((dir / "none.raw").string(), out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(errText(), "ERROR opening playback file: " + (dir / "none.raw").string() + "\n");

    EXPECT_EQ(run("", out), 2); // no file named
}

} // namespace
} // namespace quarv
