// tolvanectl folder [DIR | --default]: the backup folder of the settings, as the window program's
// settings window shows and sets it. Without an argument it prints the folder in use; with DIR it
// makes the folder ready (created with its parents, writable) and stores it; --default stores the
// documents-based default folder. The settings go where the program keeps them: config.ini beside
// the program, or the per-user copy when the program folder is not to be written.
#include "cli/FolderCommand.h"

#include <cstdio>

#include "app/AppSettings.h"
#include "cli/Command.h"
#include "platform/Strings.h"
#include "store/Catalogue.h"

namespace tolvane::cli {

int RunFolder(const std::vector<std::string>& args, const ConfigStore& config) {
    if (args.size() > 1) {
        return UsageError("folder", "one folder at most");
    }
    if (args.empty()) {
        const std::wstring user = ReadUserFolder(config);
        std::printf("%s\n", user.empty() ? DefaultBackupRoot().c_str()
                                         : platform::PathToBytes(user).c_str());
        return 0;
    }
    std::wstring folder;
    if (args[0] == "--default") {
        folder = platform::PathToWide(DefaultBackupRoot());
    } else {
        if (args[0].empty() || args[0].front() != '/') {
            return UsageError("folder", "the folder must be a full path (beginning with \"/\")");
        }
        folder = platform::PathToWide(args[0]);
        if (const int32_t error = PrepareBackupFolder(folder); error != 0) {
            return Fail(error, "the backup folder cannot be created or written to: " + args[0]);
        }
    }
    if (const int32_t error = WriteUserFolder(config, folder); error != 0) {
        return Fail(error, "the setting could not be saved: config.ini cannot be written");
    }
    std::printf("Backup folder: %s\n", platform::PathToBytes(folder).c_str());
    return 0;
}

namespace {

int RunFolderCommand(const std::vector<std::string>& args) {
    return RunFolder(args, AppSettings::Get().Config());
}

const CommandRegistration kRegistration(
    {"folder", "[DIR | --default]",
     "show the backup folder of the settings, or set it (as the settings window does)",
     RunFolderCommand});

}  // namespace
}  // namespace tolvane::cli
