#include "fuzz/fuzz_targets.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

namespace quarv::fuzz {

std::span<const Target> targets() {
    static constexpr Target kTargets[] = {
        {"raw_scan", rawScanFile},
        {"cloud_3dc", cloudFile3dc},
        {"las", lasFile},
        {"layer_list", layerList},
        {"quarv_mcfg", quarvSettingsFile},
        {"colorcfg_mcfg", colorSettingsFile},
        {"laserscan_cfg", laserScanSettingsFile},
    };
    return kTargets;
}

namespace {

std::filesystem::path makeScratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarv-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("quarv fuzz: cannot create a scratch folder");
        std::abort();
    }
    return pattern;
}

void removeScratch() {
    std::error_code ec;
    std::filesystem::remove_all(scratchDir(), ec);
}

} // namespace

const std::filesystem::path& scratchDir() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path d = makeScratch();
        std::atexit(removeScratch);
        return d;
    }();
    return dir;
}

std::filesystem::path writeScratch(std::string_view name, const std::uint8_t* data,
                                   std::size_t size) {
    const std::filesystem::path path = scratchDir() / name;
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (size) out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    require(static_cast<bool>(out), "writing the fuzz input to the scratch folder");
    return path;
}

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "quarv fuzz: invariant broken: %s\n", what);
    std::abort();
}

} // namespace quarv::fuzz
