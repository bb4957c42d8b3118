// What the tool does: takes the message and contacts databases out of a backup folder
// (Manifest.plist, Manifest.mbdb and the files under their hashed names) and writes them, plain,
// into an output folder under the same names.
#pragma once

#include <cstdint>
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
// `outputFolder` (made when missing). Prints one line per database or failure to `log`, and
// "Wrong password" when the password does not open the keybag. Returns an ExitCode.
int DecryptDatabases(const std::string& inputFolder, const std::string& outputFolder,
                     std::string_view password, std::FILE* log);

// What the tool takes from the bytes of a Manifest.plist (XML or binary): whether the backup is
// encrypted and, when it is, its keybag's bytes. False, with a reason in `error`, for bytes that
// are no property list dictionary, or for an encrypted backup without its BackupKeyBag.
bool ReadManifestPlist(std::string_view bytes, bool& encrypted, std::string& keybag,
                       std::string& error);

// Decrypts one file of the backup: AES-256-CBC with `fileKey` and an all-zero IV, the plain
// bytes cut to `plainSize`. The target is written beside its place and renamed there only when
// complete. False, with a reason in `error`, when the file cannot be read or written or is shorter
// than its plain size.
bool DecryptFile(const std::string& source, const std::string& target, std::string_view fileKey,
                 uint64_t plainSize, std::string& error);

}  // namespace backuptool
