// The databases of a backup of iOS 10 and later: Manifest.db, Manifest.plist and every file at
// "<first two digits>/<hashed name>".
//
// Encrypted from iOS 10.2 on, Manifest.db itself is encrypted under a key that Manifest.plist
// gives as ManifestKey (the protection class as 4 bytes little-endian, then the 40-byte wrapped
// key); each file's key of the same form is the EncryptionKey of its archived MBFile in
// Manifest.db. Files are cut at their PKCS#7 padding, not at the MBFile's Size. The tool writes
// Manifest.db, plain, beside the two databases in the output folder.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "backuptool/ToolSupport.h"

namespace tolvane {
class ManifestDb;
}

namespace backuptool {

inline constexpr char kManifestDb[] = "Manifest.db";
// Manifest.db is read whole by SQLite only through its pages, but one larger than this is taken
// for damage rather than decrypted.
inline constexpr uint64_t kMaxManifestDbBytes = 4ULL << 30;

// Whether `inputFolder` holds a backup of the newer layout (a Manifest.db).
bool IsModernBackup(const std::string& inputFolder);

// What the tool needs of a database's row in Manifest.db.
struct ModernRecord {
    uint64_t size = 0;          // the MBFile's Size; known to be wrong for databases
    std::string encryptionKey;  // empty for a file the phone did not encrypt
};

// Looks up `db`'s row in an open Manifest.db and checks it: a row for a file of that very domain
// and path, with a readable MBFile whose EncryptionKey, if any, has 44 bytes. False, with a reason
// in `error`, otherwise.
bool FindDatabaseRecord(tolvane::ManifestDb& manifest, const Database& db, ModernRecord& record,
                        std::string& error);

// DecryptDatabases for a modern backup folder whose Manifest.plist is `manifest`; the output
// folder exists. Returns an ExitCode.
int DecryptModernDatabases(const std::string& inputFolder, const std::string& outputFolder,
                           plist_t manifest, std::string_view password, std::FILE* log);

}  // namespace backuptool
