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

}  // namespace tolvane
