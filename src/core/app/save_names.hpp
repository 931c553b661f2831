// Default file names of the Save commands: the processed recording's path with its last four
// characters (the extension of "scan01.raw") replaced. However long the path, it is kept whole.
#pragma once

#include <string>

namespace quarv {

inline constexpr const char* kUnnamedSaveStem = "points";
inline constexpr const char* kExportSuffix = "_export";

// "C:\data\scan01.raw" with ".las" gives "C:\data\scan01.las". The proposal is never hidden
// and never the source itself: leading dots of the name are dropped, an empty name (nothing
// processed, or a path of four characters or fewer) becomes "points", and a name equal to the
// source ("survey.las" imported, saved as LAS) gets "_export" before its extension.
std::string defaultSaveName(const std::string& sourcePath, const std::string& extension);

} // namespace quarv
