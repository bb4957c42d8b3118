#include "cli/RestoreCommand.h"

#include <cstdio>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/ProgressPrinter.h"
#include "engine/BackupEngine.h"
#include "platform/Strings.h"
#include "store/Catalogue.h"
#include "store/EncryptedBackup.h"

namespace tolvane::cli {

bool ParseRestoreOptions(const std::vector<std::string>& args, RestoreOptions& options,
                         std::string& problem) {
    options = RestoreOptions{};
    CategoryChoice choice;
    bool haveBackup = false;
    ArgumentReader in(args, problem);
    while (in.Next()) {
        const std::string& a = in.Current();
        if (choice.Take(a)) {
            continue;
        }
        if (a == "--itunes") {
            options.itunes = true;
        } else if (a == "--password") {
            if (!in.PasswordValue(options.password)) {
                return false;
            }
        } else if (a == "--device-password") {
            if (!in.PasswordValue(options.devicePassword)) {
                return false;
            }
        } else if (a.rfind("--", 0) == 0 || a.empty()) {
            return in.Unknown();
        } else if (haveBackup) {
            problem = "only one backup folder can be restored";
            return false;
        } else {
            options.backup = a;
            haveBackup = true;
        }
    }
    if (!haveBackup) {
        problem = "the backup folder is missing";
        return false;
    }
    return choice.Finish(options.categories, problem);
}

std::string RestoreFailureText(platform::Failure what) {
    using platform::Failure;
    switch (what) {
        case Failure::DeviceGone:
            return "the phone went away";
        case Failure::Cancelled:
            return "the restore was cancelled";
        case Failure::EndedEarly:
            return "the phone ended the restore before it had the whole backup; nothing was "
                   "restored";
        case Failure::IncompleteBackup:
            return "the backup has no device folder, or its Info.plist or Manifest.plist is "
                   "missing";
        case Failure::WrongPassword:
            return "the backup password is not correct";
        case Failure::MissingFolder:
        case Failure::UnfinishedBackup:
            return "the backup folder does not exist, or its backup did not finish";
        case Failure::MissingDatabase:
            return "the backup holds no database of the chosen kind";
        case Failure::UnusableDatabase:
            return "the backup's database is not a plain database";
        case Failure::PasswordNeeded:
            return "the phone encrypts its backups: give its backup password with "
                   "--device-password";
        default:
            return "the restore failed";
    }
}

namespace {

int RunRestoreCommand(const std::vector<std::string>& args) {
    RestoreOptions options;
    std::string problem;
    if (!ParseRestoreOptions(args, options, problem)) {
        return UsageError("restore", problem);
    }
    const bool whole = options.categories == Full;
    // An encrypted backup of the other program needs its password; for a whole restore it is
    // checked here, as the password window does, so that the phone is not asked in vain.
    if (options.itunes && IsEncryptedDeviceFolder(options.backup)) {
        if (!options.password || options.password->empty()) {
            return Fail(platform::kResultWrongPassword,
                        "the backup is encrypted: give its password with --password");
        }
        if (whole) {
            // A backup of iOS 10.2 and later takes seconds to check: the tool's progress shows.
            const auto progress = [](int percent) {
                std::printf("Checking the backup password: %d%%\n", percent);
                std::fflush(stdout);
            };
            if (const int32_t r =
                    VerifyBackupPassword(options.password->c_str(), options.backup, progress);
                r != 0) {
                return Fail(r, r == platform::kResultWrongPassword
                                   ? RestoreFailureText(platform::Failure::WrongPassword)
                                   : "the backup cannot be opened");
            }
        }
    }

    BackupEngine engine;
    if (const int status = ConnectPhoneForBackups(engine); status != 0) {
        return status;
    }
    if (engine.WillEncrypt() && !options.devicePassword) {
        return Fail(platform::kResultMissing,
                    "the phone encrypts its backups: give its backup password "
                    "with --device-password");
    }
    std::printf("Restoring %s%s to %s (%s %s)\n", whole ? "" : "the chosen data of ",
                options.backup.c_str(), engine.CachedDeviceName().c_str(),
                engine.CachedDeviceClass().c_str(), engine.CachedProductVersion().c_str());
    std::fflush(stdout);

    engine.SetCategories(options.categories);
    const int32_t result = RunShowingProgress(engine, [&] {
        return engine.RunRestore(
            options.password ? options.password->c_str() : nullptr, options.backup,
            options.devicePassword ? options.devicePassword->c_str() : nullptr, options.itunes);
    });
    const platform::Failure what = engine.FailureOf(result);
    engine.CloseDevice();
    WarnIfPasswordOwed(engine);

    if (result != 0) {
        std::string text = engine.GetLastErrorText();
        return Fail(result, text.empty() ? RestoreFailureText(what) : text);
    }
    std::printf("Restore complete\n");
    return 0;
}

const CommandRegistration kRegistration(
    {"restore",
     "BACKUP [--full | --sms --contacts] [--itunes] [--password [-|P]] [--device-password [-|P]]",
     "restore a backup to the phone (whole, or its messages and/or contacts); --itunes: BACKUP "
     "is another program's device folder, --password: that backup's password",
     RunRestoreCommand});

}  // namespace
}  // namespace tolvane::cli
