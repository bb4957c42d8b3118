#include "data/ContactMerge.h"

#include <atomic>

#include "data/ContactRows.h"
#include "data/DataTexts.h"
#include "data/ExportScan.h"
#include "data/MergeSupport.h"
#include "engine/BackupEngine.h"
#include "platform/Results.h"
#include "platform/Time.h"

namespace tolvane {
namespace {

constexpr char kContactsTempName[] = "contactssqlite.tmp";

// The last multi-value UID this process gave out; the next one follows it when the table's
// maximum cannot be read.
std::atomic<int32_t> gLastMultiValueUid{0};

// The creation time of contacts made now, worked out again only when the second changes.
class CreationClock {
  public:
    int32_t Now() {
        const int64_t second = platform::UnixNow();
        if (second != second_) {
            second_ = second;
            value_ = ContactCreationTime();
        }
        return value_;
    }

  private:
    int64_t second_ = -1;
    int32_t value_ = 0;
};

RowOutcome BindTextAndRun(MergeConnection& conn, sqlite3_stmt* stmt, int index,
                          std::string_view text) {
    sqlite3_bind_text(stmt, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
    return conn.Run(stmt);
}

}  // namespace

ContactExportMerger::ContactExportMerger(sqlite3* db)
    : conn_(db),
      maxUid_([this] { return conn_.Prepare("SELECT MAX(UID) FROM ABMultiValue;"); }),
      // Values the merge makes itself are bound, never spliced into SQL text.
      phoneInsert_([this] {
          return conn_.Prepare(
              "INSERT INTO ABMultiValue(UID, record_id, property, identifier, label, value, "
              "guid) VALUES(?1,?2,3,0,1,?3,?4);");
      }),
      extraInsert_([this] {
          return conn_.Prepare(
              "INSERT INTO ABMultiValue(UID, record_id, property, identifier, label, value, "
              "guid) VALUES(?1,?2,46,0,NULL,NULL,?3);");
      }) {}

int32_t MergeContactExport(BackupEngine& engine, sqlite3* db, std::string_view bytes,
                           MergeTally* tally) {
    ContactExportMerger merger(db);
    return merger.Merge(engine, bytes, tally);
}

int32_t ContactExportMerger::Merge(BackupEngine& engine, std::string_view bytes,
                                   MergeTally* tally) {
    MergeTally counted;
    MergeConnection& conn = conn_;
    conn.Begin(bytes.size());
    // The statements below are prepared when the first contact has gone in.
    LazyStatement& maxUid = maxUid_;
    LazyStatement& phoneInsert = phoneInsert_;
    LazyStatement& extraInsert = extraInsert_;
    CreationClock clock;
    int32_t result = 0;
    auto fail = [&]() {
        result = conn.FatalCode();
        return false;
    };
    ScanContactExport(bytes, [&](const ContactRecord& record) {
        const std::string extra = ExtraText(record);

        std::string values = SearchRowValues(record, extra);
        ExportQuotingToSql(values);
        switch (conn.InsertRecord(values, "ABPersonFullTextSearch_content")) {
            case RowOutcome::Fatal:
                return fail();
            case RowOutcome::AlreadyPresent:
                ++counted.alreadyPresent;
                return true;
            case RowOutcome::Refused:
                if (record.number < kLayoutCheckRecords) {
                    engine.SetLastErrorText(kInvalidContactsFileText);
                    result = platform::IMPORT_BAD_FILE;
                    return false;
                }
                ++counted.unreadable;
                return true;
            case RowOutcome::Done:
                ++counted.added;
                break;
        }

        // The rows below may fail on their own (a person already there, a missing table); the
        // contact then stays partly written, as the search row alone.
        values = PersonRowValues(record, extra, clock.Now());
        ExportQuotingToSql(values);
        if (conn.InsertRecord(values, "ABPerson") == RowOutcome::Fatal) {
            return fail();
        }

        int32_t uid = gLastMultiValueUid.load() + 1;
        if (sqlite3_stmt* const max = maxUid.Get(); max != nullptr) {
            bool hasRow = false;
            const RowOutcome probed = conn.StepOnce(max, hasRow);
            if (probed == RowOutcome::Fatal) {
                sqlite3_reset(max);
                return fail();
            }
            if (hasRow) {
                // MAX over no rows is NULL, read as 0.
                uid = sqlite3_column_int(max, 0) + 1;
            }
            sqlite3_reset(max);
        }

        if (sqlite3_stmt* const phone = phoneInsert.Get(); phone != nullptr) {
            sqlite3_bind_int(phone, 1, uid);
            sqlite3_bind_int(phone, 2, record.personId);
            const std::string_view token = PhoneToken(record);
            // An empty token is an empty text, not NULL.
            sqlite3_bind_text(phone, 3, token.empty() ? "" : token.data(),
                              static_cast<int>(token.size()), SQLITE_TRANSIENT);
            if (BindTextAndRun(conn, phone, 4, RecordIdentifier(uid)) == RowOutcome::Fatal) {
                return fail();
            }
        }
        gLastMultiValueUid.store(uid);

        if (!extra.empty()) {
            ++uid;
            if (sqlite3_stmt* const insert = extraInsert.Get(); insert != nullptr) {
                sqlite3_bind_int(insert, 1, uid);
                sqlite3_bind_int(insert, 2, record.personId);
                if (BindTextAndRun(conn, insert, 3, RecordIdentifier(uid)) == RowOutcome::Fatal) {
                    return fail();
                }
            }
            gLastMultiValueUid.store(uid);
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

int32_t MergeContacts(BackupEngine& engine, const std::string& targetDb,
                      const std::string& exportPath, MergeTally* tally) {
    return RunMerge(engine, targetDb, exportPath, kContactsTempName,
                    [&engine, tally](sqlite3* db, std::string_view bytes) {
                        return MergeContactExport(engine, db, bytes, tally);
                    });
}

}  // namespace tolvane
