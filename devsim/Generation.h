// Which generation of phone a version string belongs to, and what changes with it. Phones of the
// iOS 7 generation (7.1.x) keep Manifest.mbdb backups with flat hashed names; phones of iOS 10 to
// 18 keep Manifest.db backups with files in folders named by the first two digits of their
// hashed name, and newer database layouts.
#pragma once

#include <string>

namespace devsim {

struct PhoneVersion {
    int major = 0;
    int minor = 0;
    int patch = 0;
};

// "17.5" or "16.1.2" → numbers. False for anything else.
bool ParsePhoneVersion(const std::string& text, PhoneVersion& out);

// True for 7.1, 7.1.x and every version from 10 to 18 (the versions make-device can play).
bool IsSupportedPhoneVersion(const std::string& text);

// True for versions 10 and above: Manifest.db backups, the newer databases.
bool IsModernVersion(const std::string& text);

// From iOS 11 the message database keeps its dates in nanoseconds since 2001.
bool UsesNanosecondDates(const std::string& text);
// From iOS 16 many messages keep their words only in attributedBody.
bool KeepsTextInBodyOnly(const std::string& text);
// From iOS 16.1 a backup waits until the user enters the phone's passcode.
bool AsksForPasscode(const std::string& text);
// From iOS 10.2 the backup keybag adds a PBKDF2-HMAC-SHA256 round (DPSL, DPIC).
bool UsesDoubleKeyDerivation(const std::string& text);

// A build string of the right shape for a modern version ("17.5" → "21F79").
std::string ModernBuildVersion(const std::string& text);
// A phone model that runs the version, for make-device without --product-type.
std::string DefaultProductType(const std::string& text);

}  // namespace devsim
