#include "data/DatabaseCheck.h"

#include <sqlite3.h>

#include <initializer_list>
#include <string_view>

#include "data/DataTexts.h"
#include "data/DatabaseFiles.h"
#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Results.h"

namespace tolvane {
namespace {

bool PassesQuickCheck(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA quick_check;", -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return false;
    }
    const platform::SqliteStmtPtr owned(stmt);
    if (sqlite3_step(stmt) != SQLITE_ROW) {
        return false;
    }
    const unsigned char* first = sqlite3_column_text(stmt, 0);
    // "ok" alone means no problem was found; otherwise each row names one.
    return first != nullptr && std::string_view(reinterpret_cast<const char*>(first)) == "ok" &&
           sqlite3_step(stmt) == SQLITE_DONE;
}

int32_t CheckTables(BackupEngine& engine, const std::string& dbPath,
                    std::initializer_list<const char*> tables, const char* errorText) {
    // Read-only and unchanging: a check must not create a missing file, roll back someone's
    // journal or leave WAL files beside the file it looks at.
    // Only a regular file can be a database: a FIFO or a device is refused as no database of
    // the kind (the library would wait on the FIFO for a writer).
    if (platform::PathExists(dbPath) && !platform::FileExists(dbPath)) {
        engine.SetLastErrorText(errorText);
        return platform::IMPORT_BAD_FILE;
    }
    platform::SqlitePtr db;
    const int rc = OpenUnchangingDatabase(dbPath, db);
    if (rc != SQLITE_OK) {
        return rc;
    }
    // A file with damaged pages may still give the first row of every table; put on the phone it
    // would be a malformed database in place of its messages or contacts. The library's quick
    // check reads every page of every table and index.
    if (!PassesQuickCheck(db.get())) {
        engine.SetLastErrorText(errorText);
        return platform::IMPORT_BAD_FILE;
    }
    for (const char* table : tables) {
        const std::string sql = std::string("select * from ") + table + ";";
        sqlite3_stmt* stmt = nullptr;
        const bool prepared =
            sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK;
        const platform::SqliteStmtPtr owned(stmt);
        if (!prepared || owned == nullptr || sqlite3_step(owned.get()) != SQLITE_ROW) {
            engine.SetLastErrorText(errorText);
            return platform::IMPORT_BAD_FILE;
        }
    }
    return 0;
}

// Whether the file is a sound contacts database (its three tables there, the quick check
// passed) whose table of people is empty.
bool HoldsNoPeople(const std::string& dbPath) {
    platform::SqlitePtr db;
    if (OpenUnchangingDatabase(dbPath, db) != SQLITE_OK || !PassesQuickCheck(db.get())) {
        return false;
    }
    for (const char* table : {"ABMultiValue", "ABPersonFullTextSearch_content"}) {
        const std::string sql = std::string("select * from ") + table + " limit 0;";
        sqlite3_stmt* stmt = nullptr;
        const bool prepared =
            sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK;
        const platform::SqliteStmtPtr owned(stmt);
        if (!prepared) {
            return false;
        }
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db.get(), "select 1 from ABPerson limit 1;", -1, &stmt, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(stmt);
        return false;
    }
    const platform::SqliteStmtPtr owned(stmt);
    return sqlite3_step(stmt) == SQLITE_DONE;
}

}  // namespace

int32_t CheckMessageDatabase(BackupEngine& engine, const std::string& dbPath) {
    return CheckTables(engine, dbPath,
                       {"chat", "chat_handle_join", "chat_message_join", "handle", "message"},
                       kInvalidSmsFileText);
}

int32_t CheckContactDatabase(BackupEngine& engine, const std::string& dbPath) {
    const int32_t result =
        CheckTables(engine, dbPath, {"ABMultiValue", "ABPerson", "ABPersonFullTextSearch_content"},
                    kInvalidContactsFileText);
    // A sound contacts database without a single person is no invalid file, but replacing the
    // phone's contacts with it would delete them all; the refusal says so.
    if (result == platform::IMPORT_BAD_FILE && HoldsNoPeople(dbPath)) {
        engine.SetLastErrorText(kEmptyContactsDatabaseText);
    }
    return result;
}

}  // namespace tolvane
