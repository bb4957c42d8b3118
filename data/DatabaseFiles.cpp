#include "data/DatabaseFiles.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include "platform/Files.h"

namespace tolvane {

bool HasLiveWriteAheadLog(const std::string& path) {
    struct stat st {};
    return stat((path + "-wal").c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

int SnapshotDatabase(const std::string& source, const std::string& target) {
    if (!platform::FileExists(source)) {  // a FIFO would wait for a writer
        return SQLITE_CANTOPEN;
    }
    sqlite3* rawSource = nullptr;
    int rc = sqlite3_open_v2(source.c_str(), &rawSource, SQLITE_OPEN_READONLY, nullptr);
    const platform::SqlitePtr from(rawSource);
    if (rc != SQLITE_OK) {
        return rc;
    }
    sqlite3* rawTarget = nullptr;
    rc = sqlite3_open_v2(target.c_str(), &rawTarget, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                         nullptr);
    const platform::SqlitePtr to(rawTarget);
    if (rc != SQLITE_OK) {
        return rc;
    }
    sqlite3_backup* backup = sqlite3_backup_init(to.get(), "main", from.get(), "main");
    if (backup == nullptr) {
        return sqlite3_errcode(to.get());
    }
    rc = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) {
        return rc;
    }
    return finished;
}

}  // namespace tolvane
