#include "data/Listing.h"

#include <sqlite3.h>

#include <initializer_list>
#include <string_view>

#include "data/DataTexts.h"
#include "data/DatabaseFiles.h"
#include "engine/BackupEngine.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/OperationLock.h"
#include "platform/Results.h"
#include "platform/Strings.h"
#include "store/Catalogue.h"
#include "store/DataCategory.h"
#include "store/EncryptedBackup.h"

namespace tolvane {
namespace {

struct DatabaseKind {
    const char* hashedName;  // in a device folder or an iTunes backup
    const char* copyName;    // in an own category backup
    // Tried in order; the first that the database can prepare is run.
    std::initializer_list<const char*> queries;
    const char* failureText;
};

// Newest first by the message's date, ROWID breaking ties: imported and synced messages have
// ROWIDs out of date order. A phone counts seconds from 2001, from iOS 11 on nanoseconds; both
// are brought to nanoseconds so a database holding both kinds still sorts by the moment.
constexpr char kMessageQuery[] =
    "select text from message ORDER BY "
    "CASE WHEN abs(date) < 100000000000 THEN date * 1000000000 ELSE date END DESC, ROWID DESC;";

// The search table's phone column holds several forms of each number separated by blanks, so
// where a number is stored with blanks its end cannot be told from the column alone; the
// person's first phone multi-value row (property 3) holds it as stored. Without a multi-value
// table the column alone is read.
constexpr char kContactQuery[] =
    "select c0first,c1Last,c15phone,"
    "(select value from ABMultiValue where record_id = docid and property = 3 "
    "order by identifier, UID limit 1) FROM ABPersonFullTextSearch_content ORDER BY c0first;";
constexpr char kContactSearchOnlyQuery[] =
    "select c0first,c1Last,c15phone FROM ABPersonFullTextSearch_content ORDER BY c0first;";
// A phone of the iOS 5 generation has no full-text search table: its person rows are read.
constexpr char kContactPersonQuery[] =
    "select First,Last,NULL,"
    "(select value from ABMultiValue where record_id = ABPerson.ROWID and property = 3 "
    "order by identifier, UID limit 1) FROM ABPerson ORDER BY First;";

const DatabaseKind kMessages{kSmsDatabaseName, kSmsCopyName, {kMessageQuery}, kListSmsFailedText};
const DatabaseKind kContacts{kContactsDatabaseName,
                             kContactsCopyName,
                             {kContactQuery, kContactSearchOnlyQuery, kContactPersonQuery},
                             kListContactsFailedText};

int32_t FindDatabaseFile(const std::string& folder, const char* password, bool itunes,
                         const DatabaseKind& kind, std::string& path, platform::Failure& what) {
    if (itunes) {
        if (password != nullptr && *password != '\0') {
            // An encrypted backup is read from the plain databases the decryption leaves.
            std::string decrypted;
            const int32_t r = DecryptBackup(password, folder, decrypted);
            if (r != 0) {
                what = DecryptionFailure(r);
                return r;
            }
            path = platform::JoinPath(decrypted, kind.hashedName);
            return 0;
        }
        path = platform::JoinPath(folder, kind.hashedName);
        return 0;
    }
    // An own full backup keeps the device's backup in a folder named by the device identifier.
    std::vector<std::string> deviceFolders;
    ListDeviceFolderNames(folder, deviceFolders);
    if (!deviceFolders.empty()) {
        path = platform::JoinPath(platform::JoinPath(folder, deviceFolders[0]), kind.hashedName);
    } else {
        path = platform::JoinPath(folder, kind.copyName);
    }
    return 0;
}

// The database of an iTunes backup whose manifest carries a key bag, and that is not a plain
// database file: its contents are encrypted and need the backup's password.
bool IsEncryptedItunesDatabase(const std::string& folder, const std::string& path) {
    std::string manifest;
    constexpr uint64_t kMaxManifestBytes = 64ull << 20;
    if (platform::ReadWholeFile(platform::JoinPath(folder, "Manifest.plist"), manifest,
                                kMaxManifestBytes) != 0) {
        return false;
    }
    // The key's name is stored as text in XML and binary property lists alike.
    return manifest.find("BackupKeyBag") != std::string::npos && IsEncryptedDatabase(path);
}

// Device texts are UTF-8; a text that is not keeps its readable part rather than vanishing.
std::wstring DecodeDeviceText(std::string_view text) {
    std::wstring wide = platform::Utf8ToWide(text);
    if (wide.empty() && !text.empty()) {
        wide = platform::AnsiToWide(text);
    }
    return wide;
}

std::string_view ColumnText(sqlite3_stmt* stmt, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    if (text == nullptr) {
        return {};
    }
    return {text, static_cast<size_t>(sqlite3_column_bytes(stmt, column))};
}

void AddMessageLine(sqlite3_stmt* stmt, std::vector<std::wstring>& lines) {
    const std::string_view text = ColumnText(stmt, 0);
    if (!text.empty()) {
        lines.push_back(DecodeDeviceText(text));
    }
}

void AddContactLine(sqlite3_stmt* stmt, std::vector<std::wstring>& lines) {
    std::wstring line;
    const std::string_view first = ColumnText(stmt, 0);
    const std::string_view last = ColumnText(stmt, 1);
    const std::string_view phone = ContactFirstPhone(
        ColumnText(stmt, 2), sqlite3_column_count(stmt) > 3 ? ColumnText(stmt, 3) : "");
    if (!first.empty()) {
        line += DecodeDeviceText(first);
    }
    if (!last.empty()) {
        line += L' ';
        line += DecodeDeviceText(last);
    }
    if (!phone.empty()) {
        line += L' ';
        line += DecodeDeviceText(phone);
    }
    if (!line.empty()) {
        lines.push_back(std::move(line));
    }
}

int32_t List(std::vector<std::wstring>& out, const std::string& backupFolder, BackupEngine& engine,
             const char* password, bool itunes, const DatabaseKind& kind,
             void (*addLine)(sqlite3_stmt*, std::vector<std::wstring>&)) {
    // The decryption tool's folders and the database copies are shared by every operation.
    const platform::OperationLock lock;
    if (lock.GaveUp()) {
        return engine.NoteFailure(platform::kResultCancelled, platform::Failure::Cancelled);
    }
    std::string path;
    platform::Failure what = platform::Failure::None;
    // The plain copies a decryption leaves go when the listing ends, on every path.
    struct DiscardAtEnd {
        bool decrypts;
        ~DiscardAtEnd() {
            if (decrypts) {
                DiscardDecryptedOutput();
            }
        }
    } discard{itunes && password != nullptr && *password != '\0'};
    int32_t result = FindDatabaseFile(backupFolder, password, itunes, kind, path, what);
    if (result != 0) {
        return engine.NoteFailure(result, what);
    }
    if (!platform::FileExists(path)) {
        return engine.NoteFailure(platform::kErrorFileNotFound, platform::Failure::MissingDatabase);
    }
    // Listing reads a backup; it must never change it, nor leave a "-wal" or "-shm" file of a
    // phone's WAL database in its folder, and it must work on a read-only folder.
    platform::SqlitePtr db;
    const int rc = OpenUnchangingDatabase(path, db);
    if (rc != SQLITE_OK) {
        return rc;
    }
    std::vector<std::wstring> lines;
    sqlite3_stmt* stmt = nullptr;
    bool ok = false;
    for (const char* sql : kind.queries) {
        ok = sqlite3_prepare_v2(db.get(), sql, -1, &stmt, nullptr) == SQLITE_OK;
        if (ok) {
            break;
        }
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
    const platform::SqliteStmtPtr query(stmt);
    if (ok) {
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(query.get())) == SQLITE_ROW) {
            addLine(query.get(), lines);
        }
        ok = step == SQLITE_DONE;
    }
    if (!ok) {
        // An encrypted backup read without its password is not an invalid file: say what it
        // needs. The code stays 1006.
        const bool noPassword = password == nullptr || *password == '\0';
        engine.SetLastErrorText(itunes && noPassword &&
                                        IsEncryptedItunesDatabase(backupFolder, path)
                                    ? kListEncryptedBackupText
                                    : kind.failureText);
        return engine.NoteFailure(platform::IMPORT_BAD_FILE, platform::Failure::UnusableDatabase);
    }
    out.swap(lines);
    return 0;
}

}  // namespace

