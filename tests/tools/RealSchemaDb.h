// Real-schema message and contacts databases for tests and benchmarks: built from the phone's own
// schemas (devsim/schemas), with the full-text search table declared the way a phone's file has
// it, and filled with rows.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testkit {

// An open database that closes itself. Every call reports a failure on stderr and returns false,
// so callers can stop early; nothing throws.
class Database {
  public:
    Database() = default;
    // Opens (creating it unless `readOnly`) the database at `path`.
    explicit Database(const std::string& path, bool readOnly = false);
    ~Database();
    Database(Database&& other) noexcept;
    Database& operator=(Database&& other) noexcept;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    bool IsOpen() const { return db_ != nullptr; }
    sqlite3* Get() const { return db_; }
    bool Exec(const std::string& sql);
    // Each row as its values joined with "|": NULL, i:<integer>, r:<real>, t:<text>, b:<hex>.
    std::vector<std::string> Rows(const std::string& sql);
    // The first column of the first row as an integer (0 when there is none).
    int64_t Scalar(const std::string& sql);

  private:
    sqlite3* db_ = nullptr;
};

// The rows of a prepared statement as Database::Rows gives them; the statement is reset after.
std::vector<std::string> StatementRows(sqlite3_stmt* stmt);

// Creates a new database at `path` (which must not exist, its folder is made) from
// devsim/schemas.
bool CreateSmsDb(const std::string& path);
bool CreateAddressBookDb(const std::string& path);

// The same rows dump as Database::Rows, opening the file read-only.
std::vector<std::string> DumpRows(const std::string& path, const std::string& sql);

struct HandleRow {
    int64_t rowid = 0;
    std::string id;  // the correspondent's number or address
};

struct MessageRow {
    int64_t rowid = 0;
    std::optional<std::string> text;
    int64_t handleId = 0;
    int64_t date = 0;
    bool fromMe = false;
};

// A handle and a chat with the same ROWID, joined, as a phone has one per correspondent.
bool AddCorrespondent(Database& db, const HandleRow& handle);
// A message row (guid, service and the flags filled in), joined to the chat of its handle.
bool AddMessage(Database& db, const MessageRow& message);

struct ContactRow {
    int64_t rowid = 0;
    std::optional<std::string> first;
    std::optional<std::string> last;
    std::optional<std::string> organization;
    std::optional<std::string> note;
    std::optional<std::string> phone;  // the search table's forms of the numbers, blank-separated
    std::optional<std::string> email;
};

// The search row, the person row and a phone multi-value row of one contact.
bool AddContact(Database& db, const ContactRow& contact);

// Deterministic test content: `handles` correspondents and `messages` messages over them, with
// quotes, apostrophes, commas, line breaks and non-ASCII letters in some texts.
bool FillSms(Database& db, int handles, int messages);
bool FillContacts(Database& db, int contacts);

}  // namespace testkit
