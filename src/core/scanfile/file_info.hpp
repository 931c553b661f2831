// The "File Information" text of a recording: the header's configuration, one value per line,
// 30 lines with tab characters for alignment, as the information dialog, the build dialog's file
// summary and `quarv-cli info` show it.
#pragma once

#include "core/scanfile/playback_file.hpp"
#include "core/scanfile/scan_header.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quarv {

inline constexpr std::size_t kFileInfoLineCount = 30;

// The gain as displayed: the code below 5, code × 100 for 5 to 8, code × 1000 from 9.
int displayedGain(std::uint8_t gainCode);

// The 30 lines for `path` from a header image, in UTF-8 (the header's Windows-1252 text fields
// decoded). A scan type above 4 has no text of its own; its line repeats the path line. Lines are
// not cut to any buffer width.
std::vector<std::string> fileInformationLines(const std::string& path, const HeaderImage& image);

// Opens `path` with `reader` and closes it at once (only the header image is needed), then
// replaces `lines` with the 30 lines from the header image the reader holds. When the open
// fails, the reader has reported why and the lines come from the image it still holds (that of
// an earlier file, or zeros). Returns whether the open succeeded.
bool fillInfo(PlaybackFile& reader, const std::filesystem::path& path,
              std::vector<std::string>& lines);

} // namespace quarv
