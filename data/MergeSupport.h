// What the message merge and the contact merge share: the frame that runs a merge on a temporary
// copy of the target database, the reading of the export, and the checked execution of the rows.
//
// A merge never writes the target database until it has succeeded: it copies the target to a
// temporary file, merges into the copy inside one transaction, and copies the result back only
// when the scan ended without error. The temporary file (and any journal of it) is deleted on
// every path.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/SqlLiterals.h"
#include "platform/Handles.h"

namespace tolvane {

class BackupEngine;

// The largest export file a merge reads (it is held in memory whole).
inline constexpr uint64_t kMaxExportBytes = 67108864;
// Errors in the first records of a file refuse the whole file; later ones skip the record.
inline constexpr int32_t kLayoutCheckRecords = 10;

// What became of the records of one merged export.
struct MergeTally {
    int32_t added = 0;
    int32_t alreadyPresent = 0;        // the ROWID (docid) is in the target already
    int32_t unknownCorrespondent = 0;  // messages only: the record's handle is not in the target
    int32_t unreadable = 0;            // records from the tenth on whose row was refused
    int32_t LeftOut() const { return alreadyPresent + unknownCorrespondent + unreadable; }
    int32_t Records() const { return added + LeftOut(); }
};

// Replaces, in place, every occurrence of `c` in `s` by `text` (of any length).
void ReplaceCharWithText(std::string& s, char c, const std::string& text);

// Turns the export's quoting into SQL quoting: every apostrophe doubled, then every double quote
// made an apostrophe, so the export's quoted texts become SQL string literals.
void ExportQuotingToSql(std::string& s);

// The temporary copy's path for `fileName`: the application-data folder + "/Tolvane/" +
// fileName. The folder is created with its parents.
std::string MergeTemporaryPath(const char* fileName);

// Reads the whole export file into `bytes`. 0, a system error code, 1006 with the engine's last
// error text set when the file is larger than kMaxExportBytes, or 30 for a short read.
int32_t ReadExportFile(BackupEngine& engine, const std::string& path, std::string& bytes);

// Runs a merge: copies `targetDb` to the temporary file `tempName`, opens the copy, reads the
// export, calls `scan` on the open copy and the export's bytes, and copies the copy back over the
// target when everything returned 0. The temporary file is deleted in every case.
using MergeScan = std::function<int32_t(sqlite3* db, std::string_view exportBytes)>;
int32_t RunMerge(BackupEngine& engine, const std::string& targetDb, const std::string& exportPath,
                 const char* tempName, const MergeScan& scan);

// What became of one statement of a merge.
enum class RowOutcome {
    Done,            // the statement ran
    AlreadyPresent,  // a primary key conflict: the row is there already
    Refused,         // any other failure of the statement (the row's layout is wrong)
    Fatal,           // the database itself failed (disk full, I/O error, lost transaction)
};

// The temporary copy during a scan. Rows built from export text go in through InsertRecord, which
// inserts exactly one row into one named table: export text can neither add a second statement
// nor read or change other rows.
// A statement of the merge's own, prepared the first time a record needs it: an export whose
// records never reach it (none at all, or none the target takes) costs no compilation of it.
class LazyStatement {
  public:
    explicit LazyStatement(std::function<platform::SqliteStmtPtr()> prepare)
        : prepare_(std::move(prepare)) {}
    // The statement, or null when it cannot be prepared (asked once).
    sqlite3_stmt* Get() {
        if (!tried_) {
            tried_ = true;
            stmt_ = prepare_();
        }
        return stmt_.get();
    }

  private:
    std::function<platform::SqliteStmtPtr()> prepare_;
    platform::SqliteStmtPtr stmt_;
    bool tried_ = false;
};

class MergeConnection {
  public:
    explicit MergeConnection(sqlite3* db);
    ~MergeConnection();
    MergeConnection(const MergeConnection&) = delete;
    MergeConnection& operator=(const MergeConnection&) = delete;

    // Opens the one transaction of the merge, so the copy pays one disk sync instead of one per
    // row. When it cannot be opened the statements run on their own, as they would without it.
    // The export's size sizes the page cache.
    void Begin(uint64_t exportBytes);
    // Commits the transaction: 0 or the database library's code.
    int32_t Commit();
    // Rolls the transaction of a failed merge back, so that the connection can take another
    // merge (closing the connection would do the same).
    void Rollback();

    // A statement of the merge's own making (values bound later); null when it cannot be
    // prepared, for instance when the table is missing.
    platform::SqliteStmtPtr Prepare(const char* sql);

    // Inserts the row whose values are `values`, a comma-separated list of SQL literals built from
    // an export record, into `table`: the same row that "INSERT INTO table VALUES(values);" would
    // insert. Anything but one row of plain values (a second statement, a subquery, a function
    // call, a clause after the list) refuses the row.
    //
    // A table of a newer phone has more columns than the export's rows: when the table has every
    // column the iOS 7 generation's table has (`Ios7ColumnsOf`), a row of that many values goes
    // into those columns by name and the newer columns take their declared defaults.
    RowOutcome InsertRecord(std::string_view values, const char* table);

    // The columns of `table` on this connection, in order; empty when there is no such table.
    // Read once per table: nothing a merge runs changes the schema.
    const std::vector<std::string>& ColumnsOf(const char* table);

    // Steps a prepared statement to its end and resets it.
    RowOutcome Run(sqlite3_stmt* stmt);

    // Steps a query once: Done with `hasRow` telling whether a row came (its columns can be read
    // until the caller resets the statement), or the failure.
    RowOutcome StepOnce(sqlite3_stmt* stmt, bool& hasRow);

    // The database library's code behind the last Fatal outcome.
    int32_t FatalCode() const { return fatalCode_; }

  private:
    static int Authorize(void* self, int action, const char* arg1, const char* arg2,
                         const char* dbName, const char* trigger);
    RowOutcome Classify(int rc);

    struct TableInsert {
        platform::SqliteStmtPtr stmt;  // INSERT INTO table VALUES(?1,...,?n); null: no table
        int columns = 0;
    };
    TableInsert& InsertInto(const char* table);

    sqlite3* db_;
    bool checkingValues_ = false;  // while set, only a row of plain values may be prepared
    std::map<std::string, TableInsert> inserts_;
    std::map<std::string, std::vector<std::string>> columns_;
    std::vector<SqlLiteral> literals_;  // the values of the row being inserted
    bool inTransaction_ = false;
    uint64_t settingsCacheKiB_ = 0;  // the cache size Begin last set (0: none set yet)
    int32_t fatalCode_ = 0;
};

}  // namespace tolvane
