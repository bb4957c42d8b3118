#include "devsim/PhoneDatabase.h"

#include <sstream>

#include "platform/Files.h"

namespace devsim {
namespace {

// Splits the schema into its statements: a statement ends at a line that ends with ';' outside
// a trigger body, or at "END;" inside one.
std::vector<std::string> SplitStatements(const std::string& schema) {
    std::vector<std::string> out;
    std::istringstream in(schema);
    std::string line;
    std::string current;
    bool inTrigger = false;
    while (std::getline(in, line)) {
        if (current.empty() && line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        current += line + "\n";
        if (current.rfind("CREATE TRIGGER", 0) == 0) {
            inTrigger = true;
        }
        std::string trimmed = line;
        while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\r')) {
            trimmed.pop_back();
        }
        const bool ends =
            inTrigger ? (trimmed.size() >= 4 && trimmed.compare(trimmed.size() - 4, 4, "END;") == 0)
                      : (!trimmed.empty() && trimmed.back() == ';');
        if (ends) {
            out.push_back(current);
            current.clear();
            inTrigger = false;
        }
    }
    if (!current.empty()) {
        out.push_back(current);
    }
    return out;
}

std::string Quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    return out + "'";
}

}  // namespace

bool Exec(sqlite3* db, const std::string& sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        error = message != nullptr ? message : "sqlite error";
        sqlite3_free(message);
        return false;
    }
    return true;
}

platform::SqlitePtr CreateDatabase(const std::string& path, const std::string& schema,
                                   std::string& error) {
    if (platform::PathExists(path)) {
        error = path + " exists already";
        return platform::SqlitePtr();
    }
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    platform::SqlitePtr db(raw);
    if (rc != SQLITE_OK) {
        error = "cannot create " + path;
        return platform::SqlitePtr();
    }
    // The file is made in one go; a crash while making it leaves a phone that is made again.
    // A phone keeps its databases in WAL journal mode (header bytes 18 and 19 are 2); the mode is
    // kept in the file, so it travels into backups and restores with it. Closing the connection
    // checkpoints the log and removes it, so only the database file itself stays in the tree.
    if (!Exec(db.get(), "PRAGMA synchronous=OFF; PRAGMA journal_mode=WAL;", error)) {
        return platform::SqlitePtr();
    }
    std::vector<std::string> virtualTables;
    std::string sql;
    for (const std::string& statement : SplitStatements(schema)) {
        if (statement.rfind("CREATE TABLE sqlite_sequence", 0) == 0) {
            continue;
        }
        if (statement.rfind("CREATE VIRTUAL TABLE", 0) == 0) {
            virtualTables.push_back(statement);
            continue;
        }
        sql += statement;
    }
    if (!Exec(db.get(), sql, error)) {
        error = path + ": " + error;
        return platform::SqlitePtr();
    }
    for (std::string statement : virtualTables) {
        while (!statement.empty() && (statement.back() == '\n' || statement.back() == ';')) {
            statement.pop_back();
        }
        const size_t nameStart = std::string("CREATE VIRTUAL TABLE ").size();
        const std::string name =
            statement.substr(nameStart, statement.find(' ', nameStart) - nameStart);
        if (!Exec(db.get(),
                  "PRAGMA writable_schema=ON;"
                  "INSERT INTO sqlite_master(type,name,tbl_name,rootpage,sql) VALUES('table'," +
                      Quote(name) + "," + Quote(name) + ",0," + Quote(statement) +
                      ");PRAGMA writable_schema=OFF;",
                  error)) {
            error = path + ": " + error;
            return platform::SqlitePtr();
        }
    }
    return db;
}

Insert::Insert(sqlite3* db, const char* sql) : db_(db) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    stmt_.reset(stmt);
}

Insert& Insert::Text(const std::string& value) {
    sqlite3_bind_text(stmt_.get(), index_++, value.c_str(), static_cast<int>(value.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

Insert& Insert::Int(int64_t value) {
    sqlite3_bind_int64(stmt_.get(), index_++, value);
    return *this;
}

Insert& Insert::Blob(const std::string& value) {
    sqlite3_bind_blob(stmt_.get(), index_++, value.data(), static_cast<int>(value.size()),
                      SQLITE_TRANSIENT);
    return *this;
}

Insert& Insert::Null() {
    sqlite3_bind_null(stmt_.get(), index_++);
    return *this;
}

bool Insert::Run(std::string& error) {
    if (!stmt_) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    const int rc = sqlite3_step(stmt_.get());
    sqlite3_reset(stmt_.get());
    sqlite3_clear_bindings(stmt_.get());
    index_ = 1;
    if (rc != SQLITE_DONE) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    return true;
}

int64_t Insert::LastRowId() const {
    return sqlite3_last_insert_rowid(db_);
}

}  // namespace devsim
