#include "store/SqliteFiles.h"

#include <sqlite3.h>

#include "platform/Files.h"

namespace tolvane {

std::string SqliteFileUri(const std::string& path, const char* query) {
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
    uri += query;
    return uri;
}

int OpenUnchangingDatabase(const std::string& path, platform::SqlitePtr& db) {
    if (!platform::FileExists(path)) {
        return SQLITE_CANTOPEN;
    }
    sqlite3* raw = nullptr;
    const std::string uri = SqliteFileUri(path, "?immutable=1");
    const int rc =
        sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    platform::SqlitePtr owned(raw);
    if (rc == SQLITE_OK) {
        db = std::move(owned);
    }
    return rc;
}

}  // namespace tolvane
