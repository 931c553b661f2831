#include "core/scan/process_request.hpp"

#include "core/config/config_root.hpp"

#include <cstring>
#include <fstream>
#include <string>

namespace quarv {
namespace {

bool startsWithLasSignature(const std::filesystem::path& path) {
    if (!isRegularFile(path)) return false;
    std::ifstream in(path, std::ios::binary);
    char signature[4] = {};
    return in.read(signature, sizeof signature) && std::memcmp(signature, "LASF", 4) == 0;
}

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

ProcessRequest requestForPath(const std::filesystem::path& path) {
    if (startsWithLasSignature(path)) return ProcessRequest::ImportLas;
    const std::string extension = lowerAscii(path.extension().string());
    if (extension == ".las") return ProcessRequest::ImportLas;
    if (extension == ".3dc") return ProcessRequest::ProcessCloudFile;
    return ProcessRequest::ProcessPlayback;
}

} // namespace quarv
