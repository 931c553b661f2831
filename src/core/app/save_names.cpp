#include "core/app/save_names.hpp"

namespace quarv {

std::string defaultSaveName(const std::string& sourcePath, const std::string& extension) {
    std::string name = sourcePath.substr(0, sourcePath.size() >= 4 ? sourcePath.size() - 4 : 0);
    // A proposal must be a name the operator sees in the folder: leading dots would hide it, and
    // with nothing processed (or nothing left of the name) there is no stem to keep.
    const std::size_t slash = name.find_last_of('/');
    const std::size_t stem = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t visible = name.find_first_not_of('.', stem);
    if (visible == std::string::npos) {
        name.resize(stem);
        name += kUnnamedSaveStem;
    } else {
        name.erase(stem, visible - stem);
    }
    name += extension;
    // Saving an imported LAS file as LAS would propose to overwrite the very file it came from.
    if (name == sourcePath) name.insert(name.size() - extension.size(), kExportSuffix);
    return name;
}

} // namespace quarv
