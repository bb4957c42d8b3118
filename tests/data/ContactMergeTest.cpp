#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "data/ContactMerge.h"
#include "data/DataTexts.h"
#include "platform/Results.h"
#include "platform/Time.h"
#include "tests/data/DataFixture.h"
#include "tests/data/ExportRecords.h"
#include "tests/tools/ExportWriter.h"

namespace tolvane {
namespace {

using testdata::ContactRecord;
using testkit::DumpRows;
using Rows = std::vector<std::string>;

constexpr char kMultiValues[] =
    "select UID, record_id, property, identifier, label, value, guid from ABMultiValue "
    "order by UID;";
constexpr char kGuid[] = "27B99F78-F6F0-475F-8BA1-";
// Seconds from 1970-01-01 to 2001-01-01, the epoch the creation time is counted from in effect.
constexpr int64_t kEpoch2001 = 978307200;

class ContactMergeTest : public testdata::DataFixture {
  protected:
    std::string Merge(const std::string& target, const std::string& file, int32_t expected = 0) {
        const std::string csv = Write("contacts.csv", file);
        EXPECT_EQ(MergeContacts(engine_, target, csv), expected);
        return csv;
    }
};

TEST_F(ContactMergeTest, GeneratedExportRoundTripsIntoAnEmptyContactsDatabase) {
    const std::string source = Path("source.db");
    ASSERT_TRUE(testkit::CreateAddressBookDb(source));
    {
        testkit::Database db(source);
        ASSERT_TRUE(testkit::FillContacts(db, 40));
    }
    const std::string csv = Path("contacts.csv");
    ASSERT_TRUE(testkit::WriteContactsExport(source, csv));
    const std::string target = MakeContactsTarget("target.db");
    ASSERT_EQ(MergeContacts(engine_, target, csv), 0);

    auto sourceRows = [&](const char* sql) {
        Rows rows = DumpRows(source, sql);
        for (std::string& row : rows) {
            std::replace(row.begin(), row.end(), '"', '\'');
        }
        return rows;
    };
    EXPECT_EQ(DumpRows(target,
                       "select docid, c0First, c1Last, c15Phone, c16Email from "
                       "ABPersonFullTextSearch_content order by docid;"),
              sourceRows("select docid, c0First, c1Last, c15Phone, c16Email from "
                         "ABPersonFullTextSearch_content order by docid;"));
    EXPECT_EQ(DumpRows(target, "select ROWID, First, Last, guid from ABPerson order by ROWID;"),
              sourceRows("select docid, c0First, c1Last, printf('27B99F78-F6F0-475F-8BA1-%012X', "
                         "docid) from ABPersonFullTextSearch_content order by docid;"));
    // One phone row per contact (the first number) and a further row for every contact whose
    // organization, note or e-mail address went into its note.
    EXPECT_EQ(DumpRows(target,
                       "select record_id, value from ABMultiValue where property=3 "
                       "order by record_id;"),
              DumpRows(source,
                       "select docid, substr(c15Phone, 1, instr(c15Phone, ' ') - 1) "
                       "from ABPersonFullTextSearch_content order by docid;"));
    EXPECT_EQ(DumpRows(target,
                       "select record_id from ABMultiValue where property=46 "
                       "order by record_id;"),
              DumpRows(source,
                       "select docid from ABPersonFullTextSearch_content where "
                       "coalesce(c6Organization, c8Note, c16Email) is not null "
                       "order by docid;"));
    EXPECT_EQ(DumpRows(target, "select count(*) from ABMultiValue;"), Rows{"i:54"});
    EXPECT_TRUE(LeftInDataFolder().empty());
}

TEST_F(ContactMergeTest, EachRecordBecomesASearchRowAPersonAndItsMultiValues) {
    const std::string target = MakeContactsTarget("target.db");
    Merge(target, ContactRecord(42, {{1, "\"Ann\""},
                                     {2, "\"Lee\""},
                                     {9, "\"likes tea\""},
                                     {16, "\"5551234567 15551234567\""},
                                     {17, "\"ann@example.org\""}}) +
                      ContactRecord(43, {{1, "\"Bo\""}, {16, "\"+1 555 123 4567\""}}) +
                      ContactRecord(44, {{2, "\"O'Brien\""}, {16, "\"5551234\""}}));

    EXPECT_EQ(DumpRows(target,
                       "select docid, c0First, c1Last, c8Note, c15Phone, c16Email "
                       "from ABPersonFullTextSearch_content order by docid;"),
              (Rows{"i:42|t:Ann|t:Lee|t:likes tea\nann@example.org\n|t:5551234567 "
                    "15551234567|t:ann@example.org",
                    "i:43|t:Bo|NULL|NULL|t:+1 555 123 4567|NULL",
                    "i:44|NULL|t:O'Brien|NULL|t:5551234|NULL"}));

    const std::string personColumns =
        "ROWID,First,Last,Middle,Organization,Department,Note,Kind,Birthday,Suffix,FirstSort,"
        "CompositeNameFallback,StoreID,DisplayName,FirstSortLanguageIndex,LastSortLanguageIndex,"
        "PersonLink,ImageURI,IsPreferredName,guid,PhonemeData";
    EXPECT_EQ(DumpRows(target, "select " + personColumns + " from ABPerson order by ROWID;"),
              (Rows{"i:42|t:Ann|t:Lee|NULL|NULL|NULL|t:likes tea\nann@example.org\n|i:0|NULL|"
                    "NULL|NULL|NULL|i:0|NULL|i:0|i:0|i:-1|NULL|i:1|t:" +
                        std::string(kGuid) + "00000000002A|NULL",
                    "i:43|t:Bo|NULL|NULL|NULL|NULL|NULL|i:0|NULL|NULL|NULL|NULL|i:0|NULL|i:0|i:0|"
                    "i:-1|NULL|i:1|t:" +
                        std::string(kGuid) + "00000000002B|NULL",
                    "i:44|NULL|t:O'Brien|NULL|NULL|NULL|NULL|i:0|NULL|NULL|NULL|NULL|i:0|NULL|"
                    "i:0|i:0|i:-1|NULL|i:1|t:" +
                        std::string(kGuid) + "00000000002C|NULL"}));

    // Created now, counted from 2001 (the leap days of the two spans may differ by one).
    testkit::Database db(target, true);
    const int64_t created = db.Scalar("select CreationDate from ABPerson where ROWID=42;");
    EXPECT_NEAR(static_cast<double>(created), static_cast<double>(platform::UnixNow() - kEpoch2001),
                2 * 86400.0);
    EXPECT_EQ(db.Scalar("select count(*) from ABPerson where ModificationDate=CreationDate;"), 3);

    // Phone tokens: the first number; up to the first blank from position 4 when the first
    // number is short; empty when there is no such blank. UIDs follow one another.
    EXPECT_EQ(DumpRows(target, kMultiValues),
              (Rows{"i:1|i:42|i:3|i:0|i:1|t:5551234567|t:" + std::string(kGuid) + "000000000001",
                    "i:2|i:42|i:46|i:0|NULL|NULL|t:" + std::string(kGuid) + "000000000002",
                    "i:3|i:43|i:3|i:0|i:1|t:+1 555|t:" + std::string(kGuid) + "000000000003",
                    "i:4|i:44|i:3|i:0|i:1|t:|t:" + std::string(kGuid) + "000000000004"}));
}

TEST_F(ContactMergeTest, UidsContinueFromTheTablesMaximum) {
    const std::string target = MakeContactsTarget("target.db");
    {
        testkit::Database db(target);
        ASSERT_TRUE(db.Exec("INSERT INTO ABMultiValue VALUES(7,1,3,0,1,'555','G7');"));
    }
    Merge(target, ContactRecord(2, {{1, "\"A\""}}) + ContactRecord(3, {{1, "\"B\""}}));
    EXPECT_EQ(DumpRows(target, "select UID, record_id from ABMultiValue order by UID;"),
              (Rows{"i:7|i:1", "i:8|i:2", "i:9|i:3"}));
}

TEST_F(ContactMergeTest, AContactAlreadyPresentIsSkippedWhereverItStands) {
    const std::string target = MakeContactsTarget("target.db");
    {
        testkit::Database db(target);
        ASSERT_TRUE(testkit::AddContact(db, {1, "Old", "Name", {}, {}, "5550001111 1", {}}));
    }
    const Rows before = DumpRows(target, "select * from ABPersonFullTextSearch_content;");
    Merge(target,
          ContactRecord(1, {{1, "\"New\""}, {17, "\"x@y.z\""}}) + ContactRecord(2, {{1, "\"C\""}}));
    EXPECT_EQ(DumpRows(target, "select * from ABPersonFullTextSearch_content where docid=1;"),
              before);
    EXPECT_EQ(DumpRows(target, "select First from ABPerson order by ROWID;"),
              (Rows{"t:Old", "t:C"}));
    EXPECT_EQ(DumpRows(target, "select record_id from ABMultiValue order by UID;"),
              (Rows{"i:1", "i:2"}));
}

TEST_F(ContactMergeTest, LayoutErrorsRefuseTheFileOnlyInTheFirstTenRecords) {
    auto file = [](int bad) {
        std::string text;
        for (int n = 0; n < 13; ++n) {
            std::string record = ContactRecord(100 + n, {{1, "\"c\""}});
            if (n == bad) {
                record.insert(record.size() - 2, ",NULL");  // 25 values
            }
            text += record;
        }
        return text;
    };
    for (const int bad : {0, 9}) {
        SCOPED_TRACE(bad);
        const std::string target = MakeContactsTarget("refused" + std::to_string(bad) + ".db");
        const std::string before = testenv::ReadFile(target);
        Merge(target, file(bad), platform::IMPORT_BAD_FILE);
        EXPECT_EQ(engine_.GetLastErrorText(), kInvalidContactsFileText);
        EXPECT_EQ(testenv::ReadFile(target), before);
        EXPECT_TRUE(LeftInDataFolder().empty());
    }
    engine_.SetLastErrorText("");
    const std::string target = MakeContactsTarget("skipped.db");
    Merge(target, file(10));
    EXPECT_EQ(engine_.GetLastErrorText(), "");
    EXPECT_EQ(DumpRows(target, "select count(*) from ABPerson where ROWID<>110;"), Rows{"i:12"});
    EXPECT_EQ(DumpRows(target, "select count(*) from ABMultiValue where record_id=110;"),
              Rows{"i:0"});
}

TEST_F(ContactMergeTest, OneMergerTakesSeveralExportsAndARefusedOneLeavesNothingBehind) {
    const std::string target = MakeContactsTarget("target.db");
    {
        testkit::Database db(target);
        ContactExportMerger merger(db.Get());
        ASSERT_EQ(merger.Merge(engine_, ContactRecord(2, {{1, "\"A\""}})), 0);
        std::string refused = ContactRecord(3, {{1, "\"B\""}}) + ContactRecord(4, {{1, "\"C\""}});
        refused.insert(refused.size() - 2, ",NULL");  // the second record has 25 values
        EXPECT_EQ(merger.Merge(engine_, refused), platform::IMPORT_BAD_FILE);
        ASSERT_EQ(merger.Merge(engine_, ContactRecord(5, {{1, "\"D\""}})), 0);
        EXPECT_FALSE(sqlite3_get_autocommit(db.Get()) == 0) << "a transaction was left open";
    }
    EXPECT_EQ(DumpRows(target, "select ROWID, First from ABPerson order by ROWID;"),
              (Rows{"i:2|t:A", "i:5|t:D"}));
    // The UIDs go on from the table's maximum after the refused merge as before it.
    EXPECT_EQ(DumpRows(target, "select UID, record_id from ABMultiValue order by UID;"),
              (Rows{"i:1|i:2", "i:2|i:5"}));
}

TEST_F(ContactMergeTest, ExportTextCannotReachBeyondItsOwnRows) {
    const std::string target = MakeContactsTarget("target.db");
    const Rows schema = DumpRows(target, "select name from sqlite_master order by name;");
    std::string file;
    for (int n = 0; n < 10; ++n) {
        file += ContactRecord(100 + n, {{1, "\"c\""}});
    }
    // A second statement after the last field, and one hidden in a phone number (whose first
    // blank from position 4 ends it), which spliced into SQL would close the row and go on.
    file += ContactRecord(20, {{1, "\"d\""}, {23, "NULL);DROP TABLE ABPerson;--"}});
    const std::string phone = "555','x');DROP/**/TABLE/**/ABPerson;--";
    file += ContactRecord(21, {{1, "\"e\""}, {16, "\"" + phone + " 1\""}});
    Merge(target, file);
    EXPECT_EQ(DumpRows(target, "select name from sqlite_master order by name;"), schema);
    EXPECT_EQ(DumpRows(target, "select count(*) from ABPerson where ROWID=20;"), Rows{"i:0"});
    EXPECT_EQ(DumpRows(target, "select value from ABMultiValue where record_id=21;"),
              Rows{"t:" + phone});
    EXPECT_EQ(DumpRows(target, "select count(*) from ABPerson;"), Rows{"i:11"});
}

}  // namespace
}  // namespace tolvane
