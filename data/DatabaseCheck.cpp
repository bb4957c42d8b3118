#include "data/DatabaseCheck.h"

#include <sqlite3.h>

#include <initializer_list>
#include <string_view>

#include "data/DataTexts.h"
#include "data/DatabaseFiles.h"
#include "engine/BackupEngine.h"
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

}  // namespace

int32_t CheckMessageDatabase(BackupEngine& engine, const std::string& dbPath) {
    return CheckTables(engine, dbPath,
                       {"chat", "chat_handle_join", "chat_message_join", "handle", "message"},
                       kInvalidSmsFileText);
}

int32_t CheckContactDatabase(BackupEngine& engine, const std::string& dbPath) {
    return CheckTables(engine, dbPath,
                       {"ABMultiValue", "ABPerson", "ABPersonFullTextSearch_content"},
                       kInvalidContactsFileText);
}

}  // namespace tolvane
