// The file system against the exports and readers: exports that cannot complete (a file system
// that fills up, a destination that vanished or is a folder) must report the failure, leave the
// file already there byte for byte and leave no temporary behind; names that are not regular
// files must not block any reader, and in place of a settings file read as a missing file.
#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_export.hpp"
#include "core/cloud/cloud_file.hpp"
#include "core/cloud/cloud_test_util.hpp"
#include "core/cloud/las_file.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/config/viewer_settings.hpp"
#include "core/scan/laser_scan_settings.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_processor.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <future>
#include <optional>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarv {
namespace {

namespace fs = std::filesystem;

// Every file this process writes ends at `bytes`: a write beyond fails with EFBIG as one onto a
// full file system fails with ENOSPC (SIGXFSZ ignored meanwhile).
struct FileSizeLimit {
    rlimit saved{};
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    bool active = false;
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        active = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        if (active) ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
    }
};

enum class Fault { FullAfterHeader, FullFromStart, MissingFolder, FolderInTheWay };

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
    return names;
}

TEST(ExportFault, ReportsAndLeavesTheExistingFileUntouched) {
    // 3000 points: far past the stream buffers, so writes fail in the middle of the export.
    auto store = std::make_unique<CloudStore>();
    store->setCurrentLayer(1);
    for (int i = 0; i < 3000; ++i)
        test::addPoint(*store, 1,
                       {.x = 0.01f * i, .y = -2 + 0.001f * i, .z = 5, .amplitude = i % 900 + 0.5f});
    std::string xyz;
    store->forEachVisible([&](std::uint32_t, const CloudPoint& p) {
        char line[64];
        std::snprintf(line, sizeof line, "%.6f %.6f %.6f\r\n", double(p.x), double(p.y),
                      double(p.z));
        xyz += line;
    });
    for (const bool las : {true, false}) {
        for (const Fault fault : {Fault::FullAfterHeader, Fault::FullFromStart,
                                  Fault::MissingFolder, Fault::FolderInTheWay}) {
            SCOPED_TRACE(testing::Message() << (las ? "LAS" : "XYZ") << " fault " << int(fault));
            test::TempDir tmp;
            const fs::path folder = tmp / "exports",
                           target = folder / (las ? "survey.las" : "survey.xyz");
            const fs::path path = fault == Fault::MissingFolder ? tmp / "gone" / "x" : target;
            const std::vector<std::uint8_t> precious = {'k', 'e', 'e', 'p', '\n'};
            fs::create_directories(fault == Fault::FolderInTheWay ? target : folder);
            test::writeBytes(fault == Fault::FolderInTheWay ? target / "inside" : target, precious);
            const std::set<std::string> before = namesIn(folder);
            const auto run = [&](MessageSink& sink) {
                return las ? exportLas(*store, path, sink) : exportXyz(*store, path, sink);
            };
            RecordingSink sink;
            {
                std::optional<FileSizeLimit> limit;
                if (fault == Fault::FullAfterHeader || fault == Fault::FullFromStart) {
                    limit.emplace(fault == Fault::FullAfterHeader ? 1000 : 0);
                    ASSERT_TRUE(limit->active);
                }
                EXPECT_FALSE(run(sink));
            }
            const std::string what = las ? "ERROR writing LAS file: " : "ERROR writing XYZ file: ";
            EXPECT_EQ(sink.messages(), std::vector<std::string>{what + path.string()});
            EXPECT_EQ(namesIn(folder), before) << "no temporary file may stay behind";
            EXPECT_EQ(test::readBytes(fault == Fault::FolderInTheWay ? target / "inside" : target),
                      precious);
            if (fault == Fault::FolderInTheWay) continue;
            fs::create_directories(path.parent_path());
            sink.clear();
            ASSERT_TRUE(run(sink)) << sink.last();  // with the fault gone the export goes through
            const auto out = test::readBytes(path); // every point once, in order
            if (las)
                EXPECT_EQ(out.size(), kLasPointOffset + 3000 * kLasRecordLength);
            else
                EXPECT_EQ(std::string(out.begin(), out.end()), xyz);
            const mode_t mask = ::umask(0); // the permissions an ordinary create gives
            ::umask(mask);
            EXPECT_EQ(fs::status(path).permissions(), fs::perms(0666 & ~mask));
        }
    }
}

// Runs `open` on another thread and expects it to return false within 10 s; if it blocks, a
// writer is attached to the FIFO so that the open returns, and the test fails.
void expectPromptRefusal(const std::filesystem::path& name, const std::function<bool()>& open) {
    auto pending = std::async(std::launch::async, open);
    const bool prompt = pending.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!prompt) {
        const int fd = ::open(name.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    EXPECT_TRUE(prompt) << name << " blocked";
    EXPECT_FALSE(pending.get()) << name;
}

TEST(SpecialFiles, ReadersRefuseFifosAndFoldersWithoutBlocking) {
    test::TempDir dir;
    for (const std::string kind : {"fifo-", "dir-"}) {
        RecordingSink sink;
        const auto raw = dir / (kind + "x.raw"), cloud = dir / (kind + "x.3DC"),
                   las = dir / (kind + "x.las");
        for (const auto& f : {raw, cloud, las})
            ASSERT_TRUE(kind == "dir-" ? std::filesystem::create_directory(f)
                                       : ::mkfifo(f.c_str(), 0600) == 0);
        PlaybackFile reader(sink);
        expectPromptRefusal(raw, [&] { return reader.open(raw); });
        EXPECT_EQ(sink.last(), "ERROR opening playback file: " + raw.string());
        CloudFile cloudFile;
        expectPromptRefusal(cloud, [&] { return cloudFile.open(cloud, sink); });
        EXPECT_EQ(sink.last(), "ERROR: Loading 3DC file, invalid file version");
        LasFile lasFile;
        expectPromptRefusal(las, [&] { return lasFile.openRead(las, sink); });
        EXPECT_EQ(sink.last(), "ERROR: Loading LAS file, not a LAS file: " + las.string());
    }
}

TEST(SpecialFiles, SettingsFilesThatAreFifosReadAsMissing) {
    test::TempDir dir;
    RecordingSink sink;
    const ConfigRoot root(dir / "home");
    ASSERT_TRUE(root.ensureCreated(sink));
    const std::filesystem::path files[] = {layerListPath(root, "layers"),
                                           laserScanSettingsPath(root), root.pulseTemplatePath(),
                                           quarvSettingsPath(root), colorSettingsPath(root)};
    for (const auto& f : files) {
        std::filesystem::remove(f);
        ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0) << f;
    }
    std::array<PointLayer, LAYER_COUNT> layers{};
    LaserScanSettings settings;
    QuarvSettings viewer;
    ColorSettings colours;
    expectPromptRefusal(files[0],
                        [&] { return readLayerList(layers.data(), LAYER_COUNT, root, "layers"); });
    expectPromptRefusal(files[1], [&] { return loadLaserScanSettings(root, settings); });
    EXPECT_EQ(settings.bytes, LaserScanSettings::defaults().bytes);
    expectPromptRefusal(files[2], [&] { return WaveformProcessor(root, sink).templateComplete(); });
    expectPromptRefusal(files[3], [&] { return loadQuarvSettings(files[3], viewer); });
    expectPromptRefusal(files[4], [&] { return loadColorSettings(files[4], colours); });
}

} // namespace
} // namespace quarv
