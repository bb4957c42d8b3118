#include "data/DatabaseFiles.h"

#include <sqlite3.h>
#include <sys/stat.h>

namespace tolvane {
namespace {

// A file name as a URI path: everything but unreserved characters and '/' percent-encoded.
std::string FileUri(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file:";
    for (const unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 0x0F];
        }
    }
    return uri;
}

}  // namespace

int OpenUnchangingDatabase(const std::string& path, platform::SqlitePtr& db) {
    sqlite3* raw = nullptr;
    const std::string uri = FileUri(path) + "?immutable=1";
    const int rc =
        sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    platform::SqlitePtr owned(raw);
    if (rc == SQLITE_OK) {
        db = std::move(owned);
    }
    return rc;
}

bool HasLiveWriteAheadLog(const std::string& path) {
    struct stat st {};
    return stat((path + "-wal").c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

int SnapshotDatabase(const std::string& source, const std::string& target) {
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
