#include "store/ManifestDb.h"

#include <cstring>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "platform/Results.h"
#include "platform/Sha1.h"
#include "store/SqliteFiles.h"

namespace tolvane {
namespace {

constexpr char kSelectColumns[] = "SELECT fileID, domain, relativePath, flags, file FROM Files";

std::string ColumnText(sqlite3_stmt* stmt, int column) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return p != nullptr ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt, column)))
                        : std::string();
}

std::string ColumnBlob(sqlite3_stmt* stmt, int column) {
    const void* p = sqlite3_column_blob(stmt, column);
    return p != nullptr ? std::string(static_cast<const char*>(p),
                                      static_cast<size_t>(sqlite3_column_bytes(stmt, column)))
                        : std::string();
}

class RowHasher {
  public:
    std::string Of(std::string_view domain, std::string_view path) {
        sha_.Update(domain);
        sha_.Update("-", 1);
        sha_.Update(path);
        return platform::HexLower(sha_.Final());
    }

  private:
    platform::Sha1 sha_;
};

// The tables and indexes of the attached manifest "src", in the order they were made. Returns the
// last step's code: SQLITE_DONE when the whole schema was read. The statement is finalized before
// it returns, so the connection can be closed whatever happened.
int ReadSchema(sqlite3* db, std::vector<std::pair<std::string, std::string>>& tables,
               std::vector<std::string>& indexes) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db,
                           "SELECT type, name, sql FROM src.sqlite_master WHERE sql IS NOT NULL "
                           "AND name NOT LIKE 'sqlite_%' ORDER BY rowid",
                           -1, &raw, nullptr) != SQLITE_OK) {
        return SQLITE_ERROR;
    }
    platform::SqliteStmtPtr stmt(raw);
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
        const std::string type = ColumnText(raw, 0);
        if (type == "table") {
            tables.emplace_back(ColumnText(raw, 1), ColumnText(raw, 2));
        } else if (type == "index") {
            indexes.push_back(ColumnText(raw, 2));
        }
    }
    return step;
}

}  // namespace

