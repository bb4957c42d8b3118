// Turning the records of a contact export (contacts.csv) into contacts of a backup's contacts
// database: a search table row, a person row and one or two multi-value rows each.
#pragma once

#include "data/MergeSupport.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace tolvane {

class BackupEngine;

// Merges the export at `exportPath` into the contacts database `targetDb`. Results as for
// MergeMessages; on any failure `targetDb` is left as it was.
int32_t MergeContacts(BackupEngine& engine, const std::string& targetDb,
                      const std::string& exportPath, MergeTally* tally = nullptr);

// The scan of MergeContacts on an open database: merges every record of `exportBytes` into `db`
// inside one transaction. 0, 1006 with the engine's last error text set when the file is
// refused, or the database library's code when the database itself failed.
int32_t MergeContactExport(BackupEngine& engine, sqlite3* db, std::string_view exportBytes,
                           MergeTally* tally = nullptr);

// Contact merges into one open database, its statements prepared when a record first needs them
// and kept for the next merge (as MessageExportMerger: for one database that nothing else
// reshapes; a merge that fails is rolled back before the next one).
class ContactExportMerger {
  public:
    explicit ContactExportMerger(sqlite3* db);
    ContactExportMerger(const ContactExportMerger&) = delete;
    ContactExportMerger& operator=(const ContactExportMerger&) = delete;

    // MergeContactExport on this merger's database.
    int32_t Merge(BackupEngine& engine, std::string_view exportBytes, MergeTally* tally = nullptr);

  private:
    MergeConnection conn_;
    LazyStatement maxUid_;
    LazyStatement phoneInsert_;
    LazyStatement extraInsert_;
};

}  // namespace tolvane
