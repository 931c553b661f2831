#include "core/app/save_names.hpp"

namespace quarv {

std::string defaultSaveName(const std::string& sourcePath, const std::string& extension) {
    std::string name = sourcePath.substr(0, sourcePath.size() >= 4 ? sourcePath.size() - 4 : 0);
    name += extension;
    if (name.size() > 127) name.resize(127); // the 128-character buffer keeps its terminator
    return name;
}

} // namespace quarv