bool IsHashedName(std::string_view name) {
    if (name.size() != 40) {
        return false;
    }
    for (char c : name) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

bool IsSafeRelativePath(std::string_view path) {
    if (path.empty()) {
        return true;
    }
    if (path.front() == '/' || path.find('\0') != std::string_view::npos) {
        return false;
    }
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) {
            end = path.size();
        }
        const std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

std::string HashedName(std::string_view domain, std::string_view relativePath) {
    RowHasher h;
    return h.Of(domain, relativePath);
}

std::string PrefixedFileName(std::string_view hashedName) {
    std::string name(hashedName.substr(0, 2));
    name += '/';
    name += hashedName;
    return name;
}

int32_t ManifestDb::Fail(std::string text) {
    error_ = std::move(text);
    return platform::kResultBadManifest;
}

int32_t ManifestDb::Open(const std::string& uri, int flags, bool checkSchema) {
    db_.reset();
    inMemory_ = false;
    error_.clear();
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(uri.c_str(), &raw, flags | SQLITE_OPEN_URI, nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK) {
        return Fail(std::string("the manifest database cannot be opened: ") +
                    (raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
    }
    sqlite3_extended_result_codes(raw, 1);
    if (checkSchema) {
        const int32_t checked = CheckSchema();
        if (checked != platform::kResultOk) {
            db_.reset();
        }
        return checked;
    }
    return platform::kResultOk;
}

int32_t ManifestDb::CheckSchema() {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db_.get(), (std::string(kSelectColumns) + " LIMIT 0").c_str(),
                                      -1, &raw, nullptr);
    platform::SqliteStmtPtr stmt(raw);
    if (rc != SQLITE_OK) {
        return Fail(std::string("not a manifest database: ") + sqlite3_errmsg(db_.get()));
    }
    return platform::kResultOk;
}

int32_t ManifestDb::OpenReadOnly(const std::string& path) {
    if (!platform::FileExists(path)) {
        db_.reset();
        error_ = "the manifest database does not exist";
        return platform::kResultMissing;
    }
    return Open(SqliteFileUri(path, "?immutable=1"), SQLITE_OPEN_READONLY, true);
}

int32_t ManifestDb::OpenForRewrite(const std::string& path) {
    if (!platform::FileExists(path)) {
        db_.reset();
        error_ = "the manifest database does not exist";
        return platform::kResultMissing;
    }
    int32_t rc = Open(SqliteFileUri(path, ""), SQLITE_OPEN_READWRITE, true);
    if (rc == platform::kResultOk) {
        // A phone writes its manifest in WAL mode; the rewritten copy must be one file again, with
        // no -wal or -shm beside it when it is sent.
        rc = Exec("PRAGMA journal_mode=DELETE");
    }
    return rc;
}

int32_t ManifestDb::OpenBytes(std::string_view bytes) {
    // The in-memory connection of an earlier image, taken or refused, takes the next one in place
    // of its own (its statements are all finalized): opening a connection costs more than reading
    // a small image.
    if (db_ && inMemory_) {
        spare_ = std::move(db_);
    }
    db_.reset();
    error_.clear();
    if (!spare_) {
        const int32_t rc = Open(":memory:", SQLITE_OPEN_READWRITE, false);
        if (rc != platform::kResultOk) {
            return rc;
        }
        spare_ = std::move(db_);
    }
    auto* copy = static_cast<unsigned char*>(sqlite3_malloc64(bytes.size() > 0 ? bytes.size() : 1));
    if (copy == nullptr) {
        return Fail("out of memory");
    }
    if (!bytes.empty()) {
        std::memcpy(copy, bytes.data(), bytes.size());
    }
    if (sqlite3_deserialize(spare_.get(), "main", copy, static_cast<sqlite3_int64>(bytes.size()),
                            static_cast<sqlite3_int64>(bytes.size()),
                            SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_READONLY) !=
        SQLITE_OK) {
        return Fail("not a manifest database");
    }
    db_ = std::move(spare_);
    inMemory_ = true;
    const int32_t rc = CheckSchema();
    if (rc != platform::kResultOk) {
        spare_ = std::move(db_);
        inMemory_ = false;
    }
    return rc;
}

int32_t ManifestDb::ReadRow(sqlite3_stmt* stmt, ManifestRow& row) {
    if (sqlite3_column_type(stmt, 0) != SQLITE_TEXT ||
        sqlite3_column_type(stmt, 1) != SQLITE_TEXT ||
        sqlite3_column_type(stmt, 2) != SQLITE_TEXT ||
        sqlite3_column_type(stmt, 3) != SQLITE_INTEGER) {
        return Fail("a manifest row has a column of the wrong type");
    }
    row.fileID = ColumnText(stmt, 0);
    row.domain = ColumnText(stmt, 1);
    row.relativePath = ColumnText(stmt, 2);
    row.flags = sqlite3_column_int64(stmt, 3);
    row.file = ColumnBlob(stmt, 4);
    if (!IsHashedName(row.fileID)) {
        return Fail("a manifest row has a malformed fileID");
    }
    if (row.domain.empty() || row.domain.find('/') != std::string::npos ||
        row.domain.find('\0') != std::string::npos) {
        return Fail("the manifest row " + row.fileID + " has a malformed domain");
    }
    if (!IsSafeRelativePath(row.relativePath)) {
        return Fail("the manifest row " + row.fileID + " has a path outside its domain");
    }
    if (row.flags != kManifestFlagFile && row.flags != kManifestFlagFolder &&
        row.flags != kManifestFlagLink) {
        return Fail("the manifest row " + row.fileID + " has unknown flags");
    }
    return platform::kResultOk;
}

int32_t ManifestDb::Find(std::string_view fileID, ManifestRow& row, bool& found) {
    found = false;
    if (!db_) {
        return Fail("no manifest database is open");
    }
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), (std::string(kSelectColumns) + " WHERE fileID = ?").c_str(),
                           -1, &raw, nullptr) != SQLITE_OK) {
        return Fail(std::string("the manifest cannot be read: ") + sqlite3_errmsg(db_.get()));
    }
    platform::SqliteStmtPtr stmt(raw);
    sqlite3_bind_text(raw, 1, fileID.data(), static_cast<int>(fileID.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(raw);
    if (rc == SQLITE_DONE) {
        return platform::kResultOk;
    }
    if (rc != SQLITE_ROW) {
        return Fail(std::string("the manifest cannot be read: ") + sqlite3_errmsg(db_.get()));
    }
    const int32_t checked = ReadRow(raw, row);
    if (checked != platform::kResultOk) {
        return checked;
    }
    if (HashedName(row.domain, row.relativePath) != row.fileID) {
        return Fail("the manifest row " + row.fileID + " does not match its domain and path");
    }
    found = true;
    return platform::kResultOk;
}

int32_t ManifestDb::Walk(const std::function<bool(const ManifestRow&)>& visit, bool withFiles) {
    if (!db_) {
        return Fail("no manifest database is open");
    }
    const std::string sql =
        withFiles ? std::string(kSelectColumns) + " ORDER BY fileID"
                  : "SELECT fileID, domain, relativePath, flags, NULL FROM Files ORDER BY fileID";
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        return Fail(std::string("the manifest cannot be read: ") + sqlite3_errmsg(db_.get()));
    }
    platform::SqliteStmtPtr stmt(raw);
    RowHasher hasher;
    ManifestRow row;
    for (;;) {
        const int rc = sqlite3_step(raw);
        if (rc == SQLITE_DONE) {
            return platform::kResultOk;
        }
        if (rc != SQLITE_ROW) {
            return Fail(std::string("the manifest cannot be read: ") + sqlite3_errmsg(db_.get()));
        }
        const int32_t checked = ReadRow(raw, row);
        if (checked != platform::kResultOk) {
            return checked;
        }
        if (hasher.Of(row.domain, row.relativePath) != row.fileID) {
            return Fail("the manifest row " + row.fileID + " does not match its domain and path");
        }
        if (!visit(row)) {
            return platform::kResultOk;
        }
    }
}

