#include "devsim/ModernDatabases.h"

#include <sqlite3.h>

#include <set>
#include <vector>

#include "devsim/Generation.h"
#include "devsim/PhoneDatabase.h"
#include "platform/Handles.h"

namespace devsim {
namespace {

struct Columns {
    int since;  // the major version that brought them
    const char* table;
    std::vector<const char*> columns;
};

// The columns the phone's migrations add, by the version that added them.
const std::vector<Columns>& NewerColumns() {
    static const std::vector<Columns> kColumns = {
        {10,
         "message",
         {"is_audio_message INTEGER DEFAULT 0",
          "is_played INTEGER DEFAULT 0",
          "date_played INTEGER",
          "item_type INTEGER DEFAULT 0",
          "other_handle INTEGER DEFAULT 0",
          "group_title TEXT",
          "group_action_type INTEGER DEFAULT 0",
          "share_status INTEGER DEFAULT 0",
          "share_direction INTEGER DEFAULT 0",
          "is_expirable INTEGER DEFAULT 0",
          "expire_state INTEGER DEFAULT 0",
          "message_action_type INTEGER DEFAULT 0",
          "message_source INTEGER DEFAULT 0",
          "associated_message_guid TEXT",
          "associated_message_type INTEGER DEFAULT 0",
          "balloon_bundle_id TEXT",
          "payload_data BLOB",
          "expressive_send_style_id TEXT",
          "associated_message_range_location INTEGER DEFAULT 0",
          "associated_message_range_length INTEGER DEFAULT 0",
          "time_expressive_send_played INTEGER",
          "message_summary_info BLOB"}},
        {11,
         "message",
         {"ck_sync_state INTEGER DEFAULT 0", "ck_record_id TEXT", "ck_record_change_tag TEXT",
          "destination_caller_id TEXT", "sr_ck_sync_state INTEGER DEFAULT 0",
          "sr_ck_record_id TEXT", "sr_ck_record_change_tag TEXT"}},
        {13,
         "message",
         {"is_corrupt INTEGER DEFAULT 0", "reply_to_guid TEXT", "sort_id INTEGER",
          "is_spam INTEGER DEFAULT 0"}},
        {14,
         "message",
         {"has_unseen_mention INTEGER DEFAULT 0", "thread_originator_guid TEXT",
          "thread_originator_part TEXT"}},
        {15,
         "message",
         {"syndication_ranges TEXT DEFAULT NULL", "was_delivered_quietly INTEGER DEFAULT 0",
          "did_notify_recipient INTEGER DEFAULT 0", "synced_syndication_ranges TEXT DEFAULT NULL"}},
        {16,
         "message",
         {"date_retracted INTEGER DEFAULT 0", "date_edited INTEGER DEFAULT 0",
          "was_detonated INTEGER DEFAULT 0", "part_count INTEGER", "is_stewie INTEGER DEFAULT 0",
          "is_kt_verified INTEGER DEFAULT 0"}},
        {17,
         "message",
         {"is_sos INTEGER DEFAULT 0", "is_critical INTEGER DEFAULT 0",
          "bia_reference_id TEXT DEFAULT NULL", "fallback_hash TEXT DEFAULT NULL"}},
        {18,
         "message",
         {"associated_message_emoji TEXT DEFAULT NULL",
          "is_pending_satellite_send INTEGER DEFAULT 0", "needs_relay INTEGER DEFAULT 0",
          "schedule_type INTEGER DEFAULT 0", "schedule_state INTEGER DEFAULT 0",
          "sent_or_received_off_grid INTEGER DEFAULT 0"}},
        {10,
         "chat",
         {"is_filtered INTEGER DEFAULT 0", "successful_query INTEGER", "engram_id TEXT",
          "server_change_token TEXT", "ck_sync_state INTEGER DEFAULT 0", "original_group_id TEXT",
          "last_read_message_timestamp INTEGER DEFAULT 0", "cloudkit_record_id TEXT",
          "last_addressed_sim_id TEXT", "is_blackholed INTEGER DEFAULT 0"}},
        {15, "chat", {"syndication_date INTEGER DEFAULT 0", "syndication_type INTEGER DEFAULT 0"}},
        {14, "handle", {"person_centric_id TEXT"}},
        {10,
         "attachment",
         {"hide_attachment INTEGER DEFAULT 0", "ck_sync_state INTEGER DEFAULT 0",
          "ck_server_change_token_blob BLOB", "ck_record_id TEXT", "original_guid TEXT",
          "is_sticker INTEGER DEFAULT 0", "sticker_user_info BLOB", "attribution_info BLOB"}},
        {16,
         "attachment",
         {"is_commsafety_sensitive INTEGER DEFAULT 0", "emoji_image_content_identifier TEXT",
          "emoji_image_short_description TEXT", "preview_generation_state INTEGER DEFAULT 0"}},
        {11, "chat_message_join", {"message_date INTEGER DEFAULT 0"}},
    };
    return kColumns;
}

// The tables newer phones keep beside those of the iOS 7 generation.
const std::vector<std::pair<int, const char*>>& NewerTables() {
    static const std::vector<std::pair<int, const char*>> kTables = {
        {10,
         "CREATE TABLE deleted_messages (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, "
         "guid TEXT NOT NULL)"},
        {10,
         "CREATE TABLE kvtable (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, key TEXT "
         "UNIQUE NOT NULL, value BLOB NOT NULL)"},
        {11,
         "CREATE TABLE sync_deleted_messages (ROWID INTEGER PRIMARY KEY AUTOINCREMENT "
         "UNIQUE, guid TEXT NOT NULL, recordID TEXT)"},
        {11,
         "CREATE TABLE sync_deleted_chats (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, "
         "guid TEXT NOT NULL, recordID TEXT, timestamp INTEGER)"},
        {11,
         "CREATE TABLE sync_deleted_attachments (ROWID INTEGER PRIMARY KEY AUTOINCREMENT "
         "UNIQUE, guid TEXT NOT NULL, recordID TEXT)"},
        {13,
         "CREATE TABLE message_processing_task (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
         "guid TEXT NOT NULL, task_flags INTEGER NOT NULL)"},
        {16,
         "CREATE TABLE chat_recoverable_message_join (chat_id INTEGER REFERENCES chat "
         "(ROWID) ON DELETE CASCADE, message_id INTEGER REFERENCES message (ROWID) ON DELETE "
         "CASCADE, delete_date INTEGER, ck_sync_state INTEGER DEFAULT 0, PRIMARY KEY "
         "(chat_id, message_id))"},
        {16,
         "CREATE TABLE recoverable_message_part (chat_id INTEGER REFERENCES chat (ROWID) ON "
         "DELETE CASCADE, message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE, "
         "part_index INTEGER, delete_date INTEGER, part_text BLOB NOT NULL, ck_sync_state "
         "INTEGER DEFAULT 0, PRIMARY KEY (chat_id, message_id, part_index))"},
    };
    return kTables;
}

platform::SqlitePtr Open(const std::string& path, std::string& error) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    platform::SqlitePtr db(raw);
    if (rc != SQLITE_OK) {
        error = "cannot open " + path;
        return platform::SqlitePtr();
    }
    return db;
}

std::set<std::string> ColumnNames(sqlite3* db, const std::string& table) {
    std::set<std::string> names;
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db, ("PRAGMA table_info(" + table + ")").c_str(), -1, &raw, nullptr);
    platform::SqliteStmtPtr stmt(raw);
    while (stmt && sqlite3_step(stmt.get()) == SQLITE_ROW) {
        names.insert(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1)));
    }
    return names;
}

