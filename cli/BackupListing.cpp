#include "cli/BackupListing.h"

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Results.h"
#include "platform/Strings.h"
#include "store/Catalogue.h"

namespace tolvane::cli {

bool ParseListingOptions(const std::vector<std::string>& args, ListingOptions& options,
                         std::string& problem) {
    options = ListingOptions{};
    bool haveFolder = false;
    ArgumentReader in(args, problem);
    while (in.Next()) {
        const std::string& a = in.Current();
        if (a == "--itunes") {
            options.itunes = true;
        } else if (a == "--password") {
            if (!in.PasswordValue(options.password)) {
                return false;
            }
        } else if (a.starts_with("--") || haveFolder) {
            return in.Unknown();
        } else {
            options.folder = a;
            haveFolder = true;
        }
    }
    if (!haveFolder || options.folder.empty()) {
        problem = "give the backup's folder";
        return false;
    }
    if (options.password && !options.itunes) {
        problem = "--password opens only the other program's backups (--itunes)";
        return false;
    }
    return true;
}

std::string ListingLine(const std::wstring& item) {
    const std::string text = platform::WideToUtf8(item);
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\\':
                line += "\\\\";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            default:
                line += c;
        }
    }
    return line;
}

void PrintListing(std::FILE* out, const std::vector<std::wstring>& items, const char* noun) {
    std::fprintf(out, "%zu %s\n", items.size(), noun);
    for (const std::wstring& item : items) {
        const std::string line = ListingLine(item);
        std::fwrite(line.data(), 1, line.size(), out);
        std::fputc('\n', out);
    }
}

std::string ListingFailureText(platform::Failure what, const char* database) {
    switch (what) {
        case platform::Failure::WrongPassword:
            return "the password does not open this backup";
        case platform::Failure::MissingDatabase:
            return std::string("the backup holds no ") + database;
        case platform::Failure::IncompleteBackup:
            return "the backup lacks files its decryption needs";
        default:
            return std::string("cannot read the ") + database;
    }
}

int RunListingCommand(const char* name, const char* noun, const char* database, ListFunction list,
                      const std::vector<std::string>& args) {
    ListingOptions options;
    std::string problem;
    if (!ParseListingOptions(args, options, problem)) {
        return UsageError(name, problem);
    }
    if (!platform::FolderExists(options.folder)) {
        return Fail(platform::kResultMissing, "no such folder: " + options.folder);
    }
    // As for a restore: the option that opens it is named, not the window's prompt.
    if (options.itunes && !options.password && IsEncryptedDeviceFolder(options.folder)) {
        return Fail(platform::kResultWrongPassword,
                    "the backup is encrypted: give its password with --password");
    }
    BackupEngine engine;
    std::vector<std::wstring> items;
    const int32_t result =
        list(items, options.folder, engine, options.password ? options.password->c_str() : nullptr,
             options.itunes);
    if (result != 0) {
        std::string text = engine.GetLastErrorText();
        if (text.empty()) {
            text = ListingFailureText(engine.FailureOf(result), database);
        }
        return Fail(result, text);
    }
    PrintListing(stdout, items, noun);
    return 0;
}

}  // namespace tolvane::cli
