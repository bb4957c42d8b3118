#include "data/Listing.h"

#include <sqlite3.h>

#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

#include "data/AttributedBody.h"
#include "data/DataTexts.h"
#include "data/DatabaseFiles.h"
#include "engine/BackupEngine.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Results.h"
#include "platform/Strings.h"
#include "store/BackupFormat.h"
#include "store/Catalogue.h"
#include "store/DataCategory.h"
#include "store/EncryptedBackup.h"

namespace tolvane {
namespace {

struct DatabaseKind {
    DataCategory category;
    const char* copyName;  // in an own category backup
    // Tried in order; the first that the database can prepare is run.
    std::initializer_list<const char*> queries;
    const char* failureText;
};

// Newest first by the message's date, ROWID breaking ties: imported and synced messages have
// ROWIDs out of date order. A phone counts seconds from 2001, from iOS 11 on nanoseconds; both
// are brought to nanoseconds so a database holding both kinds still sorts by the moment.
// From iOS 16 on many messages have no `text`; their words are only in `attributedBody`, which
// is read only for those. A database without `attributedBody` is listed by its text alone.
#define TOLVANE_MESSAGE_ORDER \
    " from message ORDER BY " \
    "CASE WHEN abs(date) < 100000000000 THEN date * 1000000000 ELSE date END DESC, ROWID DESC;"
constexpr char kMessageQuery[] =
    "select text, CASE WHEN text IS NULL OR text = '' THEN attributedBody "
    "END" TOLVANE_MESSAGE_ORDER;
constexpr char kMessageTextQuery[] = "select text" TOLVANE_MESSAGE_ORDER;
#undef TOLVANE_MESSAGE_ORDER

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

const DatabaseKind kMessages{
    Sms, kSmsCopyName, {kMessageQuery, kMessageTextQuery}, kListSmsFailedText};
const DatabaseKind kContacts{Contacts,
                             kContactsCopyName,
                             {kContactQuery, kContactSearchOnlyQuery, kContactPersonQuery},
                             kListContactsFailedText};

// The same messages in the same order, with what tells the conversation: the moment, the
// direction and the handle's address, and the attributed body where the text is empty. Without a
// handle table or an attributedBody column less is known.
#define TOLVANE_DETAIL_ORDER                                                               \
    " ORDER BY CASE WHEN abs(message.date) < 100000000000 THEN message.date * 1000000000 " \
    "ELSE message.date END DESC, message.ROWID DESC;"
constexpr char kMessageDetailQuery[] =
    "select message.text, message.date, message.is_from_me, handle.id, "
    "CASE WHEN message.text IS NULL OR message.text = '' THEN message.attributedBody END "
    "from message LEFT JOIN handle ON handle.ROWID = message.handle_id" TOLVANE_DETAIL_ORDER;
constexpr char kMessageDetailNoBodyQuery[] =
    "select message.text, message.date, message.is_from_me, handle.id, NULL "
    "from message LEFT JOIN handle ON handle.ROWID = message.handle_id" TOLVANE_DETAIL_ORDER;
constexpr char kMessageDetailTextQuery[] =
    "select message.text, NULL, NULL, NULL, NULL from message" TOLVANE_DETAIL_ORDER;
#undef TOLVANE_DETAIL_ORDER

// The same contacts in the same order, with every phone number of the person as stored.
constexpr char kContactDetailQuery[] =
    "select c0first,c1Last,c15phone,"
    "(select group_concat(value, char(10)) from (select value from ABMultiValue "
    "where record_id = docid and property = 3 order by identifier, UID)) "
    "FROM ABPersonFullTextSearch_content ORDER BY c0first;";
constexpr char kContactPersonDetailQuery[] =
    "select First,Last,NULL,"
    "(select group_concat(value, char(10)) from (select value from ABMultiValue "
    "where record_id = ABPerson.ROWID and property = 3 order by identifier, UID)) "
    "FROM ABPerson ORDER BY First;";

const DatabaseKind kMessageDetails{
    Sms,
    kSmsCopyName,
    {kMessageDetailQuery, kMessageDetailNoBodyQuery, kMessageDetailTextQuery},
    kListSmsFailedText};
const DatabaseKind kContactDetails{
    Contacts,
    kContactsCopyName,
    {kContactDetailQuery, kContactSearchOnlyQuery, kContactPersonDetailQuery},
    kListContactsFailedText};

// Counting needs no order: the same rows, without the sort; only the bodies of messages without
// text are decoded, as the listing does.
constexpr char kMessageCountQuery[] =
    "select text, CASE WHEN text IS NULL OR text = '' THEN attributedBody END from message;";
constexpr char kMessageCountTextQuery[] = "select text from message;";
const DatabaseKind kMessageCount{
    Sms, kSmsCopyName, {kMessageCountQuery, kMessageCountTextQuery}, kListSmsFailedText};

// The database of a device folder or an iTunes backup of either generation (flat, or in the
// folder of its name's first two digits), or of the plain folder a decryption leaves: where the
// folder's own format keeps it, else where the other layout does. Where there is none, the
// place of the folder's own format, which the missing-file error is about.
std::string DatabaseIn(const std::string& folder, DataCategory category) {
    const BackupFormat own = DeviceFolderFormat(folder);
    const std::string path = DeviceFolderDatabasePath(folder, own, category);
    if (platform::FileExists(path)) {
        return path;
    }
    const std::string other = DeviceFolderDatabasePath(
        folder, own == BackupFormat::Database ? BackupFormat::Mbdb : BackupFormat::Database,
        category);
    return platform::FileExists(other) ? other : path;
}

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
            path = DatabaseIn(decrypted, kind.category);
            return 0;
        }
        path = DatabaseIn(folder, kind.category);
        return 0;
    }
    // An own full backup keeps the device's backup in a folder named by the device identifier.
    std::vector<std::string> deviceFolders;
    ListDeviceFolderNames(folder, deviceFolders);
    if (!deviceFolders.empty()) {
        path = DatabaseIn(platform::JoinPath(folder, deviceFolders[0]), kind.category);
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

// The words of a message row: its text (column 0), else the words of its attributed body in
// column `bodyColumn` where the query has one. Empty when it has none.
std::string MessageWords(sqlite3_stmt* stmt, int bodyColumn) {
    const std::string_view text = ColumnText(stmt, 0);
    if (!text.empty()) {
        return std::string(text);
    }
    if (sqlite3_column_count(stmt) <= bodyColumn ||
        sqlite3_column_type(stmt, bodyColumn) != SQLITE_BLOB) {
        return {};
    }
    const void* blob = sqlite3_column_blob(stmt, bodyColumn);
    const auto size = static_cast<size_t>(sqlite3_column_bytes(stmt, bodyColumn));
    if (blob == nullptr || size == 0) {
        return {};
    }
    // A body that is no attributed string (damaged, or of a kind not known here) shows nothing,
    // as a message without text does.
    std::optional<std::string> words =
        DecodeAttributedBody(std::string_view(static_cast<const char*>(blob), size));
    return words ? std::move(*words) : std::string();
}

void AddMessageLine(sqlite3_stmt* stmt, std::vector<std::wstring>& lines) {
    const std::string words = MessageWords(stmt, 1);
    if (!words.empty()) {
        lines.push_back(DecodeDeviceText(words));
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

template <class Row>
int32_t List(std::vector<Row>& out, const std::string& backupFolder, BackupEngine& engine,
             const char* password, bool itunes, const DatabaseKind& kind,
             void (*addLine)(sqlite3_stmt*, std::vector<Row>&)) {
    std::string path;
    platform::Failure what = platform::Failure::None;
    const bool decrypts = itunes && password != nullptr && *password != '\0';
    // A decryption uses the tool's folders, which every operation of the program shares; a
    // plain backup is read where it lies and needs no lock (so a count on the window's thread
    // never waits for another process's run). The wait is told to the engine's wait callback,
    // which can give it up.
    std::optional<RunLock> lock;
    if (decrypts) {
        lock.emplace(engine);
        if (lock->GaveUp()) {
            return OperationLockGivenUp(engine);
        }
    }
    // The plain copies a decryption leaves go when the listing ends, on every path, while the
    // lock is still held.
    struct DiscardAtEnd {
        bool decrypts;
        ~DiscardAtEnd() {
            if (decrypts) {
                DiscardDecryptedOutput();
            }
        }
    } discard{decrypts};
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
    std::vector<Row> lines;
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

namespace {

// A phone's message date: seconds from 2001, or nanoseconds from iOS 11 on.
constexpr int64_t kSeconds1970To2001 = 978307200;

void AddMessageDetail(sqlite3_stmt* stmt, std::vector<MessageDetail>& rows) {
    const std::string words = MessageWords(stmt, 4);
    if (words.empty()) {
        return;  // the plain listing leaves it out too
    }
    MessageDetail row;
    row.text = DecodeDeviceText(words);
    if (sqlite3_column_type(stmt, 1) != SQLITE_NULL) {
        int64_t date = sqlite3_column_int64(stmt, 1);
        if (date > 100000000000 || date < -100000000000) {
            date /= 1000000000;
        }
        row.unixTime = date + kSeconds1970To2001;
    }
    if (sqlite3_column_type(stmt, 2) != SQLITE_NULL) {
        row.direction =
            sqlite3_column_int(stmt, 2) != 0 ? MessageDetail::kSent : MessageDetail::kReceived;
    }
    row.correspondent = DecodeDeviceText(ColumnText(stmt, 3));
    rows.push_back(std::move(row));
}

void AddContactDetail(sqlite3_stmt* stmt, std::vector<ContactDetail>& rows) {
    const std::string_view first = ColumnText(stmt, 0);
    const std::string_view last = ColumnText(stmt, 1);
    const std::string_view search = ColumnText(stmt, 2);
    const std::string_view numbers = sqlite3_column_count(stmt) > 3 ? ColumnText(stmt, 3) : "";
    ContactDetail row;
    if (!first.empty()) {
        row.name += DecodeDeviceText(first);
    }
    if (!last.empty()) {
        if (!row.name.empty()) {
            row.name += L' ';
        }
        row.name += DecodeDeviceText(last);
    }
    size_t start = 0;
    while (start < numbers.size()) {
        size_t end = numbers.find('\n', start);
        if (end == std::string_view::npos) {
            end = numbers.size();
        }
        if (end > start) {
            row.phones.push_back(DecodeDeviceText(numbers.substr(start, end - start)));
        }
        start = end + 1;
    }
    if (row.phones.empty()) {
        // No multi-value rows: the number the plain listing shows is all there is.
        const std::string_view phone = ContactFirstPhone(search, "");
        if (!phone.empty()) {
            row.phones.push_back(DecodeDeviceText(phone));
        }
    }
    if (!row.name.empty() || !row.phones.empty()) {
        rows.push_back(std::move(row));
    }
}

}  // namespace

int32_t ListMessageDetails(std::vector<MessageDetail>& out, const std::string& backupFolder,
                           BackupEngine& engine, const char* password, bool itunes) {
    return List(out, backupFolder, engine, password, itunes, kMessageDetails, AddMessageDetail);
}

int32_t ListContactDetails(std::vector<ContactDetail>& out, const std::string& backupFolder,
                           BackupEngine& engine, const char* password, bool itunes) {
    return List(out, backupFolder, engine, password, itunes, kContactDetails, AddContactDetail);
}

namespace {

struct CountedRow {};

void CountMessageRow(sqlite3_stmt* stmt, std::vector<CountedRow>& rows) {
    if (!MessageWords(stmt, 1).empty()) {
        rows.push_back({});
    }
}

// A contact line is not empty when the name or the phone part is not: the phone part is empty
// only when both the search column and the first number are.
void CountContactRow(sqlite3_stmt* stmt, std::vector<CountedRow>& rows) {
    if (!ColumnText(stmt, 0).empty() || !ColumnText(stmt, 1).empty() ||
        !ColumnText(stmt, 2).empty() ||
        (sqlite3_column_count(stmt) > 3 && !ColumnText(stmt, 3).empty())) {
        rows.push_back({});
    }
}

int32_t Count(int& count, const std::string& backupFolder, BackupEngine& engine,
              const char* password, bool itunes, const DatabaseKind& kind,
              void (*addRow)(sqlite3_stmt*, std::vector<CountedRow>&)) {
    std::vector<CountedRow> rows;
    const int32_t r = List(rows, backupFolder, engine, password, itunes, kind, addRow);
    count = r == 0 ? static_cast<int>(rows.size()) : 0;
    return r;
}

}  // namespace

int32_t CountMessages(int& count, const std::string& backupFolder, BackupEngine& engine,
                      const char* password, bool itunes) {
    return Count(count, backupFolder, engine, password, itunes, kMessageCount, CountMessageRow);
}

int32_t CountContacts(int& count, const std::string& backupFolder, BackupEngine& engine,
                      const char* password, bool itunes) {
    return Count(count, backupFolder, engine, password, itunes, kContacts, CountContactRow);
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
