// Naming and opening SQLite database files that belong to someone else (a backup's databases and
// manifest, a file offered as a replacement) without writing anything next to them.
#pragma once

#include <string>

#include "platform/Handles.h"

namespace tolvane {

// `path` as a "file:" URI (every byte but unreserved characters and '/' percent-encoded), with
// `query` (e.g. "?immutable=1") appended.
std::string SqliteFileUri(const std::string& path, const char* query = "");

// Opens `path` read-only as an unchanging file ("immutable"): no lock, no journal, and for a
// database in WAL journal mode (as a phone keeps its databases) no "-wal" or "-shm" file made
// beside it, so a backup folder is never written and a read-only one can be read. Returns the
// database library's code; `db` is set only on success. A missing file is not created, and a path
// that is no regular file (a FIFO, whose opening waits for a writer that may never come; a device
// such as /dev/zero) is not opened: SQLITE_CANTOPEN.
int OpenUnchangingDatabase(const std::string& path, platform::SqlitePtr& db);

}  // namespace tolvane
