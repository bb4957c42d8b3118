#include "data/MessageMerge.h"

#include "data/DataTexts.h"
#include "data/ExportScan.h"
#include "data/MergeSupport.h"
#include "engine/BackupEngine.h"
#include "platform/Results.h"

namespace tolvane {
namespace {

constexpr char kSmsTempName[] = "smssqlite.tmp";

// Merges every record whose handle exists in the target. Each record is one row of `message`;
// a message that went in joins the chat whose ROWID is its handle's ROWID.
}  // namespace

int32_t MergeMessageExport(BackupEngine& engine, sqlite3* db, std::string_view bytes,
                           MergeTally* tally) {
    MergeTally counted;
    MergeConnection conn(db);
    conn.Begin(bytes.size());
    const platform::SqliteStmtPtr handleQuery =
        conn.Prepare("select * from handle where ROWID=?1;");
    const platform::SqliteStmtPtr joinInsert =
        conn.Prepare("INSERT INTO chat_message_join VALUES(?1,?2);");
    int32_t result = 0;
    ScanMessageExport(bytes, [&](const MessageRecord& record) {
        // A record whose handle is not in the target is skipped (so is every record when the
        // target has no handle table).
        bool known = false;
        if (handleQuery != nullptr) {
            sqlite3_bind_int(handleQuery.get(), 1, record.handleId);
            const RowOutcome probed = conn.StepOnce(handleQuery.get(), known);
            sqlite3_reset(handleQuery.get());
            if (probed == RowOutcome::Fatal) {
                result = conn.FatalCode();
                return false;
            }
        }
        if (!known) {
            ++counted.unknownCorrespondent;
            return true;
        }
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
        if (joinInsert != nullptr) {
            sqlite3_bind_int(joinInsert.get(), 1, record.handleId);
            sqlite3_bind_int(joinInsert.get(), 2, record.messageId);
            // A failed join (already present, say) is ignored; a failed database is not.
            if (conn.Run(joinInsert.get()) == RowOutcome::Fatal) {
                result = conn.FatalCode();
                return false;
            }
        }
        return true;
    });
    if (result == 0) {
        result = conn.Commit();
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
