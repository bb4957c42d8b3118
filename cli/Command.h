// The commands of tolvanectl. Each command lives in its own file and registers itself with one
// CommandRegistration object, so adding a command is adding a file (and its line in CMakeLists).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane {
class BackupEngine;
}

namespace tolvane::cli {

// Runs a command with the arguments after its name; returns the process exit status.
using CommandFn = int (*)(const std::vector<std::string>& args);

struct Command {
    const char* name;
    const char* usage;    // the arguments, for the help text
    const char* summary;  // one line
    CommandFn run;
};

// The registered commands, in name order.
const std::vector<Command>& Commands();

struct CommandRegistration {
    explicit CommandRegistration(const Command& command);
};

// The exit status for an engine result: 0 for 0, otherwise the result clamped into 1..255.
int ExitStatusFor(int32_t result);

// Prints "error: <message> (code <result>)" and returns ExitStatusFor(result).
int Fail(int32_t result, const std::string& message);

// Opens a session with the connected phone. Returns 0, or the exit status after printing why not.
int ConnectPhone(BackupEngine& engine);
// ConnectPhone for a run that needs the phone's backup service.
int ConnectPhoneForBackups(BackupEngine& engine);

// After a run that removed the phone's backup password: when the phone could not be given it
// back, says so on standard error (the phone then no longer encrypts its backups).
void WarnIfPasswordOwed(const BackupEngine& engine);

// Prints the usage of one command to standard error and returns 64 (a usage error).
int UsageError(const std::string& command, const std::string& problem);

}  // namespace tolvane::cli
