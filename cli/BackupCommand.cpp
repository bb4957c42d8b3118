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
            if (!in.PasswordValue(options.password)) {
                return false;
            }
        } else {
            return in.Unknown();
        }
    }
    return choice.Finish(options.categories, problem);
}

std::string DefaultBackupFolder() {
    const std::string user = platform::PathToBytes(ReadUserFolder());
    return !user.empty() ? user : DefaultBackupRoot();
}

std::string BackupFailureText(platform::Failure what, uint32_t categories) {
    using platform::Failure;
    switch (what) {
        case Failure::DeviceGone:
            return "the phone went away";
        case Failure::Cancelled:
            return "the backup was cancelled";
        case Failure::EndedEarly:
            return "the phone ended the backup before it was complete";
        case Failure::MissingDatabase:
            return (categories & (Sms | Contacts)) == Sms ? "the phone has no message database"
                   : (categories & (Sms | Contacts)) == Contacts
                       ? "the phone has no contacts database"
                       : "the phone lacks its message or contacts database";
        case Failure::LocalFiles:
            return "the backup cannot be written into its folder";
        default:
            return "the backup failed";
    }
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

    engine.SetCategories(options.categories);
    const int32_t result = RunShowingProgress(engine, [&] {
        return engine.RunBackup(folder, options.password ? options.password->c_str() : nullptr);
    });
    const platform::Failure what = engine.FailureOf(result);
    engine.CloseDevice();
    WarnIfPasswordOwed(engine);

    if (result != 0) {
        std::string text = engine.GetLastErrorText();
        if (text.empty()) {
            text = BackupFailureText(what, options.categories);
        }
        return Fail(result, text);
    }
    std::printf("Backup complete: %s\n", engine.LastBackupFolder().c_str());
    const SeedOutcome& seed = engine.LastSeed();
    if ((options.categories & Full) != 0) {
        if (seed.mode == SeedOutcome::Mode::None) {
            std::printf("Transferred %s (a full backup)\n",
                        FormatBytes(engine.LastBytesReceived()).c_str());
        } else {
            std::printf("Transferred %s; started from the %llu files (%s) of %s, %s\n",
                        FormatBytes(engine.LastBytesReceived()).c_str(),
                        static_cast<unsigned long long>(seed.files),
                        FormatBytes(seed.bytes).c_str(), seed.from.c_str(),
                        seed.mode == SeedOutcome::Mode::Linked ? "shared by hard links"
                                                               : "copied (no hard links here)");
        }
    }
    return 0;
}

const CommandRegistration kRegistration(
    {"backup", "[--full | --sms --contacts] [--folder DIR] [--password [-|P]]",
     "back up the phone (whole, or its messages and/or contacts)", RunBackupCommand});

}  // namespace
}  // namespace tolvane::cli
