// Opening database files that belong to someone else: a backup's databases, a file offered as a
// replacement. They are read without writing anything next to them.
#pragma once

#include <string>

#include "platform/Handles.h"

namespace tolvane {

// Opens `path` read-only as an unchanging file ("immutable"): no lock, no journal, and for a
// database in WAL journal mode (as a phone keeps its databases) no "-wal" or "-shm" file made
// beside it, so a backup folder is never written and a read-only one can be read. Returns the
// database library's code; `db` is set only on success. A missing file is not created.
int OpenUnchangingDatabase(const std::string& path, platform::SqlitePtr& db);

// Whether a live "-wal" file with content lies beside `path`: the file alone then may lack
// committed changes or be half-way through a checkpoint.
bool HasLiveWriteAheadLog(const std::string& path);

// Writes a consistent copy of the database at `source` (read through its "-wal" file when it has
// one) to `target` (replaced) with the library's online backup. Returns the library's code.
int SnapshotDatabase(const std::string& source, const std::string& target);

}  // namespace tolvane