bool AddColumns(sqlite3* db, const std::string& table, const std::vector<std::string>& columns,
                std::string& error) {
    const std::set<std::string> have = ColumnNames(db, table);
    for (const std::string& c : columns) {
        if (have.count(c.substr(0, c.find(' '))) != 0) {
            continue;
        }
        if (!Exec(db, "ALTER TABLE " + table + " ADD COLUMN " + c, error)) {
            return false;
        }
    }
    return true;
}

// A typedstream integer: one byte for small values, 0x81 and two bytes, or 0x82 and four.
void PutStreamInt(std::string& out, uint64_t v) {
    if (v < 0x80) {
        out += static_cast<char>(v);
    } else if (v <= 0xFFFF) {
        out += '\x81';
        out += static_cast<char>(v & 0xFF);
        out += static_cast<char>(v >> 8);
    } else {
        out += '\x82';
        for (int i = 0; i < 4; ++i) {
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
        }
    }
}

size_t Utf16Length(const std::string& text) {
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) == 0x80) {
            continue;
        }
        n += c >= 0xF0 ? 2 : 1;
    }
    return n;
}

}  // namespace

std::string StreamTypedBody(const std::string& text) {
    std::string b("\x04\x0bstreamtyped\x81\xe8\x03\x84\x01\x40\x84\x84\x84", 22);
    b += "\x12NSAttributedString";
    b += std::string(
        "\x00\x84\x84\x08NSObject\x00\x85\x92\x84\x84\x84\x08NSString\x01\x94\x84\x01\x2b", 32);
    PutStreamInt(b, text.size());
    b += text;
    b += std::string("\x86\x84\x02iI\x01", 6);
    PutStreamInt(b, Utf16Length(text));
    b += std::string(
        "\x92\x84\x84\x84\x0cNSDictionary\x00\x94\x84\x01i\x01\x92\x84\x96\x96\x1d"
        "__kIMMessagePartAttributeName\x86\x92\x84\x84\x84\x08NSNumber\x00\x84\x84"
        "\x07NSValue\x00\x94\x84\x01\x2a\x84\x99\x99\x00\x86\x86\x86",
        94);
    return b;
}

