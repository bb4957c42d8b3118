// tolvanectl backup [--full | --sms --contacts] [--folder DIR] [--password P]
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Results.h"

namespace tolvane::cli {

struct BackupOptions {
    uint32_t categories = 0;              // Full, or Sms and/or Contacts
    std::string folder;                   // empty: the settings' folder or the default root
    std::optional<std::string> password;  // the phone's backup password
};

// Parses the arguments after "backup". Without a category option the backup is full. Returns
// false with `problem` set for anything it does not understand.
bool ParseBackupOptions(const std::vector<std::string>& args, BackupOptions& options,
                        std::string& problem);

// Where a backup goes when no --folder is given: the settings' user folder when set, else the
// default root of own backups.
std::string DefaultBackupFolder();

// The sentence shown for a failed backup when the phone gave no text of its own, from what the
// engine says the result stands for.
std::string BackupFailureText(platform::Failure what, uint32_t categories);

}  // namespace tolvane::cli
