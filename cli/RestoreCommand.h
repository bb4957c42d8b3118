// tolvanectl restore BACKUP [--full | --sms --contacts] [--itunes] [--password P]
//                           [--device-password P]
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Results.h"

namespace tolvane::cli {

struct RestoreOptions {
    std::string backup;                         // the backup folder
    uint32_t categories = 0;                    // Full, or Sms and/or Contacts
    bool itunes = false;                        // the folder is another program's device folder
    std::optional<std::string> password;        // the password of an encrypted backup
    std::optional<std::string> devicePassword;  // the phone's own backup password
};

// Parses the arguments after "restore": one backup folder and options in any order. Without a
// category option the restore is whole. Returns false with `problem` set for anything it does not
// understand.
bool ParseRestoreOptions(const std::vector<std::string>& args, RestoreOptions& options,
                         std::string& problem);

// The sentence shown for a failed restore when the phone gave no text of its own, from what the
// engine says the result stands for.
std::string RestoreFailureText(platform::Failure what);

}  // namespace tolvane::cli