bool ModerniseMessageDatabase(const std::string& path, const std::string& version, Random& random,
                              std::string& error) {
    PhoneVersion v;
    ParsePhoneVersion(version, v);
    platform::SqlitePtr db = Open(path, error);
    if (!db) {
        return false;
    }
    sqlite3* d = db.get();
    if (!Exec(d, "PRAGMA legacy_alter_table=ON; BEGIN", error)) {
        return false;
    }
    for (const Columns& c : NewerColumns()) {
        if (c.since <= v.major &&
            !AddColumns(d, c.table, std::vector<std::string>(c.columns.begin(), c.columns.end()),
                        error)) {
            return false;
        }
    }
    for (const auto& [since, sql] : NewerTables()) {
        if (since <= v.major && !Exec(d, sql, error)) {
            return false;
        }
    }
    const std::string clientVersion = std::to_string(v.major * 1000 + 5);
    if (!Exec(d,
              "UPDATE _SqliteDatabaseProperties SET value='" + clientVersion +
                  "' WHERE key='_ClientVersion'",
              error)) {
        return false;
    }

    // The conversations move to the phone's time, its dates to its unit.
    const bool nanos = UsesNanosecondDates(version);
    const bool bodyOnly = KeepsTextInBodyOnly(version);
    const std::set<std::string> have = ColumnNames(d, "message");
    struct Row {
        int64_t rowid;
        std::string text;
        int64_t date, dateRead, dateDelivered;
        std::string account;
    };
    std::vector<Row> rows;
    {
        sqlite3_stmt* raw = nullptr;
        sqlite3_prepare_v2(d,
                           "SELECT ROWID, text, date, date_read, date_delivered, account FROM "
                           "message ORDER BY ROWID",
                           -1, &raw, nullptr);
        platform::SqliteStmtPtr stmt(raw);
        while (stmt && sqlite3_step(stmt.get()) == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(stmt.get(), 1);
            const unsigned char* a = sqlite3_column_text(stmt.get(), 5);
            rows.push_back(Row{
                sqlite3_column_int64(stmt.get(), 0), t ? reinterpret_cast<const char*>(t) : "",
                sqlite3_column_int64(stmt.get(), 2), sqlite3_column_int64(stmt.get(), 3),
                sqlite3_column_int64(stmt.get(), 4), a ? reinterpret_cast<const char*>(a) : ""});
        }
    }
    std::string update =
        "UPDATE message SET text=?, attributedBody=?, date=?, date_read=?, date_delivered=?";
    if (have.count("destination_caller_id") != 0) {
        update += ", destination_caller_id=?";
    }
    if (have.count("sort_id") != 0) {
        update += ", sort_id=?";
    }
    if (have.count("part_count") != 0) {
        update += ", part_count=1";
    }
    update += " WHERE ROWID=?";
    Insert set(d, update.c_str());
    auto when = [&](int64_t seconds) -> int64_t {
        if (seconds == 0) {
            return 0;
        }
        const int64_t shifted = seconds + kModernDateShift;
        return nanos ? shifted * 1000000000LL + random.Between(0, 999999999) : shifted;
    };
    for (const Row& r : rows) {
        // From iOS 16 about half of the messages keep their words only in attributedBody.
        (bodyOnly && random.Chance(50) ? set.Null() : set.Text(r.text));
        set.Blob(StreamTypedBody(r.text));
        set.Int(when(r.date)).Int(when(r.dateRead)).Int(when(r.dateDelivered));
        if (have.count("destination_caller_id") != 0) {
            set.Text(r.account.size() > 2 ? r.account.substr(2) : r.account);
        }
        if (have.count("sort_id") != 0) {
            set.Int(0);
        }
        if (!set.Int(r.rowid).Run(error)) {
            return false;
        }
    }
    if (!Exec(d,
              "UPDATE attachment SET created_date=created_date+" +
                  std::to_string(kModernDateShift) + ", start_date=start_date+" +
                  std::to_string(kModernDateShift),
              error)) {
        return false;
    }
    if (ColumnNames(d, "chat_message_join").count("message_date") != 0 &&
        !Exec(d,
              "UPDATE chat_message_join SET message_date=(SELECT date FROM message WHERE "
              "message.ROWID=chat_message_join.message_id)",
              error)) {
        return false;
    }
    return Exec(d, "COMMIT; PRAGMA journal_mode=WAL", error);
}

