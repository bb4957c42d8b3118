#include "tests/tools/RealSchemaDb.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

namespace testkit {
namespace {

std::string SchemaPath(const char* file) {
    return std::string(TOLVANE_SCHEMA_DIR) + "/" + file;
}

bool ReadText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return true;
}

// Runs the statements of a `.schema` dump. The sqlite_sequence line is skipped (SQLite makes that
// table itself), and a virtual table is entered into the schema as written, through
// writable_schema, because its tokenizer exists only on the phone.
bool ApplySchema(Database& db, const std::string& schemaText) {
    std::vector<std::string> virtualTables;
    std::istringstream lines(schemaText);
    std::string line;
    std::string statement;
    while (std::getline(lines, line)) {
        statement += line;
        statement += '\n';
        if (!sqlite3_complete(statement.c_str())) {
            continue;
        }
        if (statement.rfind("CREATE TABLE sqlite_sequence", 0) == 0) {
            // made by SQLite on the first AUTOINCREMENT insert
        } else if (statement.rfind("CREATE VIRTUAL TABLE", 0) == 0) {
            virtualTables.push_back(statement);
        } else if (!db.Exec(statement)) {
            return false;
        }
        statement.clear();
    }
    for (std::string sql : virtualTables) {
        while (!sql.empty() && (sql.back() == '\n' || sql.back() == ';')) {
            sql.pop_back();
        }
        const std::string prefix = "CREATE VIRTUAL TABLE ";
        const std::string name =
            sql.substr(prefix.size(), sql.find(' ', prefix.size()) - prefix.size());
        sqlite3_stmt* stmt = nullptr;
        if (!db.Exec("PRAGMA writable_schema=ON;") ||
            sqlite3_prepare_v2(db.Get(),
                               "INSERT INTO sqlite_master(type,name,tbl_name,rootpage,sql) "
                               "VALUES('table',?1,?1,0,?2);",
                               -1, &stmt, nullptr) != SQLITE_OK) {
            return false;
        }
        sqlite3_bind_text(stmt, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(stmt, 2, sql.c_str(), -1, SQLITE_TRANSIENT);
        const int rc = sqlite3_step(stmt);
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE || !db.Exec("PRAGMA writable_schema=OFF;")) {
            std::fprintf(stderr, "cannot declare %s\n", name.c_str());
            return false;
        }
    }
    return true;
}

bool CreateFromSchema(const std::string& path, const char* schemaFile) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!parent.empty()) {
        std::filesystem::create_directories(parent, ec);
    }
    std::string schema;
    if (!ReadText(SchemaPath(schemaFile), schema)) {
        return false;
    }
    Database db(path);
    return db.IsOpen() && db.Exec("BEGIN;") && ApplySchema(db, schema) && db.Exec("COMMIT;");
}

std::string Hex(const void* data, int size) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (int i = 0; i < size; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

// Binds text or NULL.
void BindOptional(sqlite3_stmt* stmt, int index, const std::optional<std::string>& value) {
    if (value) {
        sqlite3_bind_text(stmt, index, value->data(), static_cast<int>(value->size()),
                          SQLITE_TRANSIENT);
    } else {
        sqlite3_bind_null(stmt, index);
    }
}

bool StepDone(sqlite3* db, sqlite3_stmt* stmt) {
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE) {
        std::fprintf(stderr, "insert failed: %s\n", sqlite3_errmsg(db));
    }
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE;
}

sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot prepare %s: %s\n", sql, sqlite3_errmsg(db));
        sqlite3_finalize(stmt);
        return nullptr;
    }
    return stmt;
}

}  // namespace

Database::Database(const std::string& path, bool readOnly) {
    // Read-only opens are immutable: a phone's WAL database read by a test must not get "-wal"
    // and "-shm" files beside it, which the phone's next backup would carry.
    const int flags = readOnly ? SQLITE_OPEN_READONLY | SQLITE_OPEN_URI
                               : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const std::string name = readOnly ? "file:" + path + "?immutable=1" : path;
    if (sqlite3_open_v2(name.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        sqlite3_close(db_);
        db_ = nullptr;
    } else if (!readOnly) {
        // Test files need no durability; without syncs building them is many times faster.
        sqlite3_exec(db_, "PRAGMA synchronous=OFF;", nullptr, nullptr, nullptr);
    }
}

Database::~Database() {
    sqlite3_close(db_);
}

Database::Database(Database&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

Database& Database::operator=(Database&& other) noexcept {
    if (this != &other) {
        sqlite3_close(db_);
        db_ = std::exchange(other.db_, nullptr);
    }
    return *this;
}

bool Database::Exec(const std::string& sql) {
    char* error = nullptr;
    if (db_ == nullptr || sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "sql failed: %s\n  %s\n", error != nullptr ? error : "no database",
                     sql.c_str());
        sqlite3_free(error);
        return false;
    }
    return true;
}

std::vector<std::string> Database::Rows(const std::string& sql) {
    sqlite3_stmt* stmt = db_ != nullptr ? Prepare(db_, sql.c_str()) : nullptr;
    if (stmt == nullptr) {
        return {};
    }
    std::vector<std::string> rows = StatementRows(stmt);
    sqlite3_finalize(stmt);
    return rows;
}

std::vector<std::string> StatementRows(sqlite3_stmt* stmt) {
    std::vector<std::string> rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string row;
        const int columns = sqlite3_column_count(stmt);
        for (int c = 0; c < columns; ++c) {
            if (c > 0) {
                row += '|';
            }
            switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_NULL:
                    row += "NULL";
                    break;
                case SQLITE_INTEGER:
                    row += "i:" + std::to_string(sqlite3_column_int64(stmt, c));
                    break;
                case SQLITE_FLOAT: {
                    char buf[40];
                    std::snprintf(buf, sizeof buf, "r:%.17g", sqlite3_column_double(stmt, c));
                    row += buf;
                    break;
                }
                case SQLITE_TEXT:
                    row += "t:";
                    row.append(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                               static_cast<size_t>(sqlite3_column_bytes(stmt, c)));
                    break;
                default:
                    row += "b:" + Hex(sqlite3_column_blob(stmt, c), sqlite3_column_bytes(stmt, c));
                    break;
            }
        }
        rows.push_back(std::move(row));
    }
    sqlite3_reset(stmt);
    return rows;
}

