// Adding the records of a message export (sms.csv) to a backup's message database.
#pragma once

#include "data/MergeSupport.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

class BackupEngine;

// Merges the export at `exportPath` into the message database `targetDb`. Returns 0, a system
// error code, the database library's code, 30 for a short read, or 1006 with the engine's last
// error text set when the file is refused. On any failure `targetDb` is left as it was.
// When `tally` is given it receives what became of the records (meaningful on success).
int32_t MergeMessages(BackupEngine& engine, const std::string& targetDb,
                      const std::string& exportPath, MergeTally* tally = nullptr);

// The scan of MergeMessages on an open database: merges every record of `exportBytes` into `db`
// inside one transaction. 0, 1006 with the engine's last error text set when the file is
// refused, or the database library's code when the database itself failed.
int32_t MergeMessageExport(BackupEngine& engine, sqlite3* db, std::string_view exportBytes,
                           MergeTally* tally = nullptr);

// Message merges into one open database whose statements are prepared when a record first needs
// them and kept for the next merge (compiling them costs more than a small export). The
// statements follow the database's schema and the unit of its dates as found by the first merge
// that needed them: meant for merges into one database that nothing else reshapes. A merge that
// fails is rolled back before the next one.
class MessageExportMerger {
  public:
    explicit MessageExportMerger(sqlite3* db);
    MessageExportMerger(const MessageExportMerger&) = delete;
    MessageExportMerger& operator=(const MessageExportMerger&) = delete;

    // MergeMessageExport on this merger's database.
    int32_t Merge(BackupEngine& engine, std::string_view exportBytes, MergeTally* tally = nullptr);

  private:
    sqlite3* db_;
    MergeConnection conn_;
    LazyStatement handleQuery_;
    LazyStatement completion_;
    LazyStatement chatQuery_;
    LazyStatement joinInsert_;
};

}  // namespace tolvane
