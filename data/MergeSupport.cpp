#include "data/MergeSupport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "data/DataTexts.h"
#include "engine/BackupEngine.h"
#include "engine/Results.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Folders.h"

namespace tolvane {
namespace {

constexpr size_t kReadChunk = 65536;

class ExportFd {
  public:
    explicit ExportFd(int fd) : fd_(fd) {}
    ~ExportFd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    ExportFd(const ExportFd&) = delete;
    ExportFd& operator=(const ExportFd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

void DeleteTemporaryCopy(const std::string& temp) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        const std::string path = temp + suffix;
        if (platform::PathExists(path)) {
            platform::DeleteFile(path);
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
    const size_t count = static_cast<size_t>(std::count(s.begin(), s.end(), c));
    if (count == 0) {
        return;
    }
    std::string out;
    out.reserve(s.size() - count + count * text.size());
    for (const char ch : s) {
        if (ch == c) {
            out += text;
        } else {
            out += ch;
        }
    }
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
    const ExportFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return platform::LastSystemError();
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
        return IMPORT_BAD_FILE;
    }
    bytes.resize(size);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd.get(), bytes.data() + done, std::min(kReadChunk, size - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            bytes.clear();
            return kResultShortRead;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

int32_t RunMerge(BackupEngine& engine, const std::string& targetDb, const std::string& exportPath,
                 const char* tempName, const MergeScan& scan) {
    const std::string temp = MergeTemporaryPath(tempName);
    int32_t result = platform::CopyFileReplace(targetDb, temp);
    if (result == 0) {
        sqlite3* raw = nullptr;
        // The copy exists now; READWRITE without CREATE never makes a new empty file.
        const int rc = sqlite3_open_v2(temp.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
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

void MergeConnection::Begin() {
    // The copy is thrown away when the merge fails, so it needs no sync of its own.
    sqlite3_exec(db_, "PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
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

platform::SqliteStmtPtr MergeConnection::Prepare(const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return nullptr;
    }
    return platform::SqliteStmtPtr(stmt);
}

RowOutcome MergeConnection::InsertRecord(std::string_view sql, const char* table) {
    if (sql.size() > static_cast<size_t>(INT32_MAX)) {
        return RowOutcome::Refused;
    }
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    insertOnlyTable_ = table;
    const int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &raw, &tail);
    insertOnlyTable_ = nullptr;
    const platform::SqliteStmtPtr stmt(raw);
    if (rc != SQLITE_OK) {
        return Classify(sqlite3_extended_errcode(db_));
    }
    // Anything after the first statement (a second statement, a NUL byte) refuses the row.
    if (stmt == nullptr || tail == nullptr || !OnlyBlanks(tail, sql.data() + sql.size())) {
        return RowOutcome::Refused;
    }
    return Run(stmt.get());
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

int MergeConnection::Authorize(void* self, int action, const char* arg1, const char* /*arg2*/,
                               const char* dbName, const char* trigger) {
    const auto* conn = static_cast<const MergeConnection*>(self);
    // The merge's own statements, and what the table's own triggers do, are not checked.
    if (conn->insertOnlyTable_ == nullptr || trigger != nullptr) {
        return SQLITE_OK;
    }
    if (action == SQLITE_INSERT && arg1 != nullptr &&
        sqlite3_stricmp(arg1, conn->insertOnlyTable_) == 0 && dbName != nullptr &&
        std::strcmp(dbName, "main") == 0) {
        return SQLITE_OK;
    }
    return SQLITE_DENY;
}

}  // namespace tolvane
