// tolvanectl: the program's operations for scripts and benchmarks. The window program itself
// reads no arguments.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Command.h"

namespace {

void PrintHelp(std::FILE* out) {
    std::fprintf(out,
                 "usage: tolvanectl COMMAND [ARGS]\n"
                 "       tolvanectl --help | --version\n\ncommands:\n");
    for (const tolvane::cli::Command& c : tolvane::cli::Commands()) {
        std::fprintf(out, "  %s %s\n      %s\n", c.name, c.usage, c.summary);
    }
    std::fprintf(out,
                 "\nThe exit status is 0 on success, otherwise the engine's result clamped into "
                 "1..255\n(the full code is printed); 64 for a usage error.\n"
                 "The phone is found through the system's usbmuxd, or through\n"
                 "USBMUXD_SOCKET_ADDRESS=UNIX:PATH for a simulated one.\n"
                 "See tolvanectl(1).\n");
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintHelp(args.empty() ? stderr : stdout);
        return args.empty() ? 64 : 0;
    }
    if (args[0] == "--version" || args[0] == "-V") {
        std::printf("tolvanectl %s\n", TOLVANE_VERSION);
        return 0;
    }
    for (const tolvane::cli::Command& c : tolvane::cli::Commands()) {
        if (args[0] == c.name) {
            return c.run(std::vector<std::string>(args.begin() + 1, args.end()));
        }
    }
    std::fprintf(stderr, "tolvanectl: unknown command '%s'\n", args[0].c_str());
    PrintHelp(stderr);
    return 64;
}
