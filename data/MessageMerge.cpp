#include "data/MessageMerge.h"

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "data/AttributedBody.h"
#include "data/DataTexts.h"
#include "data/ExportScan.h"
#include "data/MergeSupport.h"
#include "engine/BackupEngine.h"
#include "platform/Results.h"
#include "store/DatabaseGeneration.h"

namespace tolvane {
namespace {

constexpr char kSmsTempName[] = "smssqlite.tmp";

// A date below this is counted in seconds since 2001; a newer phone's dates are nanoseconds.
constexpr char kSecondsBound[] = "100000000000";

bool Has(const std::vector<std::string>& columns, std::string_view name) {
    return std::find(columns.begin(), columns.end(), name) != columns.end();
}

// Whether the phone of this database counts message dates in nanoseconds (iOS 11 on): its
// dated messages are in nanoseconds, or, when it has none, its table has the columns that came
// with that generation.
bool CountsNanoseconds(MergeConnection& conn, const std::vector<std::string>& columns) {
    const std::string sql = std::string("SELECT abs(date) >= ") + kSecondsBound +
                            " FROM message WHERE date IS NOT NULL AND date <> 0 "
                            "ORDER BY ROWID DESC LIMIT 1;";
    const platform::SqliteStmtPtr probe = conn.Prepare(sql.c_str());
    if (probe != nullptr && sqlite3_step(probe.get()) == SQLITE_ROW) {
        return sqlite3_column_int(probe.get(), 0) != 0;
    }
    return Has(columns, "destination_caller_id") || Has(columns, "ck_record_id");
}

// The attributedBody a phone keeps beside a message's text, for the rows of an export (whose
// phones left it empty).
void MessageBodyFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    if (argc != 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const int size = sqlite3_value_bytes(argv[0]);
    if (text == nullptr || size <= 0) {
        sqlite3_result_null(context);
        return;
    }
    const std::string body =
        EncodeAttributedBody(std::string_view(text, static_cast<size_t>(size)));
    sqlite3_result_blob64(context, body.data(), body.size(), SQLITE_TRANSIENT);
}

// The statement that completes a merged row as a newer phone keeps its own (null when the target
// is of the iOS 7 generation, whose rows the export holds as they are): dates in the phone's
// unit, the words also in attributedBody, the values the phone's newer columns hold for a text
// message instead of NULL. ?1 is the message's ROWID. `countsNanoseconds` is asked only of a
// target that needs the statement.
platform::SqliteStmtPtr PrepareCompletion(MergeConnection& conn, sqlite3* db,
                                          const std::vector<std::string>& columns,
                                          const std::function<bool()>& countsNanoseconds) {
    const std::vector<std::string_view>* exported = Ios7ColumnsOf("message");
    if (exported == nullptr || columns.size() <= exported->size()) {
        return nullptr;
    }
    if (sqlite3_create_function_v2(db, "tolvane_message_body", 1,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   &MessageBodyFunction, nullptr, nullptr, nullptr) != SQLITE_OK) {
        return nullptr;
    }
    std::string sql =
        "UPDATE message SET attributedBody = CASE WHEN attributedBody IS NULL AND text IS NOT "
        "NULL AND text <> '' THEN tolvane_message_body(text) ELSE attributedBody END";
    if (countsNanoseconds()) {
        for (const char* date : {"date", "date_read", "date_delivered"}) {
            sql += std::string(", ") + date + " = CASE WHEN " + date + " <> 0 AND abs(" + date +
                   ") < " + kSecondsBound + " THEN " + date + " * 1000000000 ELSE " + date + " END";
        }
    }
    // The phone's own address the message went to or came in on: the account without its
    // "P:" / "E:" kind.
    if (Has(columns, "destination_caller_id")) {
        sql +=
            ", destination_caller_id = coalesce(destination_caller_id, CASE WHEN account LIKE "
            "'_:%' THEN substr(account, 3) ELSE account END)";
    }
    if (Has(columns, "part_count")) {
        sql += ", part_count = coalesce(part_count, 1)";
    }
    if (Has(columns, "sort_id")) {
        sql += ", sort_id = coalesce(sort_id, 0)";
    }
    sql += " WHERE ROWID = ?1;";
    return conn.Prepare(sql.c_str());
}

// The conversation of a correspondent: the chat that has this handle as its only member. A
// phone's chat and handle ROWIDs part ways as soon as a conversation is deleted or a group is
// started, so the chat whose ROWID equals the handle's may be someone else's conversation, or
// a group's; it is taken only when the handle has no chat of its own.
constexpr char kChatOfHandleQuery[] =
    "SELECT coalesce((SELECT j.chat_id FROM chat_handle_join j JOIN chat c ON c.ROWID = "
    "j.chat_id WHERE j.handle_id = ?1 AND (SELECT count(*) FROM chat_handle_join k WHERE "
    "k.chat_id = j.chat_id) = 1 ORDER BY j.chat_id LIMIT 1), ?1);";

// Merges every record whose handle exists in the target. Each record is one row of `message`;
// a message that went in joins its correspondent's chat (with the message's date where the
// join keeps it, as from iOS 11).
}  // namespace

MessageExportMerger::MessageExportMerger(sqlite3* db)
    : db_(db),
      conn_(db),
      handleQuery_([this] { return conn_.Prepare("select * from handle where ROWID=?1;"); }),
      completion_([this] {
          const std::vector<std::string>& columns = conn_.ColumnsOf("message");
          return PrepareCompletion(conn_, db_, columns,
                                   [&] { return CountsNanoseconds(conn_, columns); });
      }),
      chatQuery_([this] { return conn_.Prepare(kChatOfHandleQuery); }),
      joinInsert_([this] {
          return conn_.Prepare(
              Has(conn_.ColumnsOf("chat_message_join"), "message_date")
                  ? "INSERT INTO chat_message_join(chat_id, message_id, message_date) "
                    "VALUES(?1, ?2, coalesce((SELECT date FROM message WHERE ROWID = ?2), 0));"
                  : "INSERT INTO chat_message_join(chat_id, message_id) VALUES(?1,?2);");
      }) {}

int32_t MergeMessageExport(BackupEngine& engine, sqlite3* db, std::string_view bytes,
                           MergeTally* tally) {
    MessageExportMerger merger(db);
    return merger.Merge(engine, bytes, tally);
}

int32_t MessageExportMerger::Merge(BackupEngine& engine, std::string_view bytes,
                                   MergeTally* tally) {
    MergeTally counted;
    MergeConnection& conn = conn_;
    conn.Begin(bytes.size());
    // Only the probe of the correspondent is needed before the first record the target takes;
    // the rest is prepared when a message has gone in.
    sqlite3_stmt* const handleQuery = handleQuery_.Get();
    // A chat's members can change between merges: looked up afresh by each.
    std::unordered_map<int32_t, int64_t> chatOfHandle;
    int32_t result = 0;
    ScanMessageExport(bytes, [&](const MessageRecord& record) {
        // A record whose handle is not in the target is skipped (so is every record when the
        // target has no handle table).
        bool known = false;
        if (handleQuery != nullptr) {
            sqlite3_bind_int(handleQuery, 1, record.handleId);
            const RowOutcome probed = conn.StepOnce(handleQuery, known);
            sqlite3_reset(handleQuery);
            if (probed == RowOutcome::Fatal) {
                result = conn.FatalCode();
                return false;
            }
        }
        if (!known) {
            ++counted.unknownCorrespondent;
            return true;
        }
        // The completion asks the target how it counts dates: asked before the first row of the
        // export is in it.
        sqlite3_stmt* const complete = completion_.Get();
        std::string values(record.text);
        ExportQuotingToSql(values);
        switch (conn.InsertRecord(values, "message")) {
            case RowOutcome::Fatal:
                result = conn.FatalCode();
                return false;
            case RowOutcome::AlreadyPresent:
                ++counted.alreadyPresent;
                return true;
            case RowOutcome::Refused:
                if (record.number < kLayoutCheckRecords) {
                    engine.SetLastErrorText(kInvalidSmsFileText);
                    result = platform::IMPORT_BAD_FILE;
                    return false;
                }
                ++counted.unreadable;
                return true;
            case RowOutcome::Done:
                ++counted.added;
                break;
        }
        if (complete != nullptr) {
            sqlite3_bind_int64(complete, 1, record.messageId);
            if (conn.Run(complete) == RowOutcome::Fatal) {
                result = conn.FatalCode();
                return false;
            }
        }
        if (sqlite3_stmt* join = joinInsert_.Get(); join != nullptr) {
            // Looked up once per correspondent: the join table has no index by handle.
            int64_t chat = record.handleId;
            if (const auto cached = chatOfHandle.find(record.handleId);
                cached != chatOfHandle.end()) {
                chat = cached->second;
            } else if (sqlite3_stmt* query = chatQuery_.Get(); query != nullptr) {
                sqlite3_bind_int(query, 1, record.handleId);
                bool hasRow = false;
                const RowOutcome probed = conn.StepOnce(query, hasRow);
                if (probed == RowOutcome::Fatal) {
                    sqlite3_reset(query);
                    result = conn.FatalCode();
                    return false;
                }
                if (hasRow) {
                    chat = sqlite3_column_int64(query, 0);
                }
                sqlite3_reset(query);
                chatOfHandle.emplace(record.handleId, chat);
            }
            sqlite3_bind_int64(join, 1, chat);
            sqlite3_bind_int(join, 2, record.messageId);
            // A failed join (already present, say) is ignored; a failed database is not.
            if (conn.Run(join) == RowOutcome::Fatal) {
                result = conn.FatalCode();
                return false;
            }
        }
        return true;
    });
    if (result == 0) {
        result = conn.Commit();
    } else {
        conn.Rollback();
    }
    if (tally != nullptr) {
        *tally = counted;
    }
    return result;
}

int32_t MergeMessages(BackupEngine& engine, const std::string& targetDb,
                      const std::string& exportPath, MergeTally* tally) {
    return RunMerge(engine, targetDb, exportPath, kSmsTempName,
                    [&engine, tally](sqlite3* db, std::string_view bytes) {
                        return MergeMessageExport(engine, db, bytes, tally);
                    });
}

}  // namespace tolvane
