#include "devsim/Generation.h"

#include <cstdio>

namespace devsim {

bool ParsePhoneVersion(const std::string& text, PhoneVersion& out) {
    PhoneVersion v;
    int used = 0;
    const int n = std::sscanf(text.c_str(), "%3d%n.%3d%n.%3d%n", &v.major, &used, &v.minor, &used,
                              &v.patch, &used);
    if (n < 1 || static_cast<size_t>(used) != text.size() || v.major < 0 || v.minor < 0 ||
        v.patch < 0 || text.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    out = v;
    return true;
}

bool IsSupportedPhoneVersion(const std::string& text) {
    PhoneVersion v;
    if (!ParsePhoneVersion(text, v)) {
        return false;
    }
    return (v.major == 7 && v.minor == 1) || (v.major >= 10 && v.major <= 18);
}

namespace {
bool AtLeast(const std::string& text, int major, int minor) {
    PhoneVersion v;
    return ParsePhoneVersion(text, v) &&
           (v.major > major || (v.major == major && v.minor >= minor));
}
}  // namespace

bool IsModernVersion(const std::string& text) {
    return AtLeast(text, 10, 0);
}
bool UsesNanosecondDates(const std::string& text) {
    return AtLeast(text, 11, 0);
}
bool KeepsTextInBodyOnly(const std::string& text) {
    return AtLeast(text, 16, 0);
}
bool AsksForPasscode(const std::string& text) {
    return AtLeast(text, 16, 1);
}
bool UsesDoubleKeyDerivation(const std::string& text) {
    return AtLeast(text, 10, 2);
}

std::string ModernBuildVersion(const std::string& text) {
    PhoneVersion v;
    ParsePhoneVersion(text, v);
    // The train number runs four ahead of the major version; the letter counts minor releases.
    const char letter = static_cast<char>('A' + (v.minor < 25 ? v.minor : 25));
    return std::to_string(v.major + 4) + letter + std::to_string(79 + 11 * v.patch);
}

std::string DefaultProductType(const std::string& text) {
    PhoneVersion v;
    ParsePhoneVersion(text, v);
    if (v.major >= 16) {
        return "iPhone15,2";
    }
    if (v.major >= 13) {
        return "iPhone12,1";
    }
    if (v.major >= 10) {
        return "iPhone9,1";
    }
    return "iPhone6,1";
}

}  // namespace devsim
