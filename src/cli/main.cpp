// quarv-cli: the headless face of the workstation. Each sub-command lives in its own file and
// registers itself in the command table.
#include "cli/commands.hpp"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    using namespace quarv::cli;
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fprintf(stderr, "usage: quarv-cli <command> [options]\ncommands:\n");
        for (const Command& c : commands()) std::fprintf(stderr, "  %-10s %s\n", c.name, c.usage);
        return argc < 2 ? 2 : 0;
    }
    for (const Command& c : commands())
        if (!std::strcmp(argv[1], c.name)) return c.run(argc - 2, argv + 2);
    std::fprintf(stderr, "quarv-cli: unknown command '%s'\n", argv[1]);
    return 2;
}
