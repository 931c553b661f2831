#include "core/app/save_names.hpp"

namespace quarv {

std::string defaultSaveName(const std::string& sourcePath, const std::string& extension) {
    std::string name = sourcePath.substr(0, sourcePath.size() >= 4 ? sourcePath.size() - 4 : 0);
    name += extension;
    return name;
}

} // namespace quarv
