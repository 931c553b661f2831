// layers.lcfg: the persisted settings of the point layers, 36 bytes a layer, no header.
#pragma once

#include "core/cloud/cloud_point.hpp"

#include <filesystem>
#include <string>

namespace quarv {

class ConfigRoot;

constexpr std::size_t kLayerListEntrySize = 36;

std::filesystem::path layerListPath(const ConfigRoot& root, const std::string& name);

// Reads `count` entries. inUse is always forced to 0. A missing file zeroes the persisted fields
// and statistics of all `count` records and returns false. A short file fills the fields it holds.
bool readLayerList(PointLayer* layers, int count, const ConfigRoot& root, const std::string& name);
bool readLayerListFile(PointLayer* layers, int count, const std::filesystem::path& file);

// Writes `count` entries (inUse included) through a temporary file. False if it can't be written.
bool writeLayerList(const PointLayer* layers, int count, const ConfigRoot& root,
                    const std::string& name);
bool writeLayerListFile(const PointLayer* layers, int count, const std::filesystem::path& file);

} // namespace quarv