int32_t ManifestDb::CountRows(int64_t& rows) {
    rows = 0;
    if (!db_) {
        return Fail("no manifest database is open");
    }
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), "SELECT count(*) FROM Files", -1, &raw, nullptr) !=
        SQLITE_OK) {
        return Fail(std::string("the manifest cannot be read: ") + sqlite3_errmsg(db_.get()));
    }
    platform::SqliteStmtPtr stmt(raw);
    if (sqlite3_step(raw) != SQLITE_ROW) {
        return Fail(std::string("the manifest cannot be read: ") + sqlite3_errmsg(db_.get()));
    }
    rows = sqlite3_column_int64(raw, 0);
    return platform::kResultOk;
}

int32_t ManifestDb::Exec(const char* sql) {
    if (!db_) {
        return Fail("no manifest database is open");
    }
    char* message = nullptr;
    if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message != nullptr ? message : "unknown error";
        sqlite3_free(message);
        return Fail("the manifest cannot be changed: " + text);
    }
    return platform::kResultOk;
}

int32_t ManifestDb::RemoveApplicationRows(int64_t& removed) {
    removed = 0;
    // substr rather than LIKE: LIKE folds case and treats '_' as a wildcard.
    const int32_t rc = Exec("DELETE FROM Files WHERE substr(domain, 1, 9) = 'AppDomain'");
    if (rc == platform::kResultOk) {
        removed = sqlite3_changes64(db_.get());
    }
    return rc;
}

