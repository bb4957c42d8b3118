// tolvanectl: the program's operations for scripts and benchmarks. The window program itself
// reads no arguments.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/ProgressPrinter.h"
#include "platform/Interrupt.h"
#include "store/EncryptedBackup.h"

namespace {

void PrintHelp(std::FILE* out) {
    std::fprintf(out,
                 "usage: tolvanectl COMMAND [ARGS]\n"
                 "       tolvanectl --help | --version\n\ncommands:\n");
    for (const tolvane::cli::Command& c : tolvane::cli::Commands()) {
        std::fprintf(out, "  %s %s\n      %s\n", c.name, c.usage, c.summary);
    }
    std::fprintf(
        out,
        "\nPasswords (--password, --device-password): give the option without a value to be "
        "asked on the\nterminal (nothing is echoed), or '-' to read one line of standard input "
        "(one line per\noption, in their order). A value on the command line (--password P) "
        "still works for older\nscripts, but every user of the computer sees it in the process "
        "list, and the shell keeps it\nin its history.\n"
        "\nA phone that encrypts its backups has its backup password removed for the run; the "
        "password\nis given back when the run ends, whatever its outcome (a phone of iOS 16.1 "
        "or later asks for\nits passcode then). A phone that cannot be given it back is named "
        "in a warning.\n"
        "\nCtrl-C (SIGINT, SIGTERM, SIGHUP) ends the conversation with the phone, gives it its "
        "password\nback, removes what the run made and exits with status 130; a second Ctrl-C "
        "ends at once.\n"
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
            const platform::InterruptFlag interrupts;
            tolvane::SetDefaultBackupToolProgress(
                tolvane::cli::DerivationPrinter(stderr, isatty(fileno(stderr)) != 0));
            const int status = c.run(std::vector<std::string>(args.begin() + 1, args.end()));
            if (platform::InterruptRequested()) {
                std::fprintf(stderr,
                             "tolvanectl: interrupted; the run was ended and what it "
                             "made removed\n");
                return 130;
            }
            return status;
        }
    }
    std::fprintf(stderr, "tolvanectl: unknown command '%s'\n", args[0].c_str());
    PrintHelp(stderr);
    return 64;
}
