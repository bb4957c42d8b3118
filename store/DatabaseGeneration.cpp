#include "store/DatabaseGeneration.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string_view>
#include <vector>

#include "platform/Handles.h"
#include "store/SqliteFiles.h"

namespace tolvane {
namespace {

struct KnownTable {
    const char* name;
    // The columns a phone of the iOS 7 generation has in this table, in its order.
    std::vector<std::string_view> columns;
};

const std::vector<KnownTable>& Ios7MessageTables() {
    static const std::vector<KnownTable> tables = {
        {"message",
         {"ROWID",
          "guid",
          "text",
          "replace",
          "service_center",
          "handle_id",
          "subject",
          "country",
          "attributedBody",
          "version",
          "type",
          "service",
          "account",
          "account_guid",
          "error",
          "date",
          "date_read",
          "date_delivered",
          "is_delivered",
          "is_finished",
          "is_emote",
          "is_from_me",
          "is_empty",
          "is_delayed",
          "is_auto_reply",
          "is_prepared",
          "is_read",
          "is_system_message",
          "is_sent",
          "has_dd_results",
          "is_service_message",
          "is_forward",
          "was_downgraded",
          "is_archive",
          "cache_has_attachments",
          "cache_roomnames",
          "was_data_detected",
          "was_deduplicated"}},
        {"handle", {"ROWID", "id", "country", "service", "uncanonicalized_id"}},
        {"chat",
         {"ROWID", "guid", "style", "state", "account_id", "properties", "chat_identifier",
          "service_name", "room_name", "account_login", "is_archived", "last_addressed_handle",
          "display_name"}},
        {"chat_message_join", {"chat_id", "message_id"}},
        {"chat_handle_join", {"chat_id", "handle_id"}},
    };
    return tables;
}

const std::vector<KnownTable>& Ios7ContactTables() {
    static const std::vector<KnownTable> tables = {
        {"ABPerson",
         {"ROWID",
          "First",
          "Last",
          "Middle",
          "FirstPhonetic",
          "MiddlePhonetic",
          "LastPhonetic",
          "Organization",
          "Department",
          "Note",
          "Kind",
          "Birthday",
          "JobTitle",
          "Nickname",
          "Prefix",
          "Suffix",
          "FirstSort",
          "LastSort",
          "CreationDate",
          "ModificationDate",
          "CompositeNameFallback",
          "ExternalIdentifier",
          "ExternalModificationTag",
          "ExternalUUID",
          "StoreID",
          "DisplayName",
          "ExternalRepresentation",
          "FirstSortSection",
          "LastSortSection",
          "FirstSortLanguageIndex",
          "LastSortLanguageIndex",
          "PersonLink",
          "ImageURI",
          "IsPreferredName",
          "guid",
          "PhonemeData"}},
        {"ABMultiValue", {"UID", "record_id", "property", "identifier", "label", "value", "guid"}},
    };
    return tables;
}

// Message columns that arrived with a later generation, and the generation.
struct ColumnMark {
    std::string_view column;
    int major;
};
constexpr ColumnMark kMessageMarks[] = {
    {"associated_message_guid", 10},
    {"associated_message_type", 10},
    {"expressive_send_style_id", 10},
    {"balloon_bundle_id", 10},
    {"destination_caller_id", 11},
    {"ck_record_id", 11},
    {"sr_ck_sync_state", 11},
    {"reply_to_guid", 13},
    {"is_corrupt", 13},
    {"is_spam", 13},
    {"thread_originator_guid", 14},
    {"has_unseen_mention", 14},
    {"syndication_ranges", 15},
    {"was_delivered_quietly", 15},
    {"did_notify_recipient", 15},
    {"date_edited", 16},
    {"date_retracted", 16},
    {"was_detonated", 16},
    {"part_count", 16},
    {"is_sos", 17},
    {"is_critical", 17},
    {"bia_reference_id", 17},
    {"fallback_hash", 17},
    {"associated_message_emoji", 18},
    {"is_pending_satellite_send", 18},
    {"schedule_type", 18},
    {"schedule_state", 18},
};
// Tables that arrived with a later generation.
struct TableMark {
    const char* table;
    int major;
};
constexpr TableMark kMessageTableMarks[] = {
    {"deleted_messages", 10},
    {"kvtable", 10},
    {"sync_deleted_messages", 11},
    {"message_processing_task", 13},
    {"chat_recoverable_message_join", 16},
    {"recoverable_message_part", 16},
};
constexpr ColumnMark kPersonMarks[] = {
    {"MemojiMetadata", 13},
    {"Wallpaper", 17},
    {"WallpaperMetadata", 17},
    {"SensitiveContentConfiguration", 17},
};

// The columns of `table`; empty when there is no such table.
std::set<std::string, std::less<>> ColumnsOf(sqlite3* db, const char* table) {
    std::set<std::string, std::less<>> columns;
    const std::string sql = std::string("PRAGMA table_info(\"") + table + "\");";
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const unsigned char* name = sqlite3_column_text(stmt, 1);
            if (name != nullptr) {
                columns.emplace(reinterpret_cast<const char*>(name));
            }
        }
    }
    sqlite3_finalize(stmt);
    return columns;
}

