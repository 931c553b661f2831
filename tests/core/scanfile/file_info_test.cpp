#include "core/app/message_sink.hpp"
#include "core/scanfile/file_info.hpp"
#include "core/scanfile/playback_file.hpp"
#include "scanfile_fixtures.hpp"
#include "support/golden.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

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

// The 30 lines of every scan type (types without a text repeat the path line; the bowtie's scan
// size counts 4 W shots) and the displayed gain of each gain code range.
TEST(FileInformation, LinesOfEveryScanTypeAndGainCode) {
    std::string text;
    for (std::uint8_t type : {3, 0, 1, 2, 4, 5, 255}) {
        const auto lines = fileInformationLines("/data/scan.raw", describedHeader(type).image());
        EXPECT_EQ(lines.size(), kFileInfoLineCount);
        text += "== type " + std::to_string(type) + "\n";
        for (const auto& l : lines) text += l + "\n";
    }
    for (int code : {0, 4, 5, 8, 9, 12, 255}) {
        ScanHeader h = describedHeader(0);
        h.digitizer.setGainCode(std::uint8_t(code));
        text += std::to_string(code) + " -> " + fileInformationLines("f", h.image())[18] + "\n";
    }
    expectGolden("file_information.txt", text);
}

TEST(FileInformation, FillInfoReplacesTheLinesAndKeepsTheLastHeader) {
    TempDir dir;
    const ScanHeader first = describedHeader(4);
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
    // A refused file: the reader's message, and the lines from the header image still held.
    EXPECT_FALSE(fillInfo(reader, dir / "old.raw", lines));
    EXPECT_EQ(sink.messages(),
              std::vector<std::string>{"ERROR: Loading file - convert to version 3.0 before use"});
    EXPECT_EQ(lines, fileInformationLines((dir / "old.raw").string(), first.image()));
}

} // namespace
} // namespace quarv
