// tolvanectl list [--itunes]: the backups of the catalogue, newest first, one per line:
// date, what it holds, encrypted or plain, format (the manifest generation: "Manifest.db" or
// "Manifest.mbdb"), device, folder (separated by tabs).
#include <cstdio>

#include "app/AppSettings.h"
#include "cli/Command.h"
#include "platform/Strings.h"
#include "store/BackupFormat.h"
#include "store/Catalogue.h"
#include "store/DataCategory.h"

namespace tolvane::cli {
namespace {

const char* Kind(int32_t categories) {
    if ((categories & Full) != 0) {
        return "full";
    }
    const bool sms = (categories & Sms) != 0;
    const bool contacts = (categories & Contacts) != 0;
    return sms && contacts ? "messages+contacts" : sms ? "messages" : contacts ? "contacts" : "?";
}

int RunListCommand(const std::vector<std::string>& args) {
    bool itunes = false;
    for (const std::string& a : args) {
        if (a == "--itunes") {
            itunes = true;
        } else {
            return UsageError("list", "unknown argument '" + a + "'");
        }
    }
    std::vector<BackupEntry> entries;
    if (itunes) {
        ListItunesBackups(entries);
    } else {
        ListAllOwnBackups(DefaultBackupRoot(), platform::PathToBytes(ReadUserFolder()), entries);
    }
    for (const BackupEntry& e : entries) {
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", platform::WideToAnsi(e.date).c_str(),
                    Kind(e.categories), e.encrypted ? "encrypted" : "plain",
                    BackupFormatName(e.format), platform::WideToAnsi(e.name).c_str(),
                    e.folder.c_str());
    }
    if (entries.empty()) {
        std::fprintf(stderr, "No backups found.\n");
    }
    return 0;
}

const CommandRegistration kRegistration({"list", "[--itunes]",
                                         "list the backups (own ones, or the other program's)",
                                         RunListCommand});

}  // namespace
}  // namespace tolvane::cli
