#include "cli/BackupCommand.h"

#include <cstdio>

#include "app/AppSettings.h"
#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/ProgressPrinter.h"
#include "engine/BackupEngine.h"
#include "platform/Strings.h"
#include "store/Catalogue.h"

namespace tolvane::cli {

bool ParseBackupOptions(const std::vector<std::string>& args, BackupOptions& options,
                        std::string& problem) {
    options = BackupOptions{};
    CategoryChoice choice;
    ArgumentReader in(args, problem);
    while (in.Next()) {
        const std::string& a = in.Current();
        if (choice.Take(a)) {
            continue;
        }
        if (a == "--folder") {
            if (!in.Value(options.folder)) {
                return false;
            }
            if (options.folder.empty()) {
                problem = "--folder needs a folder";
                return false;
            }
        } else if (a == "--password") {
            if (!in.Value(options.password)) {
                return false;
            }
        } else {
            return in.Unknown();
        }
    }
    return choice.Finish(options.categories, problem);
}

std::string DefaultBackupFolder() {
    const std::string user = platform::WideToAnsi(ReadUserFolder());
    return !user.empty() ? user : platform::WideToAnsi(DefaultBackupRoot());
}

namespace {

int RunBackupCommand(const std::vector<std::string>& args) {
    BackupOptions options;
    std::string problem;
    if (!ParseBackupOptions(args, options, problem)) {
        return UsageError("backup", problem);
    }
    const std::string folder = options.folder.empty() ? DefaultBackupFolder() : options.folder;

    BackupEngine engine;
    if (const int status = ConnectPhoneForBackups(engine); status != 0) {
        return status;
    }
    if (engine.WillEncrypt() && !options.password) {
        return Fail(platform::kResultMissing,
                    "the phone encrypts its backups: give its backup password with --password");
    }
    std::printf("Backing up %s (%s %s) into %s\n", engine.CachedDeviceName().c_str(),
                engine.CachedDeviceClass().c_str(), engine.CachedProductVersion().c_str(),
                folder.c_str());
    std::fflush(stdout);

    engine.categories = options.categories;
    const int32_t result = RunShowingProgress(engine, [&] {
        return engine.RunBackup(platform::AnsiToWide(folder),
                                options.password ? options.password->c_str() : nullptr);
    });
    engine.CloseDevice();

    if (result != 0) {
        std::string text = engine.GetLastErrorText();
        if (text.empty()) {
            text = result == platform::kResultDeviceGone  ? "the phone went away"
                   : result == platform::kResultCancelled ? "the backup was cancelled"
                                                          : "the backup failed";
        }
        return Fail(result, text);
    }
    std::printf("Backup complete: %s\n", engine.LastBackupFolder().c_str());
    return 0;
}

const CommandRegistration kRegistration(
    {"backup", "[--full | --sms --contacts] [--folder DIR] [--password P]",
     "back up the phone (whole, or its messages and/or contacts)", RunBackupCommand});

}  // namespace
}  // namespace tolvane::cli
