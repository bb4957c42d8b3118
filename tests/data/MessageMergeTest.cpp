#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "data/DataTexts.h"
#include "data/MergeSupport.h"
#include "data/MessageMerge.h"
#include "platform/Results.h"
#include "tests/data/DataFixture.h"
#include "tests/data/ExportRecords.h"
#include "tests/tools/ExportWriter.h"

namespace tolvane {
namespace {

using testdata::SmsRecord;
using testkit::DumpRows;

constexpr char kMessages[] = "select ROWID, text, handle_id from message order by ROWID;";
constexpr char kJoins[] = "select chat_id, message_id from chat_message_join order by 2, 1;";

class MessageMergeTest : public testdata::DataFixture {
  protected:
    // A target with correspondents 1 and 2 and one message of its own (ROWID 5).
    std::string TargetWithMessage() {
        const std::string path = MakeSmsTarget("target.db", 2);
        testkit::Database db(path);
        testkit::MessageRow row;
        row.rowid = 5;
        row.text = "keep me";
        row.handleId = 1;
        EXPECT_TRUE(testkit::AddMessage(db, row));
        return path;
    }

    // Records 0..count-1 with ROWIDs 100.., all for handle 1, the one at `bad` given 39 values.
    static std::string FileWithBadRecord(int count, int bad) {
        std::string file;
        for (int n = 0; n < count; ++n) {
            file += SmsRecord(100 + n, "\"m" + std::to_string(n) + "\"", 1, n == bad ? "0,0" : "0");
        }
        return file;
    }
};

TEST_F(MessageMergeTest, GeneratedExportRoundTripsIntoABackupWithTheSameCorrespondents) {
    const std::string source = Path("source.db");
    ASSERT_TRUE(testkit::CreateSmsDb(source));
    {
        testkit::Database db(source);
        ASSERT_TRUE(testkit::FillSms(db, 4, 70));
    }
    const std::string csv = Path("sms.csv");
    ASSERT_TRUE(testkit::WriteSmsExport(source, csv));
    const std::string target = MakeSmsTarget("target.db", 4);

    ASSERT_EQ(MergeMessages(engine_, target, csv), 0);

    // Every column of every row arrives; a double quote inside a text becomes an apostrophe.
    std::vector<std::string> expected = DumpRows(source, "select * from message order by ROWID;");
    for (std::string& row : expected) {
        std::replace(row.begin(), row.end(), '"', '\'');
    }
    ASSERT_EQ(expected.size(), 70u);
    EXPECT_EQ(DumpRows(target, "select * from message order by ROWID;"), expected);
    EXPECT_EQ(DumpRows(target, kJoins), DumpRows(source, kJoins));
    EXPECT_TRUE(LeftInDataFolder().empty());
}

TEST_F(MessageMergeTest, TextsGoInAsTheirBytes) {
    const std::string target = MakeSmsTarget("target.db", 1);
    const std::string csv = Write(
        "sms.csv", SmsRecord(1, "\"It's mine\"", 1) + SmsRecord(2, "\"say \"\"hi\"\"\"", 1) +
                       SmsRecord(3, "\"a, b\r\nc,\"", 1) + SmsRecord(4, "\"caf\xE9 \xFF\xFE\"", 1) +
                       SmsRecord(5, "\"\xF0\x9F\x98\x80 ok\"", 1) + SmsRecord(6, "NULL", 1));
    ASSERT_EQ(MergeMessages(engine_, target, csv), 0);
    EXPECT_EQ(DumpRows(target, kMessages),
              (std::vector<std::string>{"i:1|t:It's mine|i:1", "i:2|t:say 'hi'|i:1",
                                        "i:3|t:a, b\r\nc,|i:1", "i:4|t:caf\xE9 \xFF\xFE|i:1",
                                        "i:5|t:\xF0\x9F\x98\x80 ok|i:1", "i:6|NULL|i:1"}));
}

TEST_F(MessageMergeTest, OnlyRecordsEndedByCrLfAreImported) {
    const std::string target = MakeSmsTarget("target.db", 1);
    const std::string before = testenv::ReadFile(target);

    EXPECT_EQ(MergeMessages(engine_, target, Write("empty.csv", "")), 0);
    EXPECT_EQ(testenv::ReadFile(target), before);

    std::string lfOnly = SmsRecord(1, "\"a\"", 1) + SmsRecord(2, "\"b\"", 1);
    lfOnly.erase(std::remove(lfOnly.begin(), lfOnly.end(), '\r'), lfOnly.end());
    EXPECT_EQ(MergeMessages(engine_, target, Write("lf.csv", lfOnly)), 0);
    EXPECT_TRUE(DumpRows(target, kMessages).empty());

    std::string cut = SmsRecord(1, "\"a\"", 1) + SmsRecord(2, "\"b\"", 1);
    cut.resize(cut.size() - 2);
    EXPECT_EQ(MergeMessages(engine_, target, Write("cut.csv", cut)), 0);
    EXPECT_EQ(DumpRows(target, kMessages), std::vector<std::string>{"i:1|t:a|i:1"});
}

TEST_F(MessageMergeTest, UnknownHandlesAndPresentMessagesAreSkippedWithoutError) {
    const std::string target = TargetWithMessage();
    // Record 0 repeats ROWID 5: already present, skipped although it is among the first ten.
    const std::string csv =
        Write("sms.csv", SmsRecord(5, "\"new\"", 1) + SmsRecord(6, "\"nobody\"", 99) +
                             SmsRecord(7, "\"seven\"", 2) + SmsRecord(7, "\"again\"", 2));
    ASSERT_EQ(MergeMessages(engine_, target, csv), 0);
    EXPECT_EQ(DumpRows(target, kMessages),
              (std::vector<std::string>{"i:5|t:keep me|i:1", "i:7|t:seven|i:2"}));
    EXPECT_EQ(DumpRows(target, kJoins), (std::vector<std::string>{"i:1|i:5", "i:2|i:7"}));
}

TEST_F(MessageMergeTest, LayoutErrorsRefuseTheFileOnlyInTheFirstTenRecords) {
    for (const int bad : {0, 3, 9}) {
        SCOPED_TRACE(bad);
        const std::string target = MakeSmsTarget("refused" + std::to_string(bad) + ".db", 1);
        const std::string before = testenv::ReadFile(target);
        engine_.SetLastErrorText("");
        EXPECT_EQ(MergeMessages(engine_, target, Write("bad.csv", FileWithBadRecord(14, bad))),
                  platform::IMPORT_BAD_FILE);
        EXPECT_EQ(engine_.GetLastErrorText(), kInvalidSmsFileText);
        EXPECT_EQ(testenv::ReadFile(target), before);
        EXPECT_TRUE(LeftInDataFolder().empty());
    }
    for (const int bad : {10, 12}) {
        SCOPED_TRACE(bad);
        const std::string target = MakeSmsTarget("skipped" + std::to_string(bad) + ".db", 1);
        engine_.SetLastErrorText("");
        EXPECT_EQ(MergeMessages(engine_, target, Write("bad.csv", FileWithBadRecord(14, bad))), 0);
        EXPECT_EQ(engine_.GetLastErrorText(), "");
        const auto rows = DumpRows(target, "select ROWID from message order by ROWID;");
        EXPECT_EQ(rows.size(), 13u);
        EXPECT_EQ(std::count(rows.begin(), rows.end(), "i:" + std::to_string(100 + bad)), 0);
    }
}

TEST_F(MessageMergeTest, OneMergerTakesSeveralExportsAndARefusedOneLeavesNothingBehind) {
    const std::string target = TargetWithMessage();
    {
        testkit::Database db(target);
        MessageExportMerger merger(db.Get());
        MergeTally tally;
        ASSERT_EQ(merger.Merge(engine_, SmsRecord(10, "\"ten\"", 1), &tally), 0);
        EXPECT_EQ(tally.added, 1);
        // Nine good records and a bad tenth: refused, and the nine do not stay.
        EXPECT_EQ(merger.Merge(engine_, FileWithBadRecord(10, 9)), platform::IMPORT_BAD_FILE);
        // The next merge has a transaction of its own again and keeps the statements.
        ASSERT_EQ(merger.Merge(engine_, SmsRecord(11, "\"eleven\"", 2) + SmsRecord(10, "\"x\"", 1),
                               &tally),
                  0);
        EXPECT_EQ(tally.added, 1);
        EXPECT_EQ(tally.alreadyPresent, 1);
        EXPECT_FALSE(sqlite3_get_autocommit(db.Get()) == 0) << "a transaction was left open";
    }
    EXPECT_EQ(
        DumpRows(target, kMessages),
        (std::vector<std::string>{"i:5|t:keep me|i:1", "i:10|t:ten|i:1", "i:11|t:eleven|i:2"}));
    EXPECT_EQ(DumpRows(target, kJoins),
              (std::vector<std::string>{"i:1|i:5", "i:1|i:10", "i:2|i:11"}));
}

TEST_F(MessageMergeTest, AFileOfExactlySixtyFourMebibytesIsReadOneByteMoreIsRefused) {
    const std::string target = MakeSmsTarget("target.db", 1);
    const std::string before = testenv::ReadFile(target);
    std::string file = SmsRecord(1, "\"first\"", 1) + SmsRecord(2, "\"second\"", 1);
    file.resize(kMaxExportBytes + 1, 'x');  // the padding is an unended last record

    EXPECT_EQ(MergeMessages(engine_, target, Write("over.csv", file)), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), "Invalid file format,Import file failed.");
    EXPECT_EQ(testenv::ReadFile(target), before);

