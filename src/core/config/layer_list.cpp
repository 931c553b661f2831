#include "core/config/layer_list.hpp"

#include "core/config/atomic_file.hpp"
#include "core/config/bytes.hpp"
#include "core/config/config_root.hpp"

#include <fstream>
#include <vector>

namespace quarv {

std::filesystem::path layerListPath(const ConfigRoot& root, const std::string& name) {
    return root.cfgFile(name + ".lcfg");
}

namespace {

// The multi-return settings live beside the layer list, one "returns shown" line per layer, so
// that the list keeps the 36-byte entries other tools read. Anything unreadable or out of range
// gives the defaults: one return, all shown.
std::filesystem::path returnsPath(const ConfigRoot& root, const std::string& name) {
    return root.cfgFile(name + ".returns");
}

void readReturns(PointLayer* layers, int count, const std::filesystem::path& file) {
    std::ifstream in;
    if (isRegularFile(file)) in.open(file);
    for (int i = 0; i < count; ++i) {
        int returns = 1, shown = kShowAllReturns;
        if (in && !(in >> returns >> shown)) returns = 1, shown = kShowAllReturns;
        const bool ok = returns >= 1 && returns <= static_cast<int>(kMaxReturns) && shown >= 0 &&
                        shown <= kShowStrongestReturn;
        layers[i].returns = static_cast<std::uint8_t>(ok ? returns : 1);
        layers[i].returnsShown = static_cast<std::uint8_t>(ok ? shown : kShowAllReturns);
    }
}

bool writeReturns(const PointLayer* layers, int count, const std::filesystem::path& file) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += std::to_string(layers[i].returns) + " " + std::to_string(layers[i].returnsShown) +
                "\n";
    return writeFileAtomically(file, reinterpret_cast<const std::uint8_t*>(text.data()),
                               text.size());
}

} // namespace

bool readLayerList(PointLayer* layers, int count, const ConfigRoot& root, const std::string& name) {
    const bool read = readLayerListFile(layers, count, layerListPath(root, name));
    readReturns(layers, count, returnsPath(root, name));
    return read;
}

bool readLayerListFile(PointLayer* layers, int count, const std::filesystem::path& file) {
    std::ifstream in;
    if (isRegularFile(file)) in.open(file, std::ios::binary);
    if (!in.is_open() || !in) {
        for (int i = 0; i < count; ++i) layers[i].clearSettingsAndStatistics();
        return false;
    }
    // Only the entries asked for are read, into a block of their size: the file's length decides
    // neither what is allocated nor where the fields are taken from.
    std::vector<std::uint8_t> bytes(
        static_cast<std::size_t>(count > 0 ? count : 0) * kLayerListEntrySize, 0);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const std::size_t got = static_cast<std::size_t>(in.gcount());
    for (int i = 0; i < count; ++i) {
        PointLayer& l = layers[i];
        const std::size_t base = static_cast<std::size_t>(i) * kLayerListEntrySize;
        // A field is taken only when the file holds all of its bytes; a short file leaves the
        // rest of the record as it was.
        auto has = [&](std::size_t off, std::size_t size) { return base + off + size <= got; };
        const std::uint8_t* e = bytes.data() + base;
        if (has(0, 4)) {
            l.colorFrom = {e[0], e[1], e[2]};
            l.colorFromExtra = e[3];
        }
        if (has(4, 4)) {
            l.colorTo = {e[4], e[5], e[6]};
            l.colorToExtra = e[7];
        }
        if (has(8, 4)) l.colorMode = le::u32(e + 8);
        l.inUse = 0;
        if (has(13, 1)) l.showSaturated = e[13];
        if (has(14, 1)) l.pointSize = e[14];
        if (has(15, 4)) l.snrMin = le::f32(e + 15);
        if (has(19, 8)) l.filterDistance = le::f64(e + 19);
        if (has(27, 1)) l.neighbourFilter = e[27];
        if (has(28, 4)) l.rangeMin = le::f32(e + 28);
        if (has(32, 4)) l.rangeMax = le::f32(e + 32);
    }
    return true;
}

bool writeLayerList(const PointLayer* layers, int count, const ConfigRoot& root,
                    const std::string& name) {
    return writeLayerListFile(layers, count, layerListPath(root, name)) &&
           writeReturns(layers, count, returnsPath(root, name));
}

bool writeLayerListFile(const PointLayer* layers, int count, const std::filesystem::path& file) {
    std::vector<std::uint8_t> bytes(
        static_cast<std::size_t>(count > 0 ? count : 0) * kLayerListEntrySize, 0);
    for (int i = 0; i < count; ++i) {
        const PointLayer& l = layers[i];
        std::uint8_t* e = bytes.data() + static_cast<std::size_t>(i) * kLayerListEntrySize;
        e[0] = l.colorFrom.r, e[1] = l.colorFrom.g, e[2] = l.colorFrom.b, e[3] = l.colorFromExtra;
        e[4] = l.colorTo.r, e[5] = l.colorTo.g, e[6] = l.colorTo.b, e[7] = l.colorToExtra;
        le::store<std::uint32_t>(e + 8, l.colorMode);
        e[12] = l.inUse;
        e[13] = l.showSaturated;
        e[14] = l.pointSize;
        le::store<float>(e + 15, l.snrMin);
        le::store<double>(e + 19, l.filterDistance);
        e[27] = l.neighbourFilter;
        le::store<float>(e + 28, l.rangeMin);
        le::store<float>(e + 32, l.rangeMax);
    }
    return writeFileAtomically(file, bytes.data(), bytes.size());
}

} // namespace quarv
