// The small settings files: layers.lcfg, quarv.mcfg, colorcfg.mcfg and laserscan.cfg. Beyond not
// crashing on any length or content, a load followed by a save must give back the file's bytes
// (the layer list's inUse byte excepted, which is never taken from the file).
#include "fuzz/fuzz_targets.hpp"

#include "core/cloud/cloud_point.hpp"
#include "core/config/config_root.hpp"
#include "core/config/layer_list.hpp"
#include "core/config/viewer_settings.hpp"
#include "core/scan/laser_scan_settings.hpp"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <vector>

namespace quarv::fuzz {
namespace {

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The first N bytes of the input, zero beyond its end: what a whole-block load into a zeroed
// block holds.
template <std::size_t N>
std::array<std::uint8_t, N> zeroPadded(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, N> block{};
    std::copy_n(data, std::min(size, N), block.begin());
    return block;
}

} // namespace

int layerList(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = writeScratch("layers.lcfg", data, size);
    std::array<PointLayer, LAYER_COUNT> layers{};
    require(readLayerListFile(layers.data(), LAYER_COUNT, path), "an existing layer list reads");
    for (const PointLayer& l : layers) require(l.inUse == 0, "inUse is never taken from the file");

    const std::filesystem::path again = scratchDir() / "layers-again.lcfg";
    require(writeLayerListFile(layers.data(), LAYER_COUNT, again), "the layer list writes");
    const std::vector<std::uint8_t> written = fileBytes(again);
    require(written.size() == LAYER_COUNT * kLayerListEntrySize, "180 bytes written");
    // Every field the file holds completely comes back byte for byte.
    struct Field {
        std::size_t at, size;
    };
    static constexpr Field kFields[] = {{0, 4},  {4, 4},  {8, 4},  {13, 1}, {14, 1},
                                        {15, 4}, {19, 8}, {27, 1}, {28, 4}, {32, 4}};
    for (std::size_t e = 0; e < LAYER_COUNT; ++e) {
        const std::size_t base = e * kLayerListEntrySize;
        require(written[base + 12] == 0, "inUse is written as read: 0");
        for (const Field& f : kFields)
            if (base + f.at + f.size <= size)
                require(std::equal(data + base + f.at, data + base + f.at + f.size,
                                   written.begin() + static_cast<std::ptrdiff_t>(base + f.at)),
                        "a layer list field survives read and write unchanged");
    }
    return 0;
}

int quarvSettingsFile(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = writeScratch("quarv.mcfg", data, size);
    QuarvSettings s;
    require(loadQuarvSettings(path, s), "an existing quarv.mcfg loads");
    require(s.encode() == zeroPadded<kQuarvSettingsSize>(data, size),
            "quarv.mcfg: load then encode gives back the file's block");
    return 0;
}

int colorSettingsFile(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path path = writeScratch("colorcfg.mcfg", data, size);
    ColorSettings s;
    require(loadColorSettings(path, s), "an existing colorcfg.mcfg loads");
    require(s.encode() == zeroPadded<kColorSettingsSize>(data, size),
            "colorcfg.mcfg: load then encode gives back the file's block");
    return 0;
}

int laserScanSettingsFile(const std::uint8_t* data, std::size_t size) {
    const ConfigRoot root(scratchDir() / "home");
    writeScratch("home/CAL/laserscan.cfg", data, size);
    LaserScanSettings s;
    require(loadLaserScanSettings(root, s) == (size > 0),
            "laserscan.cfg: the defaults stand in only for an empty file");
    // The file's bytes as they are, the defaults' bytes beyond a short file's end.
    const LaserScanSettings defaults = LaserScanSettings::defaults();
    for (std::size_t i = 0; i < LaserScanSettings::kSize; ++i)
        require(s.bytes[i] == (i < size ? data[i] : defaults.bytes[i]),
                "laserscan.cfg loads byte for byte");

    LaserScanSettings completed = s;
    completed.complete(s.averageWindow(), s.rangeMin(), s.rangeMax(), s.snrThreshold());
    require(saveLaserScanSettings(root, completed), "laserscan.cfg saves");
    LaserScanSettings back;
    require(loadLaserScanSettings(root, back) && back.bytes == completed.bytes,
            "laserscan.cfg reads back as saved");
    return 0;
}

} // namespace quarv::fuzz
