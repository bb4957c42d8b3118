#include "data/MergeSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "data/DataTexts.h"
#include "data/SqlLiterals.h"
#include "engine/BackupEngine.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Handles.h"
#include "platform/Results.h"
#include "store/DatabaseGeneration.h"

namespace tolvane {
namespace {

constexpr uint64_t kMinCacheKiB = 2048;  // SQLite's own default
constexpr uint64_t kMaxCacheKiB = 32768;

void DeleteTemporaryCopy(const std::string& temp) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        const std::string path = temp + suffix;
        if (platform::PathExists(path)) {
            if (const int32_t r = platform::DeleteFile(path); r != 0) {
                std::printf("Could not delete the temporary copy '%s': %d\n", path.c_str(), r);
            }
        }
    }
}

bool OnlyBlanks(const char* from, const char* to) {
    return std::all_of(from, to, [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
    });
}

}  // namespace

void ReplaceCharWithText(std::string& s, char c, const std::string& text) {
    size_t at = s.find(c);
    if (at == std::string::npos) {
        return;
    }
    // The pieces between the characters are copied whole (memchr and memcpy), not byte by byte.
    std::string out;
    out.reserve(s.size() + (text.size() > 1 ? (text.size() - 1) * (s.size() - at) : 0));
    size_t from = 0;
    while (at != std::string::npos) {
        out.append(s, from, at - from);
        out += text;
        from = at + 1;
        at = s.find(c, from);
    }
    out.append(s, from, std::string::npos);
    s.swap(out);
}

void ExportQuotingToSql(std::string& s) {
    ReplaceCharWithText(s, '\'', "''");
    ReplaceCharWithText(s, '"', "'");
}

std::string MergeTemporaryPath(const char* fileName) {
    const std::string folder = platform::JoinPath(platform::AppDataFolder(), "Tolvane");
    // An existing folder answers "already exists"; any other failure shows up when the copy is
    // written into it.
    platform::CreateFolderWithParents(folder);
    return platform::JoinPath(folder, fileName);
}