bool HasTable(sqlite3* db, const char* table) {
    return !ColumnsOf(db, table).empty();
}

// Whether any table of `known` has a column the iOS 7 generation's does not.
bool BeyondIos7(sqlite3* db, const std::vector<KnownTable>& known) {
    for (const KnownTable& table : known) {
        for (const std::string& column : ColumnsOf(db, table.name)) {
            if (std::find(table.columns.begin(), table.columns.end(), column) ==
                table.columns.end()) {
                return true;
            }
        }
    }
    return false;
}

// From iOS 11 on a phone counts message dates in nanoseconds since 2001 instead of seconds.
bool HasNanosecondDates(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(db, "select 1 from message where date > 100000000000 limit 1;", -1,
                           &stmt, nullptr) == SQLITE_OK) {
        found = sqlite3_step(stmt) == SQLITE_ROW;
    }
    sqlite3_finalize(stmt);
    return found;
}

}  // namespace

const std::vector<std::string_view>* Ios7ColumnsOf(std::string_view table) {
    for (const auto* known : {&Ios7MessageTables(), &Ios7ContactTables()}) {
        for (const KnownTable& t : *known) {
            if (table == t.name) {
                return &t.columns;
            }
        }
    }
    return nullptr;
}

int IosMajorOf(const std::string& productVersion) {
    int major = 0;
    for (const char c : productVersion) {
        if (c < '0' || c > '9') {
            break;
        }
        major = major * 10 + (c - '0');
        if (major > 1000) {
            return 0;
        }
    }
    return major;
}

int RequiredIosMajor(const std::string& path, DataCategory category) {
    platform::SqlitePtr db;
    if (OpenUnchangingDatabase(path, db) != SQLITE_OK) {
        return 0;
    }
    int required = 0;
    if (category == Contacts) {
        if (HasTable(db.get(), "ABPersonFullTextSearch_content")) {
            required = 6;
        }
        if (BeyondIos7(db.get(), Ios7ContactTables())) {
            required = 8;
        }
        const auto person = ColumnsOf(db.get(), "ABPerson");
        for (const ColumnMark& mark : kPersonMarks) {
            if (person.find(mark.column) != person.end()) {
                required = std::max(required, mark.major);
            }
        }
        return required;
    }
    if (HasTable(db.get(), "handle")) {
        required = 6;
    }
    if (BeyondIos7(db.get(), Ios7MessageTables())) {
        required = 8;
    }
    const auto columns = ColumnsOf(db.get(), "message");
    for (const ColumnMark& mark : kMessageMarks) {
        if (columns.find(mark.column) != columns.end()) {
            required = std::max(required, mark.major);
        }
    }
    for (const TableMark& mark : kMessageTableMarks) {
        if (HasTable(db.get(), mark.table)) {
            required = std::max(required, mark.major);
        }
    }
    if (HasNanosecondDates(db.get())) {
        required = std::max(required, 11);
    }
    return required;
}

std::string NewerGenerationText(DataCategory category, int needed,
                                const std::string& productVersion, bool restore) {
    char text[320];
    std::snprintf(text, sizeof text,
                  "The %s file comes from a newer iPhone (iOS %d or later) than this iPhone (iOS "
                  "%s), which cannot read it.Only files from iPhones of iOS %d or earlier can be "
                  "%s.",
                  category == Contacts ? "contacts" : "SMS", needed, productVersion.c_str(),
                  IosMajorOf(productVersion), restore ? "restored" : "imported");
    return text;
}

}  // namespace tolvane
