// Manifest.db, the manifest of a modern backup: an SQLite file with
//
//   Files(fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, file BLOB)
//   Properties(key TEXT PRIMARY KEY, value BLOB)
//
// one Files row per domain (relativePath ""), folder and file; fileID the hashed name, flags 1 for
// a file, 2 for a folder, 4 for a symbolic link, `file` the archived MBFile (MbFile.h).
#pragma once

#include <string>
#include <vector>

#include "devsim/Mbdb.h"

namespace devsim {

inline constexpr int kManifestFlagFile = 1;
inline constexpr int kManifestFlagFolder = 2;
inline constexpr int kManifestFlagLink = 4;

// The bytes of a Manifest.db holding `records` (an empty path stands for the domain itself).
// Empty, with `error` set, when SQLite fails.
std::string WriteManifestDb(const std::vector<MbdbRecord>& records, std::string& error);

// The records of a Manifest.db, in fileID order. False, with `error` set, for a file that is not
// one, a row whose MBFile cannot be read, or a row whose fileID does not match its names.
bool ReadManifestDb(const std::string& bytes, std::vector<MbdbRecord>& records, std::string& error);

// Where a file lies in a modern backup folder: "<first two digits>/<hashed name>".
std::string PrefixedName(const std::string& hashedName);

}  // namespace devsim
