// Names that are not regular files: no reader may block on a FIFO, and a FIFO or folder in place
// of a settings file reads as a missing file (the system's defaults).
#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_file.hpp"
#include "core/cloud/las_file.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/config/viewer_settings.hpp"
#include "core/scan/laser_scan_settings.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/waveform/waveform_processor.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace quarv {
namespace {

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
