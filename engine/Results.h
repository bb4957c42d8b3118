// Result codes of the engine and the operations around it: signed 32-bit, 0 for success.
// Windows system error codes (platform/Errors.h) and negated device error codes pass through
// unchanged; these are the program's own values.
#pragma once

#include <cstdint>

namespace tolvane {

inline constexpr int32_t kResultOk = 0;
inline constexpr int32_t kResultDeviceGone = -1;
inline constexpr int32_t kResultCancelled = 2;  // also: a backup without its device folder
inline constexpr int32_t kResultShortRead = 30;
inline constexpr int32_t kResultWrongPassword = 86;
inline constexpr int32_t kResultMissing = 87;  // missing argument, folder or resource
inline constexpr int32_t IMPORT_BAD_FILE = 1006;
inline constexpr int32_t kResultBadManifest = 6009;

// The two database files of a backup, under their names in a device folder, and the names of
// their copies in the program's own category backups.
inline constexpr char kSmsDatabaseName[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
inline constexpr char kContactsDatabaseName[] = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
inline constexpr char kSmsCopyName[] = "sms";
inline constexpr char kContactsCopyName[] = "content";

// What a backup or restore covers: either Full alone, or Sms and/or Contacts.
enum DataCategory : uint32_t {
    Full = 8,
    Sms = 4,
    Contacts = 2,
};

}  // namespace tolvane