int64_t Database::Scalar(const std::string& sql) {
    sqlite3_stmt* stmt = db_ != nullptr ? Prepare(db_, sql.c_str()) : nullptr;
    int64_t value = 0;
    if (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
        value = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
    return value;
}

bool CreateSmsDb(const std::string& path) {
    return CreateFromSchema(path, "sms.db.sql");
}

bool CreateAddressBookDb(const std::string& path) {
    return CreateFromSchema(path, "AddressBook.sqlitedb.sql");
}

std::vector<std::string> DumpRows(const std::string& path, const std::string& sql) {
    Database db(path, true);
    return db.Rows(sql);
}

bool AddCorrespondent(Database& db, const HandleRow& handle) {
    sqlite3* raw = db.Get();
    sqlite3_stmt* stmt = Prepare(raw, "INSERT INTO handle VALUES(?1,?2,'us','SMS',NULL);");
    if (stmt == nullptr) {
        return false;
    }
    sqlite3_bind_int64(stmt, 1, handle.rowid);
    sqlite3_bind_text(stmt, 2, handle.id.c_str(), -1, SQLITE_TRANSIENT);
    if (!StepDone(raw, stmt)) {
        return false;
    }
    stmt = Prepare(raw,
                   "INSERT INTO chat VALUES(?1,'SMS;-;'||?2,45,3,'p:0',NULL,?2,'SMS',NULL,'P:0',"
                   "0,?2,NULL);");
    if (stmt == nullptr) {
        return false;
    }
    sqlite3_bind_int64(stmt, 1, handle.rowid);
    sqlite3_bind_text(stmt, 2, handle.id.c_str(), -1, SQLITE_TRANSIENT);
    if (!StepDone(raw, stmt)) {
        return false;
    }
    return db.Exec("INSERT INTO chat_handle_join VALUES(" + std::to_string(handle.rowid) + "," +
                   std::to_string(handle.rowid) + ");");
}

bool AddMessage(Database& db, const MessageRow& message) {
    sqlite3* raw = db.Get();
    sqlite3_stmt* stmt = Prepare(
        raw,
        "INSERT INTO message(ROWID,guid,text,handle_id,country,version,service,account,"
        "account_guid,date,date_read,date_delivered,is_delivered,is_finished,is_from_me,is_read,"
        "is_sent) VALUES(?1,printf('%08X-5A1E-4C3B-9F00-%012d',?1,?1),?2,?3,'us',10,'SMS',"
        "'p:+15550000000','6E0C3D2A-0B1F-4F8E-9A57-0123456789AB',?4,?5,?6,1,1,?7,1,?7);");
    if (stmt == nullptr) {
        return false;
    }
    sqlite3_bind_int64(stmt, 1, message.rowid);
    BindOptional(stmt, 2, message.text);
    sqlite3_bind_int64(stmt, 3, message.handleId);
    sqlite3_bind_int64(stmt, 4, message.date);
    sqlite3_bind_int64(stmt, 5, message.fromMe ? 0 : message.date + 30);
    sqlite3_bind_int64(stmt, 6, message.fromMe ? message.date + 2 : 0);
    sqlite3_bind_int(stmt, 7, message.fromMe ? 1 : 0);
    if (!StepDone(raw, stmt)) {
        return false;
    }
    return db.Exec("INSERT INTO chat_message_join VALUES(" + std::to_string(message.handleId) +
                   "," + std::to_string(message.rowid) + ");");
}

bool AddContact(Database& db, const ContactRow& contact) {
    sqlite3* raw = db.Get();
    sqlite3_stmt* stmt = Prepare(
        raw,
        "INSERT INTO ABPersonFullTextSearch_content VALUES(?1,?2,?3,NULL,NULL,NULL,NULL,?4,NULL,"
        "?5,NULL,NULL,NULL,NULL,NULL,NULL,?6,?7,NULL,NULL,NULL,NULL,NULL,NULL);");
    if (stmt == nullptr) {
        return false;
    }
    sqlite3_bind_int64(stmt, 1, contact.rowid);
    BindOptional(stmt, 2, contact.first);
    BindOptional(stmt, 3, contact.last);
    BindOptional(stmt, 4, contact.organization);
    BindOptional(stmt, 5, contact.note);
    BindOptional(stmt, 6, contact.phone);
    BindOptional(stmt, 7, contact.email);
    if (!StepDone(raw, stmt)) {
        return false;
    }
    stmt = Prepare(raw,
                   "INSERT INTO ABPerson(ROWID,First,Last,Organization,Note,Kind,CreationDate,"
                   "ModificationDate,StoreID,guid) VALUES(?1,?2,?3,?4,?5,0,400000000,400000000,0,"
                   "printf('0D5C6B1E-7A2F-4E3D-8C9B-%012X',?1));");
    if (stmt == nullptr) {
        return false;
    }
    sqlite3_bind_int64(stmt, 1, contact.rowid);
    BindOptional(stmt, 2, contact.first);
    BindOptional(stmt, 3, contact.last);
    BindOptional(stmt, 4, contact.organization);
    BindOptional(stmt, 5, contact.note);
    if (!StepDone(raw, stmt)) {
        return false;
    }
    if (!contact.phone) {
        return true;
    }
    stmt = Prepare(raw,
                   "INSERT INTO ABMultiValue(record_id,property,identifier,label,value,guid) "
                   "VALUES(?1,3,0,1,?2,printf('3F2E1D0C-B9A8-4766-8554-%012X',?1));");
    if (stmt == nullptr) {
        return false;
    }
    sqlite3_bind_int64(stmt, 1, contact.rowid);
    const std::string& phone = *contact.phone;
    const std::string firstNumber = phone.substr(0, phone.find(' '));
    sqlite3_bind_text(stmt, 2, firstNumber.c_str(), -1, SQLITE_TRANSIENT);
    return StepDone(raw, stmt);
}

bool FillSms(Database& db, int handles, int messages) {
    if (!db.Exec("BEGIN;")) {
        return false;
    }
    for (int h = 1; h <= handles; ++h) {
        char id[32];
        std::snprintf(id, sizeof id, "+1555%07d", h);
        if (!AddCorrespondent(db, HandleRow{h, id})) {
            return false;
        }
    }
    static const char* const kTexts[] = {
        "See you at %d, bring the map",
        "Don't forget the keys (%d)",
        "She said \"yes\" at %d",
        "Line one\r\nline two %d",
        ("Gr\xC3\xBC\xC3\x9F"
         "e aus K\xC3\xB6ln %d \xF0\x9F\x98\x80"),
        "Ok %d",
        "It's \"done\" now, isn't it? %d",
    };
    constexpr int kTextCount = static_cast<int>(sizeof kTexts / sizeof kTexts[0]);
    for (int m = 1; m <= messages; ++m) {
        char text[160];
        std::snprintf(text, sizeof text, kTexts[m % kTextCount], m);
        MessageRow row;
        row.rowid = m;
        row.text = text;
        row.handleId = 1 + (m % handles);
        row.date = 400000000 + int64_t{m} * 60;
        row.fromMe = (m % 3) == 0;
        if (!AddMessage(db, row)) {
            return false;
        }
    }
    return db.Exec("COMMIT;");
}

bool FillContacts(Database& db, int contacts) {
    static const char* const kFirst[] = {"Anna", "Bj\xC3\xB6rn", "Chlo\xC3\xA9", "David",
                                         "Eve",  "Frank",        "Grace",        "O'Neil"};
    static const char* const kLast[] = {"Smith", "Miller", "Nakamura",
                                        ("Garc\xC3\xAD"
                                         "a"),
                                        "Brown"};
    if (!db.Exec("BEGIN;")) {
        return false;
    }
    for (int c = 1; c <= contacts; ++c) {
        ContactRow row;
        row.rowid = c;
        row.first = kFirst[c % 8];
        row.last = kLast[c % 5];
        char phone[96];
        std::snprintf(phone, sizeof phone, "555%07d 1555%07d +1 (555) %03d-%04d", c, c,
                      c / 10000 % 1000, c % 10000);
        row.phone = phone;
        if (c % 4 == 0) {
            row.email = "person" + std::to_string(c) + "@example.org";
        }
        if (c % 6 == 0) {
            row.note = "Met at the \"spring\" fair, it's fine";
        }
        if (c % 10 == 0) {
            row.organization = "Acme, Inc.";
        }
        if (!AddContact(db, row)) {
            return false;
        }
    }
    return db.Exec("COMMIT;");
}

}  // namespace testkit
