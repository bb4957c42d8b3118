// What the tool does: takes the message and contacts databases out of a backup folder and writes
// them, plain, into an output folder under their hashed names. The folder is of either layout:
// Manifest.plist, Manifest.mbdb and flat hashed files (up to iOS 9), or Manifest.plist,
// Manifest.db and files in two-digit folders (iOS 10 on; ModernDecryptor.h).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace backuptool {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitWrongPassword = 2,
    kExitUsage = 64,
};

// Decrypts the databases of an encrypted backup, or copies those of a plain one, into
// `outputFolder` (made when missing). Prints one line per database or failure to `log`, progress
// lines while a long key derivation runs, and "Wrong password" when the password does not open
// the keybag. Returns an ExitCode.
int DecryptDatabases(const std::string& inputFolder, const std::string& outputFolder,
                     std::string_view password, std::FILE* log);

}  // namespace backuptool