int32_t ManifestDb::ReplaceFile(std::string_view fileID, std::string_view file) {
    if (!db_) {
        return Fail("no manifest database is open");
    }
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), "UPDATE Files SET file = ? WHERE fileID = ?", -1, &raw,
                           nullptr) != SQLITE_OK) {
        return Fail(std::string("the manifest cannot be changed: ") + sqlite3_errmsg(db_.get()));
    }
    platform::SqliteStmtPtr stmt(raw);
    sqlite3_bind_blob64(raw, 1, file.data(), file.size(), SQLITE_TRANSIENT);
    sqlite3_bind_text(raw, 2, fileID.data(), static_cast<int>(fileID.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(raw) != SQLITE_DONE) {
        return Fail(std::string("the manifest cannot be changed: ") + sqlite3_errmsg(db_.get()));
    }
    if (sqlite3_changes(db_.get()) == 0) {
        error_ = "the manifest has no row " + std::string(fileID);
        return platform::kResultMissing;
    }
    return platform::kResultOk;
}

int32_t ManifestDb::CopyWithoutApplicationRows(const std::string& source, const std::string& target,
                                               std::string& error) {
    platform::DeleteFile(target);  // whatever happens, no older copy passes for the new one
    ManifestDb in;
    if (const int32_t rc = in.OpenReadOnly(source); rc != platform::kResultOk) {
        error = in.Error();
        return rc == platform::kResultMissing ? platform::kResultBadManifest : rc;
    }
    in.db_.reset();
    ManifestDb out;
    int32_t rc =
        out.Open(SqliteFileUri(target, ""), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, false);
    auto fail = [&](int32_t code) {
        error = out.Error();
        out.db_.reset();
        platform::DeleteFile(target);
        return code;
    };
    if (rc != platform::kResultOk) {
        return fail(rc);
    }
    std::string quotedSource;  // the URI as an SQL string literal
    for (char c : SqliteFileUri(source, "?immutable=1")) {
        quotedSource += c;
        if (c == '\'') {
            quotedSource += '\'';
        }
    }
    rc = out.Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-65536;");
    if (rc == platform::kResultOk) {
        rc = out.Exec(("ATTACH DATABASE '" + quotedSource + "' AS src").c_str());
    }
    if (rc != platform::kResultOk) {
        return fail(rc);
    }
    // The schema as the phone wrote it: tables first, filled, then their indexes, which are
    // cheaper built once over the kept rows than kept up row by row.
    std::vector<std::pair<std::string, std::string>> tables;  // name, sql
    std::vector<std::string> indexes;
    if (ReadSchema(out.db_.get(), tables, indexes) != SQLITE_DONE) {
        out.Fail(std::string("the manifest cannot be read: ") + sqlite3_errmsg(out.db_.get()));
        return fail(platform::kResultBadManifest);
    }
    rc = out.Exec("BEGIN");
    for (const auto& [name, sql] : tables) {
        if (rc != platform::kResultOk) {
            break;
        }
        std::string quoted = "\"";
        for (char c : name) {
            quoted += c;
            if (c == '"') {
                quoted += '"';
            }
        }
        quoted += '"';
        rc = out.Exec(sql.c_str());
        if (rc == platform::kResultOk) {
            std::string copy = "INSERT INTO main." + quoted + " SELECT * FROM src." + quoted;
            if (name == "Files") {
                copy += " WHERE substr(domain, 1, 9) <> 'AppDomain'";
            }
            rc = out.Exec(copy.c_str());
        }
    }
    for (const std::string& sql : indexes) {
        if (rc == platform::kResultOk) {
            rc = out.Exec(sql.c_str());
        }
    }
    if (rc == platform::kResultOk) {
        rc = out.Exec("COMMIT");
    }
    if (rc == platform::kResultOk) {
        rc = out.Exec("DETACH DATABASE src");
    }
    if (rc != platform::kResultOk) {
        return fail(rc);
    }
    out.db_.reset();
    return platform::kResultOk;
}

int32_t ManifestDb::Begin() {
    return Exec("BEGIN IMMEDIATE");
}

int32_t ManifestDb::Commit() {
    return Exec("COMMIT");
}

}  // namespace tolvane
