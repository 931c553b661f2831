// quarv-cli info FILE: prints the file information of a raw scan file, one line per line of the
// information dialog. A file the reader refuses prints the reader's message on stderr, exit 1.
#include "cli/commands.hpp"
#include "core/app/message_sink.hpp"
#include "core/scanfile/file_info.hpp"
#include "core/scanfile/playback_file.hpp"

#include <cstdio>

namespace quarv::cli {
namespace {

constexpr const char* kUsage = "FILE [--home DIR]   print a raw scan file's configuration";

int runInfo(int argc, char** argv) {
    const Args args(argc, argv, {});
    if (!args.error().empty() || args.positional().size() != 1) {
        if (!args.error().empty())
            std::fprintf(stderr, "quarv-cli info: %s\n", args.error().c_str());
        std::fprintf(stderr, "usage: quarv-cli info %s\n", kUsage);
        return 2;
    }
    // --home is accepted like every command's; the information comes from the file alone.
    StderrSink sink;
    PlaybackFile reader(sink);
    std::vector<std::string> lines;
    if (!fillInfo(reader, args.positional()[0], lines)) return 1;
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

const Registration kInfo({"info", kUsage, runInfo});

} // namespace
} // namespace quarv::cli
