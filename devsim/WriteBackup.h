// write-backup: the phone's backup written straight into a folder, as another backup program
// leaves it on the computer: OUT_PARENT/<UDID>/ with Info.plist, Manifest.plist, Manifest.mbdb,
// Status.plist ("finished") and the files under their hashed names, plain or encrypted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devsim {

struct WriteBackupOptions {
    std::optional<std::string> encryptPassword;  // set: an encrypted backup with this password
    std::optional<int64_t> date;                 // seconds since 1970; default now
    std::optional<std::string> name;  // "Device Name"/"Display Name"; default the phone's
};

// False, with `error` set, when the device folder cannot be read or the backup folder exists
// with something in it, or a file cannot be written.
bool WriteBackup(const std::string& deviceDir, const std::string& outParent,
                 const WriteBackupOptions& options, std::string& error);

// "2015-03-07T18:05:09Z" (UTC; the Z, a fraction and "+hh:mm" offsets are understood) to
// seconds since 1970. False when it is not such a date.
bool ParseIsoDate(const std::string& text, int64_t& seconds);

}  // namespace devsim