    file.resize(kMaxExportBytes);
    EXPECT_EQ(MergeMessages(engine_, target, Write("exact.csv", file)), 0);
    EXPECT_EQ(DumpRows(target, "select ROWID from message;").size(), 2u);
    EXPECT_TRUE(LeftInDataFolder().empty());
}

// What the record would do if its text went into SQL unchecked, run on a scratch copy: proves that
// each crafted record below is a real attack and not merely a broken row.
void ExpectAttackWorksWhenUnchecked(const std::string& db, const std::string& record,
                                    const std::string& check, const std::string& attacked) {
    std::string values = record.substr(0, record.size() - 1);
    ExportQuotingToSql(values);
    testkit::Database scratch(db);
    const std::string sql = "INSERT INTO message VALUES(" + values + ");";
    sqlite3_exec(scratch.Get(), sql.c_str(), nullptr, nullptr, nullptr);
    EXPECT_EQ(scratch.Rows(check), std::vector<std::string>{attacked}) << sql;
}

TEST_F(MessageMergeTest, ARecordCanOnlyEverInsertOneMessage) {
    const std::string drop = SmsRecord(30, "\"x\"", 1, "0);DROP TABLE handle;--");
    const std::string upsert =
        SmsRecord(5, "\"y\"", 1, "0) ON CONFLICT(ROWID) DO UPDATE SET text=\"pwned\" WHERE (1");
    std::string subquery = SmsRecord(32, "\"z\"", 1);
    subquery.replace(subquery.find(",NULL,\"us\""), 5, ",(SELECT count(*) FROM handle)");

    ExpectAttackWorksWhenUnchecked(TargetWithMessage(), drop,
                                   "select count(*) from sqlite_master where name='handle';",
                                   "i:0");
    testenv::RemoveTree(Path("target.db"));
    ExpectAttackWorksWhenUnchecked(TargetWithMessage(), upsert,
                                   "select text from message where ROWID=5;", "t:pwned");
    testenv::RemoveTree(Path("target.db"));

    const std::string target = TargetWithMessage();
    const auto schemaBefore = DumpRows(target, "select name from sqlite_master order by name;");
    std::string file;
    for (int n = 0; n < 12; ++n) {
        file += SmsRecord(100 + n, "\"ok\"", 2);
    }
    file += drop + upsert + subquery + SmsRecord(200, "\"last\"", 2);
    ASSERT_EQ(MergeMessages(engine_, target, Write("sms.csv", file)), 0);
    EXPECT_EQ(DumpRows(target, "select name from sqlite_master order by name;"), schemaBefore);
    EXPECT_EQ(DumpRows(target, "select text from message where ROWID=5;"),
              std::vector<std::string>{"t:keep me"});
    EXPECT_TRUE(DumpRows(target, "select ROWID from message where ROWID in (30,32);").empty());
    EXPECT_EQ(DumpRows(target, "select ROWID from message;").size(), 14u);

    // Among the first ten records such a record counts as a layout error of the file.
    const std::string second = MakeSmsTarget("second.db", 2);
    EXPECT_EQ(MergeMessages(engine_, second, Write("first.csv", drop)), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(DumpRows(second, "select count(*) from handle;"), std::vector<std::string>{"i:2"});
}

TEST_F(MessageMergeTest, FileErrorsAreReportedWithTheSystemCodeAndChangeNothing) {
    const std::string target = MakeSmsTarget("target.db", 1);
    const std::string before = testenv::ReadFile(target);
    EXPECT_EQ(MergeMessages(engine_, target, Path("missing.csv")), 2);
    EXPECT_EQ(MergeMessages(engine_, target, dir_.Path()), 5);
    EXPECT_EQ(testenv::ReadFile(target), before);
    EXPECT_EQ(
        MergeMessages(engine_, Path("missing.db"), Write("sms.csv", SmsRecord(1, "\"a\"", 1))), 2);
    EXPECT_FALSE(platform::PathExists(Path("missing.db")));
    EXPECT_TRUE(LeftInDataFolder().empty());
}

}  // namespace
}  // namespace tolvane
