// tolvanectl messages BACKUP [--itunes] [--password [-|P]]: the messages of a backup, newest first.
#include "cli/BackupListing.h"
#include "cli/Command.h"
#include "data/Listing.h"

namespace tolvane::cli {
namespace {

int RunMessagesCommand(const std::vector<std::string>& args) {
    return RunListingCommand("messages", "messages", "message database", ListMessages, args);
}

const CommandRegistration kRegistration(
    {"messages", "BACKUP [--itunes] [--password [-|P]]",
     "count and list the messages of a backup (own, or the other program's with --itunes)",
     RunMessagesCommand});

}  // namespace
}  // namespace tolvane::cli
