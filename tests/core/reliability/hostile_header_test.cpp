// LAS header values that multiply into sizes and offsets, at and beyond what a file can hold, and
// names that are not regular files: counts must be checked without overflow and no reader may
// block on a FIFO.
#include "core/app/message_sink.hpp"
#include "core/cloud/cloud_file.hpp"
#include "core/cloud/las_file.hpp"
#include "core/config/bytes.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/config/viewer_settings.hpp"
#include "core/scan/laser_scan_settings.hpp"
#include "core/scanfile/playback_file.hpp"
#include "core/scanfile/scan_header.hpp"
#include "core/waveform/waveform_processor.hpp"
#include "support/test_support.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace quarv {
namespace {

using test::TempDir;

// ---- LAS header arithmetic ----

std::vector<std::uint8_t> lasHeader(unsigned minor, std::uint16_t headerSize, unsigned format,
                                    std::uint16_t recordLength, std::uint32_t count,
                                    std::uint32_t offset) {
    std::vector<std::uint8_t> b(std::max<std::size_t>(headerSize, 375), 0);
    std::memcpy(b.data(), "LASF", 4);
    b[24] = 1;
    b[25] = static_cast<std::uint8_t>(minor);
    le::store<std::uint16_t>(b.data() + 94, headerSize);
    le::store<std::uint32_t>(b.data() + 96, offset);
    b[104] = static_cast<std::uint8_t>(format);
    le::store<std::uint16_t>(b.data() + 105, recordLength);
    le::store<std::uint32_t>(b.data() + 107, count);
    for (int i = 0; i < 3; ++i) le::store<double>(b.data() + 131 + 8 * i, 0.001);
    return b;
}

TEST(LasHeaderArithmetic, CountsAreCheckedAgainstTheFileWithoutOverflow) {
    struct Row {
        const char* name;
        std::vector<std::uint8_t> header;
        std::uint64_t fileSize;
        bool accepted;
    };
    auto with64 = [](std::vector<std::uint8_t> h, std::uint64_t count) {
        le::store<std::uint64_t>(h.data() + 247, count);
        return h;
    };
    const Row rows[] = {
        {"count fills the file exactly", lasHeader(2, 227, 0, 20, 10, 227), 227 + 200, true},
        {"one record more than the file", lasHeader(2, 227, 0, 20, 11, 227), 227 + 200, false},
        {"largest 32-bit count, longest records", lasHeader(2, 227, 1, 65535, 0xFFFFFFFF, 227),
         227 + 65535, false},
        {"64-bit count of version 1.4", with64(lasHeader(4, 375, 6, 30, 0, 375), ~0ull), 375 + 300,
         false},
        {"64-bit count that fits", with64(lasHeader(4, 375, 6, 30, 0, 375), 10), 375 + 300, true},
        {"offset to points beyond the file", lasHeader(2, 227, 0, 20, 0, 0xFFFFFFFF), 1000, false},
        {"offset inside the header", lasHeader(2, 227, 0, 20, 0, 100), 1000, false},
        {"header size beyond the file", lasHeader(2, 60000, 0, 20, 0, 60000), 1000, false},
        {"record shorter than its format", lasHeader(2, 227, 3, 33, 1, 227), 1000, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        LasHeaderInfo info;
        std::string why;
        EXPECT_EQ(decodeLasHeader(r.header.data(), r.header.size(), r.fileSize, info, why),
                  r.accepted)
            << why;
        if (!r.accepted) {
            EXPECT_FALSE(why.empty());
        }
    }
}

// ---- names that are not regular files ----

// Runs `open` on another thread; if it has not returned after 10 s, a writer is attached to the
// FIFO so that the blocked open returns, and the test fails.
bool returnsPromptly(const std::filesystem::path& fifo, std::function<bool()> open, bool& result) {
    auto pending = std::async(std::launch::async, std::move(open));
    if (pending.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
        result = pending.get();
        return true;
    }
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
    result = pending.get();
    return false;
}

TEST(SpecialFiles, ReadersRefuseFifosAndFoldersWithoutBlocking) {
    TempDir dir;
    for (const char* name : {"x.raw", "x.3DC", "x.las"}) {
        ASSERT_EQ(::mkfifo((dir / (std::string("fifo-") + name)).c_str(), 0600), 0);
        std::filesystem::create_directory(dir / (std::string("dir-") + name));
    }
    for (const char* kind : {"fifo-", "dir-"}) {
        SCOPED_TRACE(kind);
        RecordingSink sink;
        bool opened = true;
        const auto raw = dir / (std::string(kind) + "x.raw");
        PlaybackFile reader(sink);
        EXPECT_TRUE(returnsPromptly(
            raw, [&] { return reader.open(raw); }, opened));
        EXPECT_FALSE(opened);
        EXPECT_EQ(sink.last(), "ERROR opening playback file: " + raw.string());

        const auto cloud = dir / (std::string(kind) + "x.3DC");
        CloudFile cloudFile;
        EXPECT_TRUE(returnsPromptly(
            cloud, [&] { return cloudFile.open(cloud, sink); }, opened));
        EXPECT_FALSE(opened);
        EXPECT_EQ(sink.last(), "ERROR: Loading 3DC file, invalid file version");

        const auto las = dir / (std::string(kind) + "x.las");
        LasFile lasFile;
        EXPECT_TRUE(returnsPromptly(
            las, [&] { return lasFile.openRead(las, sink); }, opened));
        EXPECT_FALSE(opened);
        EXPECT_EQ(sink.last(), "ERROR: Loading LAS file, not a LAS file: " + las.string());
    }
}

// The fixed-name settings and calibration files: a FIFO in their place reads as a missing file
// (the system's defaults) instead of blocking start-up or a processing run.
TEST(SpecialFiles, SettingsFilesThatAreFifosReadAsMissing) {
    TempDir dir;
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
    bool loaded = true;
    std::array<PointLayer, LAYER_COUNT> layers{};
    EXPECT_TRUE(returnsPromptly(
        files[0], [&] { return readLayerList(layers.data(), LAYER_COUNT, root, "layers"); },
        loaded));
    EXPECT_FALSE(loaded);
    LaserScanSettings settings;
    EXPECT_TRUE(returnsPromptly(
        files[1], [&] { return loadLaserScanSettings(root, settings); }, loaded));
    EXPECT_FALSE(loaded);
    EXPECT_EQ(settings.bytes, LaserScanSettings::defaults().bytes);
    EXPECT_TRUE(returnsPromptly(
        files[2], [&] { return WaveformProcessor(root, sink).templateComplete(); }, loaded));
    EXPECT_FALSE(loaded);
    QuarvSettings viewer;
    EXPECT_TRUE(returnsPromptly(
        files[3], [&] { return loadQuarvSettings(files[3], viewer); }, loaded));
    EXPECT_FALSE(loaded);
    ColorSettings colours;
    EXPECT_TRUE(returnsPromptly(
        files[4], [&] { return loadColorSettings(files[4], colours); }, loaded));
    EXPECT_FALSE(loaded);
}

} // namespace
} // namespace quarv