std::string_view ContactPhonePart(std::string_view phone) {
    const size_t first = phone.find(' ');
    if (first == std::string_view::npos) {
        return phone;
    }
    if (first >= 4) {
        return phone.substr(0, first);
    }
    const size_t second = phone.find(' ', first + 1);
    return second == std::string_view::npos ? phone : phone.substr(0, second);
}

std::string_view ContactFirstPhone(std::string_view searchPhones, std::string_view firstNumber) {
    if (!firstNumber.empty() &&
        (searchPhones.empty() ||
         (searchPhones.starts_with(firstNumber) && (searchPhones.size() == firstNumber.size() ||
                                                    searchPhones[firstNumber.size()] == ' ')))) {
        return firstNumber;
    }
    return ContactPhonePart(searchPhones);
}

int32_t ListMessages(std::vector<std::wstring>& out, const std::string& backupFolder,
                     BackupEngine& engine, const char* password, bool itunes) {
    return List(out, backupFolder, engine, password, itunes, kMessages, AddMessageLine);
}

int32_t ListContacts(std::vector<std::wstring>& out, const std::string& backupFolder,
                     BackupEngine& engine, const char* password, bool itunes) {
    return List(out, backupFolder, engine, password, itunes, kContacts, AddContactLine);
}

}  // namespace tolvane
