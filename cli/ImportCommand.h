// tolvanectl import [--sms FILE] [--contacts FILE] [--password P]
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::cli {

struct ImportOptions {
    uint32_t categories = 0;  // Sms and/or Contacts: the files that were given
    std::string smsFile;
    std::string contactsFile;
    std::optional<std::string> password;  // the phone's backup password
};

// Parses the arguments after "import". At least one file is needed. Returns false with `problem`
// set for anything it does not understand.
bool ParseImportOptions(const std::vector<std::string>& args, ImportOptions& options,
                        std::string& problem);

}  // namespace tolvane::cli
