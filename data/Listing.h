// The messages and contacts of a backup, read straight from its database files, one line of text
// per item, for the restore tab's counts and the viewer.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvane {

class BackupEngine;

// Lists the messages of the backup in `backupFolder` (a path as the file system names it),
// newest first by date (seconds from 2001, or nanoseconds as from iOS 11), ROWID breaking ties.
// `itunes` is set for a backup
// of the other program (database files directly in the folder under their hashed names); with a
// `password` (not empty) such a backup is decrypted first (DecryptBackup) and the plain database
// it leaves is read, once per call. Own backups are never decrypted. Returns 0, 2 when the
// database file does not exist, the database library's code when it cannot be opened, the
// decryption's code, or 1006 with the engine's last error text set when it cannot be read (for an
// encrypted iTunes backup listed without its password, the text says that it needs one). `out`
// is replaced only on success. The Failure behind a non-zero result is noted in the engine.
int32_t ListMessages(std::vector<std::wstring>& out, const std::string& backupFolder,
                     BackupEngine& engine, const char* password, bool itunes);

// Lists the contacts of a backup by first name: first name, last name and the person's first
// phone number (ContactFirstPhone).
int32_t ListContacts(std::vector<std::wstring>& out, const std::string& backupFolder,
                     BackupEngine& engine, const char* password, bool itunes);

// The number of lines ListMessages / ListContacts would give, without building them: 0 and the
// listing's result when it fails.
int32_t CountMessages(int& count, const std::string& backupFolder, BackupEngine& engine,
                      const char* password, bool itunes);
int32_t CountContacts(int& count, const std::string& backupFolder, BackupEngine& engine,
                      const char* password, bool itunes);

// One message with what tells its conversation, for the viewer.
struct MessageDetail {
    enum Direction : int { kUnknown = 0, kReceived = 1, kSent = 2 };
    std::wstring text;
    int64_t unixTime = INT64_MIN;  // seconds since 1970 UTC; INT64_MIN when the row has no date
    Direction direction = kUnknown;
    std::wstring correspondent;  // the handle's address (a phone number or a mail address)
};

// The messages of ListMessages, in its order and with the same rows, each with its date,
// direction and correspondent (where the database has no handle table: the text alone).
int32_t ListMessageDetails(std::vector<MessageDetail>& out, const std::string& backupFolder,
                           BackupEngine& engine, const char* password, bool itunes);

// One contact with every phone number of the person as stored.
struct ContactDetail {
    std::wstring name;  // first and last name
    std::vector<std::wstring> phones;
};

// The contacts of ListContacts, in its order and with the same rows, each with all its phone
// numbers whole (without multi-value rows: the one number the plain listing shows).
int32_t ListContactDetails(std::vector<ContactDetail>& out, const std::string& backupFolder,
                           BackupEngine& engine, const char* password, bool itunes);

// The phone part of a contact line: the search table's phone column cut at its first blank when
// that stands at position 4 or later, else at its second blank if there is one; whole otherwise.
std::string_view ContactPhonePart(std::string_view phone);

// The phone number of a contact line: the person's first phone number as stored
// (`firstNumber`, from the multi-value rows; empty when there is none) when the search table's
// phone column begins with it as a whole (or is empty), since a number stored with blanks cannot
// be cut from the column; otherwise ContactPhonePart of the column.
std::string_view ContactFirstPhone(std::string_view searchPhones, std::string_view firstNumber);

}  // namespace tolvane
