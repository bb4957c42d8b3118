#include "devsim/ManifestDb.h"

#include <sqlite3.h>

#include "devsim/FileTree.h"
#include "devsim/MbFile.h"
#include "devsim/PhoneDatabase.h"
#include "platform/Handles.h"

namespace devsim {
namespace {

constexpr char kSchema[] =
    "CREATE TABLE Files (fileID TEXT PRIMARY KEY, domain TEXT, relativePath TEXT, flags INTEGER, "
    "file BLOB);"
    "CREATE INDEX FilesDomainIdx ON Files(domain);"
    "CREATE INDEX FilesRelativePathIdx ON Files(relativePath);"
    "CREATE INDEX FilesFlagsIdx ON Files(flags);"
    "CREATE TABLE Properties (key TEXT PRIMARY KEY, value BLOB);";

int FlagsOf(const MbdbRecord& r) {
    switch (r.mode & 0xF000) {
        case 0x4000:
            return kManifestFlagFolder;
        case 0xA000:
            return kManifestFlagLink;
        default:
            return kManifestFlagFile;
    }
}

platform::SqlitePtr OpenMemory() {
    sqlite3* raw = nullptr;
    sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    return platform::SqlitePtr(raw);
}

}  // namespace

std::string PrefixedName(const std::string& hashedName) {
    return hashedName.substr(0, 2) + "/" + hashedName;
}

std::string WriteManifestDb(const std::vector<MbdbRecord>& records, std::string& error) {
    platform::SqlitePtr db = OpenMemory();
    if (!db || !Exec(db.get(), kSchema, error) || !Exec(db.get(), "BEGIN", error)) {
        return {};
    }
    {
        Insert row(db.get(), "INSERT OR REPLACE INTO Files VALUES(?,?,?,?,?)");
        for (const MbdbRecord& r : records) {
            row.Text(HashedName(r.domain, r.path)).Text(r.domain).Text(r.path).Int(FlagsOf(r));
            if (!row.Blob(WriteMbFile(r)).Run(error)) {
                return {};
            }
        }
    }
    if (!Exec(db.get(), "COMMIT", error)) {
        return {};
    }
    sqlite3_int64 size = 0;
    unsigned char* data = sqlite3_serialize(db.get(), "main", &size, 0);
    if (data == nullptr) {
        error = "cannot serialise Manifest.db";
        return {};
    }
    std::string out(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
    sqlite3_free(data);
    return out;
}

bool ReadManifestDb(const std::string& bytes, std::vector<MbdbRecord>& records,
                    std::string& error) {
    if (bytes.size() < 100 || bytes.compare(0, 16, std::string("SQLite format 3\0", 16)) != 0) {
        error = "Manifest.db is not an SQLite database";
        return false;
    }
    platform::SqlitePtr db = OpenMemory();
    auto* copy = static_cast<unsigned char*>(sqlite3_malloc64(bytes.size()));
    if (!db || copy == nullptr) {
        sqlite3_free(copy);
        error = "out of memory";
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), copy);
    if (sqlite3_deserialize(db.get(), "main", copy, static_cast<sqlite3_int64>(bytes.size()),
                            static_cast<sqlite3_int64>(bytes.size()),
                            SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY) !=
        SQLITE_OK) {
        error = "Manifest.db cannot be opened";
        return false;
    }
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db.get(),
                           "SELECT fileID, domain, relativePath, flags, file FROM Files "
                           "ORDER BY fileID",
                           -1, &raw, nullptr) != SQLITE_OK) {
        error = std::string("Manifest.db has no readable Files table: ") + sqlite3_errmsg(db.get());
        return false;
    }
    platform::SqliteStmtPtr stmt(raw);
    auto text = [&](int column) {
        const unsigned char* t = sqlite3_column_text(stmt.get(), column);
        return t == nullptr
                   ? std::string()
                   : std::string(reinterpret_cast<const char*>(t),
                                 static_cast<size_t>(sqlite3_column_bytes(stmt.get(), column)));
    };
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        MbdbRecord r;
        const std::string fileId = text(0);
        r.domain = text(1);
        const std::string path = text(2);
        const int flags = sqlite3_column_int(stmt.get(), 3);
        const void* blob = sqlite3_column_blob(stmt.get(), 4);
        const std::string file(
            static_cast<const char*>(blob),
            blob == nullptr ? 0 : static_cast<size_t>(sqlite3_column_bytes(stmt.get(), 4)));
        std::string problem;
        if (!ReadMbFile(file, r, problem)) {
            error = "Manifest.db row " + fileId + ": " + problem;
            return false;
        }
        if (r.path != path || fileId != HashedName(r.domain, path)) {
            error = "Manifest.db row " + fileId + " does not match its names";
            return false;
        }
        const int kind = r.mode & 0xF000;
        if ((flags == kManifestFlagFile && kind != 0x8000) ||
            (flags == kManifestFlagFolder && kind != 0x4000) ||
            (flags == kManifestFlagLink && kind != 0xA000)) {
            error = "Manifest.db row " + fileId + " has flags that do not match its mode";
            return false;
        }
        records.push_back(std::move(r));
    }
    if (rc != SQLITE_DONE) {
        error = std::string("Manifest.db cannot be read: ") + sqlite3_errmsg(db.get());
        return false;
    }
    return true;
}

}  // namespace devsim
