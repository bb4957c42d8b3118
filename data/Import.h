// Putting messages and contacts onto the phone. The phone is never edited directly: the import
// takes a whole backup of it into the work backup, changes the message and/or contacts database
// there (merging an export, or replacing the database with a file taken from a phone), limits the
// backup's manifest to what a restore of those databases needs and restores the work backup.
//
// Every given file is checked before the phone is touched, and each import takes a new backup of
// the phone, shared only by its two categories: a work backup kept from an earlier import lacks
// what reached the phone since. The work backup stays on disk after an import, marked ready in
// the engine; a backup or restore run that uses the work backup for its own purposes clears the
// mark. The import reaches the work backup only through the engine's operations
// (EnterWorkBackup, WorkingBackupReady, MarkWorkingBackupReady, PutWorkBackupManifestBack).
#pragma once

#include "data/MergeSupport.h"

#include <cstdint>
#include <string_view>

#include "store/DataCategory.h"

namespace tolvane {

class BackupEngine;

// What became of the records of the exports an import merged.
struct ImportReport {
    bool smsMerged = false;
    MergeTally sms;
    bool contactsMerged = false;
    MergeTally contacts;
};

// A path naming an export (sms.csv, contacts.csv) rather than a database file: one that contains
// ".csv" anywhere, in that case.
bool IsExportPath(std::string_view path);

// Imports the message file `smsPath` when `categories` holds Sms and the contacts file
// `contactsPath` when it holds Contacts (either path is ignored otherwise), then restores the
// work backup to the phone with those categories. `password` is the phone's backup password when
// it encrypts its backups. The engine's progress callback sees the backup (is-backup phase 1) and
// then the restore (phase 0).
//
// Returns 0, or the code of the first step that failed: the merge's or the database check's
// (1006 with the last error text set for a file that cannot be used), 87 for a phone that
// encrypts its backups when no password is given, a missing path, or no category at all, the
// codes of the unlock, the backup, the manifest preparation and the restore, or the progress
// callback's stop value. When the first category fails, the second is not imported and nothing
// is restored. Whatever the restore gave, the work backup's whole manifest is put back.
//
// An export of which no record can be read (an empty file, lines ended by LF alone, bytes that
// are no export, a last record without its CR LF) is refused with 1006 and the file's message
// before the phone is touched. `report`, when given, receives what became of the records of
// each merged export.
int32_t ImportData(BackupEngine& engine, const char* smsPath, const char* contactsPath,
                   const char* password, uint32_t categories, ImportReport* report = nullptr);

// Refuses an export of which no record can be read: 0, the codes of reading it (a system error
// code, 30, 1006 for a file that is too large), or 1006 with the last error text set to the
// category's invalid-file message.
int32_t CheckExportHasRecords(BackupEngine& engine, const char* path, DataCategory category);

// The line that tells the user what an import did with the records of its exports, such as
// "messages: 12 added, 3 left out (2 already present, 1 with an unknown correspondent)";
// empty when no export was merged.
std::string DescribeImport(const ImportReport& report);

// One category (Sms or Contacts) from an export: the work backup is taken if it is not ready,
// then the export is merged into its database. 0 or the first failing step's code.
int32_t ImportFromExport(const char* password, BackupEngine& engine, const char* path,
                         DataCategory category, MergeTally* tally = nullptr);

// One category from a database file: the file is checked before anything else happens, the work
// backup is taken if it is not ready, then the file replaces its database. 0 or the first failing
// step's code (a failed copy gives the system error code).
int32_t ImportFromDatabase(const char* password, BackupEngine& engine, const char* path,
                           DataCategory category);

// Takes a fresh work backup of the phone: removes the phone's backup password first when it
// encrypts its backups (87 without a password), empties the work backup, then backs the phone
// up into it. 0 or the failing step's code.
int32_t PrepareImportBackup(BackupEngine& engine, const char* password);

}  // namespace tolvane
