#include "core/config/config_root.hpp"

#include "core/app/message_sink.hpp"
#include "core/config/atomic_file.hpp"

#include <cstdlib>
#include <system_error>

namespace quarv {

ConfigRoot ConfigRoot::fromEnvironment() {
    if (const char* home = std::getenv("QUARV_HOME"); home && *home) return ConfigRoot(home);
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        return ConfigRoot(std::filesystem::path(xdg) / "quarv");
    const char* home = std::getenv("HOME");
    return ConfigRoot(std::filesystem::path(home && *home ? home : ".") / ".config" / "quarv");
}

bool ConfigRoot::ensureCreated(MessageSink& sink) const {
    std::error_code ec;
    // A root that exists is the operator's, unless it holds neither folder: an empty folder
    // (made by hand, or by a tool that only set QUARV_HOME up) is still a first start.
    if (std::filesystem::exists(root_, ec)) {
        if (!std::filesystem::is_directory(root_, ec)) return true;
        if (std::filesystem::exists(cfgDir(), ec) || std::filesystem::exists(calDir(), ec))
            return true;
    }
    std::filesystem::create_directories(cfgDir(), ec);
    if (!ec) std::filesystem::create_directories(calDir(), ec);
    if (ec) {
        sink.report("ERROR creating configuration folder: " + root_.string());
        return false;
    }
    std::size_t count = 0;
    const DefaultFile* files = shippedDefaults(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto path = root_ / files[i].folder / files[i].name;
        if (!writeFileAtomically(path, files[i].data, files[i].size)) {
            sink.report("ERROR writing default file: " + path.string());
            return false;
        }
    }
    return true;
}

} // namespace quarv
