// tolvanectl contacts BACKUP [--itunes] [--password [-|P]]: the contacts of a backup, by first
// name.
#include "cli/BackupListing.h"
#include "cli/Command.h"
#include "data/Listing.h"

namespace tolvane::cli {
namespace {

int RunContactsCommand(const std::vector<std::string>& args) {
    return RunListingCommand("contacts", "contacts", "contacts database", ListContacts, args);
}

const CommandRegistration kRegistration(
    {"contacts", "BACKUP [--itunes] [--password [-|P]]",
     "count and list the contacts of a backup (own, or the other program's with --itunes)",
     RunContactsCommand});

}  // namespace
}  // namespace tolvane::cli