int32_t ReadExportFile(BackupEngine& engine, const std::string& path, std::string& bytes) {
    // The export is only read, so it is opened read-only: a read-only file imports as well.
    int32_t openError = 0;
    const platform::UniqueFd fd(platform::OpenRegularFileForReading(path, &openError));
    if (fd.get() < 0) {
        return openError;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        return platform::LastSystemError();
    }
    if (!S_ISREG(st.st_mode)) {
        return platform::kErrorAccessDenied;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    if (size > kMaxExportBytes) {
        engine.SetLastErrorText(kImportFileTooLargeText);
        return platform::IMPORT_BAD_FILE;
    }
    bytes.resize(size);
    size_t got = 0;
    if (platform::ReadAll(fd.get(), bytes.data(), bytes.size(), got) != 0 || got != size) {
        bytes.clear();
        return platform::kResultShortRead;
    }
    return 0;
}

int32_t RunMerge(BackupEngine& engine, const std::string& targetDb, const std::string& exportPath,
                 const char* tempName, const MergeScan& scan) {
    const std::string temp = MergeTemporaryPath(tempName);
    int32_t result = platform::CopyFileReplace(targetDb, temp);
    if (result == 0) {
        sqlite3* raw = nullptr;
        // The copy exists now; READWRITE without CREATE never makes a new empty file. Only this
        // thread uses the connection, so it needs no mutex.
        const int rc = sqlite3_open_v2(temp.c_str(), &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        platform::SqlitePtr db(raw);
        if (rc != SQLITE_OK) {
            result = rc;
        } else {
            std::string bytes;
            result = ReadExportFile(engine, exportPath, bytes);
            if (result == 0) {
                result = scan(db.get(), bytes);
            }
        }
        // Closed here, before the copy goes back: a rolled-back transaction leaves the copy as it
        // was, a committed one leaves it whole.
    }
    if (result == 0) {
        result = platform::CopyFileReplace(temp, targetDb);
    }
    DeleteTemporaryCopy(temp);
    return result;
}

MergeConnection::MergeConnection(sqlite3* db) : db_(db) {
    // Installed once: changing the authorizer expires every prepared statement of the
    // connection, so it stays in place and only its mode changes per record.
    sqlite3_set_authorizer(db_, &MergeConnection::Authorize, this);
}

MergeConnection::~MergeConnection() {
    sqlite3_set_authorizer(db_, nullptr, nullptr);
}

void MergeConnection::Begin(uint64_t exportBytes) {
    // The copy is thrown away when the merge fails, so it needs no sync of its own. Statement
    // journals (the rows that triggers write) stay in memory instead of going through a file,
    // and the page cache grows with the export so that large merges do not keep writing pages
    // out and reading them back.
    // The settings stay with the connection: a later merge on it sets them again only when it
    // wants another cache size.
    const uint64_t cacheKiB = std::clamp<uint64_t>(exportBytes / 2048, kMinCacheKiB, kMaxCacheKiB);
    if (cacheKiB != settingsCacheKiB_) {
        const std::string pragmas =
            "PRAGMA synchronous=OFF; PRAGMA temp_store=MEMORY; PRAGMA cache_size=-" +
            std::to_string(cacheKiB) + ";";
        if (sqlite3_exec(db_, pragmas.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) {
            settingsCacheKiB_ = cacheKiB;
        }
    }
    inTransaction_ = sqlite3_exec(db_, "BEGIN;", nullptr, nullptr, nullptr) == SQLITE_OK;
}

int32_t MergeConnection::Commit() {
    if (!inTransaction_) {
        return 0;
    }
    inTransaction_ = false;
    const int rc = sqlite3_exec(db_, "COMMIT;", nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? 0 : (rc & 0xFF);
}

void MergeConnection::Rollback() {
    if (inTransaction_) {
        inTransaction_ = false;
        sqlite3_exec(db_, "ROLLBACK;", nullptr, nullptr, nullptr);
    }
}

platform::SqliteStmtPtr MergeConnection::Prepare(const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return nullptr;
    }
    return platform::SqliteStmtPtr(stmt);
}

MergeConnection::TableInsert& MergeConnection::InsertInto(const char* table) {
    auto it = inserts_.find(table);
    if (it != inserts_.end()) {
        return it->second;
    }
    TableInsert& insert = inserts_[table];
    const std::string quoted = "\"" + std::string(table) + "\"";
    const std::vector<std::string>& have = ColumnsOf(table);
    if (have.empty()) {
        return insert;
    }
    // The export's rows have the iOS 7 generation's columns; a newer phone's table has those and
    // more, which take their defaults.
    const std::vector<std::string_view>* exported = Ios7ColumnsOf(table);
    const bool byName =
        exported != nullptr && have.size() > exported->size() &&
        std::all_of(exported->begin(), exported->end(), [&](std::string_view column) {
            return std::find(have.begin(), have.end(), column) != have.end();
        });
    std::string sql = "INSERT INTO " + quoted;
    if (byName) {
        insert.columns = static_cast<int>(exported->size());
        sql += "(";
        for (size_t i = 0; i < exported->size(); ++i) {
            sql += (i > 0 ? ",\"" : "\"") + std::string((*exported)[i]) + "\"";
        }
        sql += ")";
    } else {
        insert.columns = static_cast<int>(have.size());
    }
    sql += " VALUES(";
    for (int i = 1; i <= insert.columns; ++i) {
        sql += (i > 1 ? ",?" : "?") + std::to_string(i);
    }
    sql += ");";
    insert.stmt = Prepare(sql.c_str());
    return insert;
}

const std::vector<std::string>& MergeConnection::ColumnsOf(const char* table) {
    const auto known = columns_.find(table);
    if (known != columns_.end()) {
        return known->second;
    }
    std::vector<std::string>& names = columns_[table];
    const std::string quoted = "\"" + std::string(table) + "\"";
    const platform::SqliteStmtPtr probe =
        Prepare(("SELECT * FROM " + quoted + " LIMIT 0;").c_str());
    if (probe != nullptr) {
        const int count = sqlite3_column_count(probe.get());
        for (int i = 0; i < count; ++i) {
            const char* name = sqlite3_column_name(probe.get(), i);
            names.emplace_back(name != nullptr ? name : "");
        }
    }
    return names;
}

RowOutcome MergeConnection::InsertRecord(std::string_view values, const char* table) {
    TableInsert& insert = InsertInto(table);
    if (insert.stmt == nullptr) {
        return RowOutcome::Refused;  // no such table, as the plain INSERT would have failed
    }
    // The usual row, plain literals only, is bound as read.
    if (ParseSqlLiterals(values, literals_) &&
        literals_.size() == static_cast<size_t>(insert.columns)) {
        sqlite3_stmt* stmt = insert.stmt.get();
        for (int i = 0; i < insert.columns; ++i) {
            const SqlLiteral& lit = literals_[static_cast<size_t>(i)];
            switch (lit.kind) {
                case SqlLiteral::Kind::Null:
                    sqlite3_bind_null(stmt, i + 1);
                    break;
                case SqlLiteral::Kind::Integer:
                    sqlite3_bind_int64(stmt, i + 1, lit.integer);
                    break;
                case SqlLiteral::Kind::Text:
                    sqlite3_bind_text(stmt, i + 1, lit.text.c_str(),
                                      static_cast<int>(lit.text.size()), SQLITE_STATIC);
                    break;
            }
        }
        const RowOutcome outcome = Run(stmt);
        sqlite3_clear_bindings(stmt);
        return outcome;
    }
    // Any other list is evaluated by a statement of its own, prepared under the authorizer so
    // that it can only yield literals, and bound into the prepared insert. This gives the row
    // the plain INSERT would give (column affinity applies to bound values alike) without
    // compiling the insert, its indexes and its triggers for every record.
    std::string sql;
    sql.reserve(values.size() + 10);
    sql += "VALUES(";
    sql += values;
    sql += ");";
    if (sql.size() > static_cast<size_t>(INT32_MAX)) {
        return RowOutcome::Refused;
    }
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    checkingValues_ = true;
    const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &raw, &tail);
    checkingValues_ = false;
    const platform::SqliteStmtPtr row(raw);
    if (rc != SQLITE_OK) {
        return Classify(sqlite3_extended_errcode(db_));
    }
    // Anything after the list (a second statement, a NUL byte) refuses the row.
    if (row == nullptr || tail == nullptr || !OnlyBlanks(tail, sql.data() + sql.size()) ||
        sqlite3_column_count(row.get()) != insert.columns) {
        return RowOutcome::Refused;
    }
    const int stepped = sqlite3_step(row.get());
    if (stepped != SQLITE_ROW) {
        return stepped == SQLITE_DONE ? RowOutcome::Refused
                                      : Classify(sqlite3_extended_errcode(db_));
    }
    for (int i = 0; i < insert.columns; ++i) {
        sqlite3_bind_value(insert.stmt.get(), i + 1, sqlite3_column_value(row.get(), i));
    }
    // One row only: a list of several rows is no record.
    if (sqlite3_step(row.get()) != SQLITE_DONE) {
        sqlite3_clear_bindings(insert.stmt.get());
        return RowOutcome::Refused;
    }
    const RowOutcome outcome = Run(insert.stmt.get());
    sqlite3_clear_bindings(insert.stmt.get());
    return outcome;
}

RowOutcome MergeConnection::Run(sqlite3_stmt* stmt) {
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW) {
        rc = sqlite3_step(stmt);
    }
    RowOutcome outcome = RowOutcome::Done;
    if (rc != SQLITE_DONE) {
        outcome = Classify(sqlite3_extended_errcode(db_));
    }
    sqlite3_reset(stmt);
    return outcome;
}

RowOutcome MergeConnection::StepOnce(sqlite3_stmt* stmt, bool& hasRow) {
    const int rc = sqlite3_step(stmt);
    hasRow = rc == SQLITE_ROW;
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
        return RowOutcome::Done;
    }
    return Classify(sqlite3_extended_errcode(db_));
}

