// What make-device generates before it writes the databases: the people of the address book
// (some of whom the phone exchanges messages with) and the attachment files of the messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devsim {

struct GeneratedPhone {
    std::string label;   // "_$!<Mobile>!$_", "iPhone", ...
    std::string number;  // as typed, e.g. "+49 151 2345678"
    std::string e164;    // canonical, e.g. "+491512345678"
};

struct GeneratedPerson {
    std::string first, last, organization, jobTitle, note, nickname;
    std::vector<GeneratedPhone> phones;
    std::vector<std::string> emails;
    int place = -1;       // index into sample::Places(), -1 for none
    int64_t created = 0;  // seconds since 2001-01-01
};

struct GeneratedAttachment {
    std::string mediaPath;  // path inside MediaDomain
    std::string contents;
};

// Seconds between 1970-01-01 and 2001-01-01, the epoch of the phone's databases.
inline constexpr int64_t kAppleEpochOffset = 978307200;

}  // namespace devsim
