// Opening database files that belong to someone else: a backup's databases, a file offered as a
// replacement. They are read without writing anything next to them.
#pragma once

#include <string>

#include "platform/Handles.h"
#include "store/SqliteFiles.h"  // OpenUnchangingDatabase

namespace tolvane {

// Whether a live "-wal" file with content lies beside `path`: the file alone then may lack
// committed changes or be half-way through a checkpoint.
bool HasLiveWriteAheadLog(const std::string& path);

// Writes a consistent copy of the database at `source` (read through its "-wal" file when it has
// one) to `target` (replaced) with the library's online backup. Returns the library's code.
int SnapshotDatabase(const std::string& source, const std::string& target);

}  // namespace tolvane
