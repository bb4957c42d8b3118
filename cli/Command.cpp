#include "cli/Command.h"

#include <algorithm>
#include <cstdio>

#include "engine/BackupEngine.h"

namespace tolvane::cli {
namespace {

std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

}  // namespace

const std::vector<Command>& Commands() {
    return Registry();
}

CommandRegistration::CommandRegistration(const Command& command) {
    auto& commands = Registry();
    const auto at = std::lower_bound(
        commands.begin(), commands.end(), command,
        [](const Command& a, const Command& b) { return std::string(a.name) < b.name; });
    commands.insert(at, command);
}

int ExitStatusFor(int32_t result) {
    if (result == 0) {
        return 0;
    }
    return static_cast<int>(std::clamp<int32_t>(result, 1, 255));
}

int Fail(int32_t result, const std::string& message) {
    std::fprintf(stderr, "error: %s (code %d)\n", message.c_str(), result);
    return ExitStatusFor(result);
}

int ConnectPhone(BackupEngine& engine) {
    uint8_t willEncrypt = 0;
    if (const int32_t r = engine.ConnectDevice(&willEncrypt); r != 0) {
        // -1 is also a phone that refused its notification service.
        return Fail(r, engine.FailureOf(r) == platform::Failure::NoDevice
                           ? "no phone is connected"
                           : "cannot open a session with the phone");
    }
    return 0;
}

int ConnectPhoneForBackups(BackupEngine& engine) {
    if (const int status = ConnectPhone(engine); status != 0) {
        return status;
    }
    if (!engine.HasBackupService()) {
        return Fail(platform::kResultMissing, "the phone offers no backup service");
    }
    return 0;
}

void WarnIfPasswordOwed(const BackupEngine& engine) {
    if (engine.BackupPasswordOwed()) {
        std::fprintf(stderr,
                     "warning: the phone's backup password could not be given back (see above): "
                     "the phone no longer encrypts its backups\n");
    }
}

int UsageError(const std::string& command, const std::string& problem) {
    for (const Command& c : Commands()) {
        if (command == c.name) {
            std::fprintf(stderr, "tolvanectl %s: %s\nusage: tolvanectl %s %s\n", c.name,
                         problem.c_str(), c.name, c.usage);
        }
    }
    return 64;
}

}  // namespace tolvane::cli
