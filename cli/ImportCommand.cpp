#include "cli/ImportCommand.h"

#include <cstdio>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/ProgressPrinter.h"
#include "data/Import.h"
#include "engine/BackupEngine.h"
#include "platform/Errors.h"
#include "platform/Files.h"

namespace tolvane::cli {

bool ParseImportOptions(const std::vector<std::string>& args, ImportOptions& options,
                        std::string& problem) {
    options = ImportOptions{};
    ArgumentReader in(args, problem);
    while (in.Next()) {
        const std::string& a = in.Current();
        if (a == "--password") {
            if (!in.PasswordValue(options.password)) {
                return false;
            }
            continue;
        }
        if (a != "--sms" && a != "--contacts") {
            return in.Unknown();
        }
        std::string value;
        if (!in.Value(value)) {
            return false;
        }
        if (value.empty()) {
            problem = a + " needs a file";
            return false;
        }
        const uint32_t category = a == "--sms" ? Sms : Contacts;
        if ((options.categories & category) != 0) {
            problem = a + " given twice";
            return false;
        }
        options.categories |= category;
        (a == "--sms" ? options.smsFile : options.contactsFile) = value;
    }
    if (options.categories == 0) {
        problem = "give --sms FILE and/or --contacts FILE";
        return false;
    }
    return true;
}

namespace {

int RunImportCommand(const std::vector<std::string>& args) {
    ImportOptions options;
    std::string problem;
    if (!ParseImportOptions(args, options, problem)) {
        return UsageError("import", problem);
    }
    for (const std::string* file : {&options.smsFile, &options.contactsFile}) {
        if (!file->empty() && !platform::PathExists(*file)) {
            return Fail(platform::kErrorFileNotFound, "no such file: " + *file);
        }
    }

    BackupEngine engine;
    if (const int status = ConnectPhoneForBackups(engine); status != 0) {
        return status;
    }
    std::printf("Importing into %s (%s %s)\n", engine.CachedDeviceName().c_str(),
                engine.CachedDeviceClass().c_str(), engine.CachedProductVersion().c_str());
    std::fflush(stdout);

    engine.SetCategories(options.categories);
    const bool noPassword = !options.password.has_value();
    ImportReport report;
    const int32_t result = RunShowingProgress(engine, [&] {
        return ImportData(engine, options.smsFile.c_str(), options.contactsFile.c_str(),
                          noPassword ? nullptr : options.password->c_str(), options.categories,
                          &report);
    });
    const platform::Failure what = engine.FailureOf(result);
    engine.CloseDevice();
    WarnIfPasswordOwed(engine);

    if (result != 0) {
        std::string text = engine.GetLastErrorText();
        if (text.empty()) {
            text = what == platform::Failure::PasswordNeeded
                       ? "the phone encrypts its backups: give its backup password with --password"
                   : what == platform::Failure::DeviceGone ? "the phone went away"
                   : what == platform::Failure::Cancelled  ? "the import was cancelled"
                                                           : "the import failed";
        }
        return Fail(result, text);
    }
    std::printf("Import complete:%s%s\n", (options.categories & Sms) != 0 ? " messages" : "",
                (options.categories & Contacts) != 0 ? " contacts" : "");
    if (const std::string counts = DescribeImport(report); !counts.empty()) {
        std::printf("%s\n", counts.c_str());
    }
    return 0;
}

const CommandRegistration kRegistration(
    {"import", "[--sms FILE] [--contacts FILE] [--password [-|P]]",
     "put messages and/or contacts onto the phone (an sms.csv / contacts.csv export, or a "
     "database file taken from a phone)",
     RunImportCommand});

}  // namespace
}  // namespace tolvane::cli
