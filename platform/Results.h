// The program's own result codes, beside the system error codes of Errors.h: signed 32-bit, 0 for
// success. A result is one number whatever produced it, so the numbers of different sources meet:
// 2 is a cancel by the user, a missing file (kErrorFileNotFound) and a backup without its device
// folder; -1 is a phone that went away and a library's "invalid argument"; 87 is a missing
// argument and an invalid parameter. Where a message depends on which it was, the operation that
// gives the number keeps a Failure beside it (see Failure below); the numbers themselves stay
// what callers, stored results and the windows rely on.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr int32_t kResultOk = 0;
inline constexpr int32_t kResultDeviceGone = -1;
inline constexpr int32_t kResultCancelled = 2;  // also: a backup without its device folder
inline constexpr int32_t kResultShortRead = 30;
inline constexpr int32_t kResultWrongPassword = 86;
inline constexpr int32_t kResultMissing = 87;  // missing argument, folder or resource
inline constexpr int32_t IMPORT_BAD_FILE = 1006;
inline constexpr int32_t kResultBadManifest = 6009;

// What a non-zero result stands for, where the number alone does not say it.
enum class Failure : uint8_t {
    None,              // nothing was noted: the number is all there is
    Cancelled,         // the progress callback stopped the run; the result is its value
    DeviceGone,        // the phone stopped answering during a conversation (-1)
    NoDevice,          // no phone is attached (-1)
    DeviceService,     // the phone would not start or answer one of its services
    DeviceError,       // the phone ended the conversation with an error of its own
    PasswordNeeded,    // the phone encrypts its backups and no password was given (87)
    WrongPassword,     // the password does not open the backup (86)
    MissingFolder,     // a folder that was named does not exist (87)
    IncompleteBackup,  // a backup lacks its device folder, Info.plist, Manifest.plist or key files
    UnfinishedBackup,  // the backup's Status.plist records a snapshot that did not finish (87)
    MissingDatabase,   // a message or contacts database is not where it must be
    UnusableDatabase,  // a database is encrypted or not a database of its kind (1006)
    LocalFiles,        // a file or folder on the computer could not be made, read or written
    EndedEarly,        // the phone ended its backup or restore before it was complete (-1)
};

}  // namespace platform
