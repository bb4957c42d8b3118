#include "data/Listing.h"

#include <sqlite3.h>

#include <string_view>

#include "data/DataTexts.h"
#include "engine/BackupEngine.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"
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
    const char* query;
    const char* failureText;
};

constexpr DatabaseKind kMessages{kSmsDatabaseName, kSmsCopyName,
                                 "select text from message ORDER BY ROWID DESC;",
                                 kListSmsFailedText};
constexpr DatabaseKind kContacts{
    kContactsDatabaseName, kContactsCopyName,
    "select c0first,c1Last,c15phone FROM ABPersonFullTextSearch_content ORDER BY c0first;",
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
    const std::string_view phone = ColumnText(stmt, 2);
    if (!first.empty()) {
        line += DecodeDeviceText(first);
    }
    if (!last.empty()) {
        line += L' ';
        line += DecodeDeviceText(last);
    }
    if (!phone.empty()) {
        line += L' ';
        line += DecodeDeviceText(ContactPhonePart(phone));
    }
    if (!line.empty()) {
        lines.push_back(std::move(line));
    }
}

int32_t List(std::vector<std::wstring>& out, const std::string& backupFolder, BackupEngine& engine,
             const char* password, bool itunes, const DatabaseKind& kind,
             void (*addLine)(sqlite3_stmt*, std::vector<std::wstring>&)) {
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
    sqlite3* raw = nullptr;
    // Listing reads a backup; it must never change it.
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    const platform::SqlitePtr db(raw);
    if (rc != SQLITE_OK) {
        return rc;
    }
    std::vector<std::wstring> lines;
    sqlite3_stmt* stmt = nullptr;
    bool ok = sqlite3_prepare_v2(db.get(), kind.query, -1, &stmt, nullptr) == SQLITE_OK;
    const platform::SqliteStmtPtr query(stmt);
    if (ok) {
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(query.get())) == SQLITE_ROW) {
            addLine(query.get(), lines);
        }
        ok = step == SQLITE_DONE;
    }
    if (!ok) {
        engine.SetLastErrorText(kind.failureText);
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

int32_t ListMessages(std::vector<std::wstring>& out, const std::string& backupFolder,
                     BackupEngine& engine, const char* password, bool itunes) {
    return List(out, backupFolder, engine, password, itunes, kMessages, AddMessageLine);
}

int32_t ListContacts(std::vector<std::wstring>& out, const std::string& backupFolder,
                     BackupEngine& engine, const char* password, bool itunes) {
    return List(out, backupFolder, engine, password, itunes, kContacts, AddContactLine);
}

}  // namespace tolvane
