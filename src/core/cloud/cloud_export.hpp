// Export of the visible points of all layers in use (LAS and XYZ), shared by the workstation and
// the command line, and the fill of a layer from an open LAS file. Every export goes through a
// temporary file in the destination folder: one that fails leaves an existing file untouched.
#pragma once

#include "core/cloud/cloud_store.hpp"

#include <cstdint>
#include <filesystem>

namespace quarv {

class CloudRenderer;
class LasFile;
class MessageSink;

// One format-0 record per visible point in enumeration order, with the point's amplitude, edge
// flag off, scan angle 1.0 and user data 1.0. The header's count and extent are those of the
// points actually written (a layer still filling cannot make them disagree). On failure reports
// "ERROR writing LAS file: %s" and returns false; callers that keep quiet pass a NullSink.
bool exportLas(const CloudStore& store, const std::filesystem::path& path, MessageSink& sink);
bool exportLas(const CloudRenderer& renderer, const std::filesystem::path& path, MessageSink& sink);

// One line "%.6f %.6f %.6f" with CR LF per visible point in enumeration order, no header. On
// failure reports "ERROR writing XYZ file: %s" and returns false.
bool exportXyz(const CloudStore& store, const std::filesystem::path& path, MessageSink& sink);
bool exportXyz(const CloudRenderer& renderer, const std::filesystem::path& path, MessageSink& sink);

// Reads the records of an open LAS file into the next slots of layer l: each point gets
// range = |(x, y, z)| and valid 1 and is added to the layer statistics in slot order. Points are
// decoded in chunks, on helper threads for a large file, and committed a chunk at a time. Stops
// after the header's number of records or at the end of the file; returns the records read.
std::uint64_t fillLayerFromLas(LasFile& las, CloudStore& store, std::uint32_t l);

} // namespace quarv
