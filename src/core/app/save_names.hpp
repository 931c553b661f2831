// Default file names of the Save commands: the processed recording's path with its last four
// characters (the extension of "scan01.raw") replaced. However long the path, it is kept whole.
#pragma once

#include <string>

namespace quarv {

// "C:\data\scan01.raw" with ".las" gives "C:\data\scan01.las". A path of fewer than four
// characters loses all of them.
std::string defaultSaveName(const std::string& sourcePath, const std::string& extension);

} // namespace quarv