bool ModerniseContactsDatabase(const std::string& path, const std::string& version,
                               std::string& error) {
    PhoneVersion v;
    ParsePhoneVersion(version, v);
    platform::SqlitePtr db = Open(path, error);
    if (!db) {
        return false;
    }
    sqlite3* d = db.get();
    std::vector<std::string> person = {"AlternateBirthday TEXT",
                                       "MapsData TEXT",
                                       "FirstPronunciation TEXT",
                                       "MiddlePronunciation TEXT",
                                       "LastPronunciation TEXT",
                                       "OrganizationPhonetic TEXT",
                                       "OrganizationPronunciation TEXT",
                                       "PreviousFamilyName TEXT",
                                       "PreferredLikenessSource TEXT",
                                       "PreferredPersonaIdentifier TEXT",
                                       "PreferredChannel TEXT",
                                       "DowntimeWhitelist TEXT",
                                       "ImageType TEXT",
                                       "ImageHash BLOB"};
    if (v.major >= 13) {
        person.push_back("MemojiMetadata BLOB");
        person.push_back("SearchIndex INTEGER DEFAULT 0");
    }
    if (v.major >= 17) {
        person.push_back("Wallpaper BLOB");
        person.push_back("WallpaperMetadata BLOB");
        person.push_back("SensitiveContentConfiguration BLOB");
    }
    return Exec(d, "PRAGMA legacy_alter_table=ON; BEGIN", error) &&
           AddColumns(d, "ABPerson", person, error) &&
           Exec(d,
                "UPDATE _SqliteDatabaseProperties SET value='" +
                    std::to_string(1500 + v.major * 10) +
                    "' WHERE key='__ABDataVersion';"
                    "UPDATE ABPerson SET CreationDate=CreationDate+" +
                    std::to_string(kModernDateShift) + ", ModificationDate=ModificationDate+" +
                    std::to_string(kModernDateShift) + "; COMMIT; PRAGMA journal_mode=WAL",
                error);
}

}  // namespace devsim
