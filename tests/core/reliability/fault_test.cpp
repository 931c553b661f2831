// Faults from outside: exports that cannot complete (reported, the file there kept byte for byte,
// no temporary left), recordings cut short anywhere in a line, and many runs on one engine.
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "core/scan/pipeline_fixtures.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>

namespace quarv {
namespace {

namespace fs = std::filesystem;
using test::Engine;
using test::RecordingSpec;

std::size_t entriesIn(const fs::path& dir) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator{}));
}

// Faults 0 and 1: the file system fills up after 1000 bytes or at once; 2: the folder is gone;
// 3: a folder has the export's name. 3000 points are far past the stream buffers.
TEST(ExportFault, ReportsAndLeavesTheExistingFileUntouched) {
    auto store = std::make_unique<CloudStore>();
    store->setCurrentLayer(1);
    std::string xyz;
    for (int i = 0; i < 3000; ++i) {
        const CloudPoint& p = test::addPoint(*store, 1, {.x = 0.01f * i, .y = 0.001f * i, .z = 5});
        char line[64];
        std::snprintf(line, sizeof line, "%.6f %.6f %.6f\r\n", p.x, p.y, p.z);
        xyz += line;
    }
    // A write past the limit fails with EFBIG as one onto a full file system with ENOSPC.
    rlimit unlimited{}, full[2];
    ::getrlimit(RLIMIT_FSIZE, &unlimited);
    full[0] = full[1] = unlimited;
    full[0].rlim_cur = 1000, full[1].rlim_cur = 0;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    test::TempDir tmp;
    for (const std::string kind : {"LAS", "XYZ"}) {
        for (int fault = 0; fault < 4; ++fault) {
            SCOPED_TRACE(kind + " fault " + std::to_string(fault));
            const fs::path folder = tmp / (kind + std::to_string(fault)), target = folder / "s.x";
            const fs::path path = fault == 2 ? tmp / kind / "x" : target;
            const fs::path kept = fault == 3 ? target / "inside" : target;
            fs::create_directories(kept.parent_path());
            test::writeBytes(kept, {'k', '\n'});
            const auto run = [&](MessageSink& sink) {
                return kind == "LAS" ? exportLas(*store, path, sink)
                                     : exportXyz(*store, path, sink);
            };
            RecordingSink sink;
            if (fault < 2) ::setrlimit(RLIMIT_FSIZE, &full[fault]);
            EXPECT_FALSE(run(sink));
            ::setrlimit(RLIMIT_FSIZE, &unlimited);
            EXPECT_EQ(sink.messages(), std::vector<std::string>{"ERROR writing " + kind +
                                                                " file: " + path.string()});
            EXPECT_EQ(entriesIn(folder), 1u) << "a temporary stayed";
            EXPECT_EQ(test::readBytes(kept), (std::vector<std::uint8_t>{'k', '\n'}));
            if (fault == 3) continue;
            fs::create_directories(path.parent_path());
            ASSERT_TRUE(run(sink)) << sink.last(); // with the fault gone the export goes through
            const auto out = test::readBytes(path);
            if (kind == "LAS")
                EXPECT_EQ(out.size(), kLasPointOffset + 3000 * kLasRecordLength);
            else
                EXPECT_EQ(std::string(out.begin(), out.end()), xyz);
            const mode_t mask = ::umask(0); // the permissions an ordinary create gives
            ::umask(mask);
            EXPECT_EQ(fs::status(path).permissions(), fs::perms(0666 & ~mask));
        }
    }
    std::signal(SIGXFSZ, previous);
}

// Every field of two point lists, the colour (which follows the layer's extent) optionally.
void expectSamePoints(std::vector<CloudPoint> got, const std::vector<CloudPoint>& want,
                      bool withColour = true) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (!withColour) got[i].color = want[i].color;
        ASSERT_EQ(std::memcmp(&got[i], &want[i], sizeof(CloudPoint)), 0) << "point " << i;
    }
}

// A recording cut in every part of a line record (prefix, elevation, azimuths, positions, words,
// waveforms; line 5: the trailer) gives the points of its complete lines; the whole recording and
// its LAS export, run between the cuts, give their layers again; no file handle or thread piles up.
TEST(TruncatedRecording, CompleteLinesAreProcessedAndRepeatedRunsLeakNothing) {
    RecordingSpec spec;
    spec.shots = 8, spec.lines = 5, spec.samples = 300;
    spec.rangeOf = [](int line, int shot) { return 4.0 + 0.3 * line + 0.05 * shot; };
    Engine e(2);
    const fs::path whole = e.path("whole.raw"), part = e.path("part.raw"), las = e.path("w.las");
    ASSERT_TRUE(test::writeRecording(whole, spec));
    ASSERT_TRUE(e.process(whole, 0) && exportLas(*e.store, las, e.sink) && e.process(las, 3));
    const auto all = e.points(0), fromLas = e.points(3);
    ASSERT_TRUE(all.size() == 40u && fromLas.size() == 40u);
    const std::size_t fds = entriesIn("/proc/self/fd"), threads = entriesIn("/proc/self/task");
    const std::size_t lineBytes = 22 + 4 * 8 + 8 * (12 + 2 * 300);
    const std::pair<int, std::size_t> cuts[] = {
        {2, 7}, {3, 30}, {1, 60}, {4, 3000}, {3, 0}, {4, lineBytes - 2}, {5, 6}, {2, 151}};
    for (const auto& [line, into] : cuts) {
        SCOPED_TRACE(testing::Message() << "cut " << into << " bytes into line " << line);
        for (std::uint32_t l : {0, 1, 3}) e.openWindow(l); // a run leaves the extent it saw
        fs::copy_file(whole, part, fs::copy_options::overwrite_existing);
        fs::resize_file(part, kScanHeaderSize + line * lineBytes + into);
        ASSERT_TRUE(e.process(part, 1)) << "the run must end";
        EXPECT_TRUE(e.sink.messages().empty()) << e.sink.last();
        EXPECT_FALSE(e.session->isBusy());
        expectSamePoints(e.points(1), {all.begin(), all.begin() + line * 8}, false);
        EXPECT_EQ(e.session->engine().lines(), static_cast<std::size_t>(line));
        ASSERT_TRUE(e.process(whole, 0) && e.process(las, 3));
        expectSamePoints(e.points(0), all);
        expectSamePoints(e.points(3), fromLas);
    }
    EXPECT_EQ(entriesIn("/proc/self/fd"), fds) << "a file handle is left open";
    EXPECT_EQ(entriesIn("/proc/self/task"), threads) << "threads are created per run";
}

} // namespace
} // namespace quarv
