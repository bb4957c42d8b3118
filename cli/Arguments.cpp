#include "cli/Arguments.h"

#include <utility>

#include "platform/Secrets.h"
#include "store/DataCategory.h"

namespace tolvane::cli {

ArgumentReader::ArgumentReader(const std::vector<std::string>& args, std::string& problem)
    : args_(args), problem_(problem) {}

bool ArgumentReader::Next() {
    if (next_ >= args_.size()) {
        return false;
    }
    current_ = next_++;
    return true;
}

const std::string& ArgumentReader::Current() const {
    return args_[current_];
}

bool ArgumentReader::Value(std::string& out) {
    if (next_ >= args_.size()) {
        problem_ = Current() + " needs a value";
        return false;
    }
    out = args_[next_++];
    return true;
}

bool ArgumentReader::Value(std::optional<std::string>& out) {
    std::string value;
    if (!Value(value)) {
        return false;
    }
    out = std::move(value);
    return true;
}

bool ArgumentReader::PasswordValue(std::optional<std::string>& out) {
    const std::string option = Current();
    std::string secret;
    if (next_ < args_.size() && !args_[next_].starts_with("--")) {
        const std::string& value = args_[next_++];
        if (value != "-") {
            out = value;
            return true;
        }
        if (!platform::ReadSecretLine(0, secret)) {
            problem_ = option + " -: no line to read on standard input";
            return false;
        }
        out = std::move(secret);
        return true;
    }
    int32_t error = 0;
    if (!platform::ReadSecretFromTerminal("Password for " + option + ": ", secret, error)) {
        problem_ = option + " without a value asks on the terminal, and there is none (" +
                   std::to_string(error) + "); give " + option +
                   " - to read it from standard input";
        return false;
    }
    out = std::move(secret);
    return true;
}

bool ArgumentReader::Unknown() {
    problem_ = "unknown argument '" + Current() + "'";
    return false;
}

bool CategoryChoice::Take(const std::string& argument) {
    if (argument == "--full") {
        full_ = true;
    } else if (argument == "--sms") {
        categories_ |= Sms;
    } else if (argument == "--contacts") {
        categories_ |= Contacts;
    } else {
        return false;
    }
    return true;
}

bool CategoryChoice::Finish(uint32_t& categories, std::string& problem) const {
    if (full_ && categories_ != 0) {
        problem = "--full cannot be combined with --sms or --contacts";
        return false;
    }
    categories = categories_ != 0 ? categories_ : static_cast<uint32_t>(Full);
    return true;
}

}  // namespace tolvane::cli
