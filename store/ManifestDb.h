// Manifest.db, the manifest of a backup of iOS 10 and later: an SQLite file with
//
//   Files(fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB)
//   Properties(key TEXT PRIMARY KEY, value BLOB)
//
// fileID is the SHA-1 of "domain-relativePath" in 40 lower-case hexadecimal digits, and the
// file's content lies at "<its first two digits>/<fileID>" in the device folder; flags is 1 for a
// file, 2 for a folder, 4 for a symbolic link; `file` is the archived MBFile (MbFile.h).
//
// A manifest is opened read-only and immutable (no journal, no WAL, no lock files beside the
// backup, nothing written) for reading, or read-write for the rewrite before a restore by
// category, which happens on a work copy only. Every row a walk or look-up hands out has been
// checked: a hashed name of the right form that matches its domain and path, a known flag, and a
// relative path that stays inside its domain (no "..", not absolute). A row that fails these makes
// the whole manifest unusable: the call returns platform::kResultBadManifest and Error() says why.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Handles.h"

namespace tolvane {

inline constexpr int64_t kManifestFlagFile = 1;
inline constexpr int64_t kManifestFlagFolder = 2;
inline constexpr int64_t kManifestFlagLink = 4;

inline constexpr char kManifestDbName[] = "Manifest.db";
inline constexpr char kManifestMbdbName[] = "Manifest.mbdb";

struct ManifestRow {
    std::string fileID;
    std::string domain;
    std::string relativePath;
    int64_t flags = 0;
    std::string file;  // the archived MBFile; may be empty for a domain's own row
};

// Whether `name` is 40 lower-case hexadecimal digits.
bool IsHashedName(std::string_view name);

// Whether a relative path stays inside its domain: not absolute, no "." or ".." component, no
// empty component, no zero byte. The empty path (a domain's own row) is allowed.
bool IsSafeRelativePath(std::string_view path);

// The hashed name of a domain and relative path: SHA-1 of "domain-path", lower-case hexadecimal.
std::string HashedName(std::string_view domain, std::string_view relativePath);

// Where a file lies in a modern device folder: "<first two digits>/<hashed name>".
std::string PrefixedFileName(std::string_view hashedName);

class ManifestDb {
  public:
    ManifestDb() = default;
    ManifestDb(ManifestDb&&) = default;
    ManifestDb& operator=(ManifestDb&&) = default;

    // Opens `path` read-only and immutable. platform::kResultMissing when the file does not
    // exist, platform::kResultBadManifest when it is not a manifest database.
    int32_t OpenReadOnly(const std::string& path);
    // Opens `path` for changes (a work copy). Same results.
    int32_t OpenForRewrite(const std::string& path);
    // Opens a copy of `bytes` in memory, read-only; an object that holds such a copy already
    // replaces it.
    int32_t OpenBytes(std::string_view bytes);

    // The row of `fileID`; 0 with `found` false when there is none.
    int32_t Find(std::string_view fileID, ManifestRow& row, bool& found);

    // Calls `visit` for each row in fileID order until it returns false. Rows before a bad one
    // have been visited when the walk ends with platform::kResultBadManifest. Without
    // `withFiles` the rows' `file` stays empty (a check that needs only names reads less).
    int32_t Walk(const std::function<bool(const ManifestRow&)>& visit, bool withFiles = true);

    // Number of rows in Files.
    int32_t CountRows(int64_t& rows);

    // Rewriting (OpenForRewrite only). Deletes the rows of applications' data (domains beginning
    // with "AppDomain", the application groups and plugins included).
    int32_t RemoveApplicationRows(int64_t& removed);
    // Replaces the archived MBFile of `fileID`; platform::kResultMissing when there is no such
    // row.
    int32_t ReplaceFile(std::string_view fileID, std::string_view file);
    int32_t Begin();
    int32_t Commit();

    const std::string& Error() const { return error_; }

    // Writes a new manifest at `target` (replaced when it exists) holding every table and index
    // of the manifest at `source` and every row of it except the applications' (as
    // RemoveApplicationRows takes them). The source is only read. One sequential write of what is
    // kept, with no journal: the target is a work copy, and a failure removes it. 0,
    // platform::kResultBadManifest when the source is not a manifest database, or another code
    // with `error` set.
    static int32_t CopyWithoutApplicationRows(const std::string& source, const std::string& target,
                                              std::string& error);

  private:
    int32_t Open(const std::string& uri, int flags, bool checkSchema);
    int32_t CheckSchema();
    int32_t Fail(std::string text);
    int32_t ReadRow(sqlite3_stmt* stmt, ManifestRow& row);
    int32_t Exec(const char* sql);

    platform::SqlitePtr db_;
    bool inMemory_ = false;      // db_ holds an image given to OpenBytes
    platform::SqlitePtr spare_;  // an in-memory connection kept for the next OpenBytes
    std::string error_;
};

}  // namespace tolvane