RowOutcome MergeConnection::Classify(int rc) {
    const int primary = rc & 0xFF;
    const bool transactionLost = inTransaction_ && sqlite3_get_autocommit(db_) != 0;
    if (transactionLost || primary == SQLITE_FULL || primary == SQLITE_IOERR ||
        primary == SQLITE_NOMEM) {
        fatalCode_ = primary;
        inTransaction_ = false;
        return RowOutcome::Fatal;
    }
    // Older libraries said "PRIMARY KEY must be unique"; current ones name the conflict by its
    // extended code only ("UNIQUE constraint failed: message.ROWID").
    const char* message = sqlite3_errmsg(db_);
    if (rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_ROWID ||
        (message != nullptr && std::strstr(message, "PRIMARY KEY") != nullptr)) {
        return RowOutcome::AlreadyPresent;
    }
    return RowOutcome::Refused;
}

int MergeConnection::Authorize(void* self, int action, const char* /*arg1*/, const char* /*arg2*/,
                               const char* /*dbName*/, const char* trigger) {
    const auto* conn = static_cast<const MergeConnection*>(self);
    // The merge's own statements are not checked. A row of values from an export may be a
    // SELECT of literals and nothing else: no table or column read, no function call.
    if (!conn->checkingValues_) {
        return SQLITE_OK;
    }
    return action == SQLITE_SELECT && trigger == nullptr ? SQLITE_OK : SQLITE_DENY;
}

}  // namespace tolvane
