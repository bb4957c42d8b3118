// The two generations of backup folder, and where the message and contacts databases lie in each.
//
//   Manifest.mbdb  phones before iOS 10: every file flat in the device folder under its hashed
//   name; Manifest.db    iOS 10 and later: every file at "<first two hex digits>/<hashed name>",
//   the
//                  manifest an SQLite database (ManifestDb.h), encryption told by Manifest.plist.
//
// A phone's generation follows from its ProductVersion; a folder's from the manifest it holds.
#pragma once

#include <cstdint>
#include <string>

#include "store/DataCategory.h"

namespace tolvane {

enum class BackupFormat : uint8_t {
    Unknown,   // no manifest (an own category backup, or not a backup at all)
    Mbdb,      // Manifest.mbdb
    Database,  // Manifest.db
};

// "Manifest.db", "Manifest.mbdb", or "?" for Unknown: the names users and the listing see.
const char* BackupFormatName(BackupFormat format);

// The generation of a device folder: Manifest.db when it holds one (a phone that moved to the
// newer layout removes the older manifest, and the newer one wins should both be there), else
// Manifest.mbdb when it holds that, else Unknown.
BackupFormat DeviceFolderFormat(const std::string& deviceFolder);

// The generation of the backups a phone of `productVersion` writes: Database from iOS 10, Mbdb
// before, Unknown when the text gives no major version.
BackupFormat PhoneBackupFormat(const std::string& productVersion);

// The hashed name of a category's database (Sms or Contacts; null for anything else).
const char* CategoryDatabaseName(DataCategory category);

// Where the database of `category` lies in a device folder of `format`: folder/<hashed name> for
// Mbdb (and Unknown), folder/<xx>/<hashed name> for Database.
std::string DeviceFolderDatabasePath(const std::string& deviceFolder, BackupFormat format,
                                     DataCategory category);
// The same for the folder's own format.
std::string DeviceFolderDatabasePath(const std::string& deviceFolder, DataCategory category);

// The database of `category` in a folder that holds one in any of the forms the program meets:
// an own category backup's copy ("sms"/"content"), a flat hashed name (the older layout, or the
// decryption tool's output), or the prefixed hashed name of the newer layout. Empty when none is
// a regular file.
std::string FindCategoryDatabase(const std::string& folder, DataCategory category);

// Whether the Manifest.plist of a device folder says IsEncrypted (a true boolean). False when it
// cannot be read.
bool ManifestPlistSaysEncrypted(const std::string& deviceFolder);

}  // namespace tolvane

namespace tolvane {

// The checks made on a device folder of the newer layout before anything of it reaches a phone
// (a whole restore, or the source of a restore by category): its Manifest.db opens, every row
// passes the walk's checks (ManifestDb.h: no path that leaves its domain, names that match), and
// for each category in `categories` (Sms, Contacts) the manifest has a file row of its database.
// An encrypted manifest cannot be read without its key: only its presence is checked then.
// Folders of another format pass. 0, or platform::kResultBadManifest with `problem` set.
int32_t CheckBackupManifestDb(const std::string& deviceFolder, uint32_t categories,
                              std::string& problem);

// Whether a phone of `productVersion` can take the backup in `deviceFolder`: a backup of the
// newer layout cannot go onto a phone before iOS 10, nor a backup whose Info.plist names a newer
// major version than the phone's. 0, or platform::IMPORT_BAD_FILE with `problem` set to the text
// for the user. A phone or backup whose version cannot be read passes.
int32_t CheckBackupFitsPhone(const std::string& deviceFolder, const std::string& productVersion,
                             std::string& problem);

}  // namespace tolvane
