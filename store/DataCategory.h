// What a backup or restore covers, and the database files that stand for each category.
#pragma once

#include <cstdint>

namespace tolvane {

// The category word of a backup or restore: either Full alone, or Sms and/or Contacts. No other
// bit is used.
enum DataCategory : uint32_t {
    Full = 8,
    Sms = 4,
    Contacts = 2,
};

// The two database files of a backup, under their names in a device folder, and the names of
// their copies in the program's own category backups.
inline constexpr char kSmsDatabaseName[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
inline constexpr char kContactsDatabaseName[] = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";
inline constexpr char kSmsCopyName[] = "sms";
inline constexpr char kContactsCopyName[] = "content";

}  // namespace tolvane
