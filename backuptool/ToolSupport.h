// What both generations of backups share in the tool: the two databases it takes out, their
// hashed names, the lines it prints, and Manifest.plist.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

namespace backuptool {

struct Database {
    const char* domain;
    const char* path;
};

// The message and contacts databases, in the home domain of the phone.
inline constexpr Database kDatabases[] = {
    {"HomeDomain", "Library/SMS/sms.db"},
    {"HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"},
};

// What every SQLite database file begins with, its zero byte included.
inline constexpr std::string_view kSqliteHeader{"SQLite format 3\0", 16};

// The two databases of a plain backup copied as they are from `input` (flat, or in the folders of
// their names' first two digits when `prefixed`) to `output` under their hashed names, one line
// each. kExitOk, or kExitFailed when one could not be copied.
int CopyPlainDatabases(const std::string& input, const std::string& output, bool prefixed,
                       std::FILE* log);

// A line for the user, flushed at once so that a caller watching the output sees it while the
// tool works. A failed write to the log could not be reported anywhere else.
__attribute__((format(printf, 2, 3))) void Say(std::FILE* log, const char* format, ...);

// The name under which the phone stores a file in a backup folder: the SHA-1 of
// "domain-relativePath" in lower-case hex.
std::string HashedName(std::string_view domain, std::string_view path);

// Manifest.plist (XML or binary) as a dictionary; null, with a reason in `error`, when it cannot
// be read or is no dictionary.
plist_t ReadPlistFile(const std::string& path, std::string& error);
// The same for bytes already read; `name` goes into the reason.
plist_t ParsePlistBytes(std::string_view data, const std::string& name, std::string& error);

// What the tool takes from the bytes of a Manifest.plist (XML or binary): whether the backup is
// encrypted and, when it is, its keybag's bytes. False, with a reason in `error`, for bytes that
// are no property list dictionary, or for an encrypted backup without its BackupKeyBag.
bool ReadManifestPlist(std::string_view bytes, bool& encrypted, std::string& keybag,
                       std::string& error);

bool PlistBool(plist_t dict, const char* key);
// The bytes of a data item; false when the item is missing or of another type.
bool PlistData(plist_t dict, const char* key, std::string& bytes);

// A 4-byte little-endian integer, as the protection class before a wrapped key is stored.
uint32_t LittleEndian32(std::string_view bytes);

// The class keys of an unlocked keybag by protection class, cleared when they go.
struct ClassKeys {
    std::map<uint32_t, std::string> keys;
    ClassKeys() = default;
    ClassKeys(const ClassKeys&) = delete;
    ClassKeys& operator=(const ClassKeys&) = delete;
    ~ClassKeys();
};

// Opens Manifest.plist's BackupKeyBag with the password: derives the password key once, printing
// "Deriving the password key: N%" lines while a long derivation runs, and unwraps the class keys.
// kExitOk with the keys; otherwise the exit code, its line already printed ("Wrong password" for
// kExitWrongPassword).
int UnlockBackupKeys(plist_t manifest, std::string_view password, std::FILE* log,
                     ClassKeys& classKeys);

// The file key of a 44-byte EncryptionKey or ManifestKey: the class's key unwraps the 40 bytes
// after the class. False, with a reason in `error`, when the class has no key or the unwrap fails.
bool UnwrapFileKey(const ClassKeys& classKeys, std::string_view encryptionKey, std::string& fileKey,
                   std::string& error);

}  // namespace backuptool
