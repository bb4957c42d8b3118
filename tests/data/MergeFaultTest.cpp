// Failures in the middle of a merge: whatever breaks, the target database stays byte for byte
// as it was and no temporary file outlives the call.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <string>

#include "data/ContactMerge.h"
#include "data/MessageMerge.h"
#include "tests/data/DataFixture.h"
#include "tests/data/ExportRecords.h"
#include "tests/data/FaultyVfs.h"

namespace tolvane {
namespace {

class MergeFaultTest : public testdata::DataFixture {
  protected:
    static std::string ManyMessages(int count) {
        std::string file;
        for (int n = 1; n <= count; ++n) {
            file += testdata::SmsRecord(n, "\"message " + std::to_string(n) + "\"", 1 + n % 3);
        }
        return file;
    }
};

TEST_F(MergeFaultTest, ACommitFailingWithAFullDiskLeavesTheTargetAsItWas) {
    const std::string target = MakeSmsTarget("target.db", 3);
    const std::string before = testenv::ReadFile(target);
    const std::string csv = Write("sms.csv", ManyMessages(3000));
    int32_t result = 0;
    {
        // The 40th write to the copy or its journal fails with the disk full; the rows are held
        // in the transaction until then, so this is the commit.
        testdata::FaultyVfs vfs("smssqlite.tmp", [](const std::string&, int count) {
            return count == 40 ? SQLITE_FULL : SQLITE_OK;
        });
        result = MergeMessages(engine_, target, csv);
        EXPECT_GE(vfs.Writes(), 40);
    }
    EXPECT_EQ(result, SQLITE_FULL);
    EXPECT_EQ(testenv::ReadFile(target), before);
    EXPECT_TRUE(LeftInDataFolder().empty());

    // Without the fault the same merge goes through.
    EXPECT_EQ(MergeMessages(engine_, target, csv), 0);
    EXPECT_EQ(testkit::DumpRows(target, "select count(*) from message;"),
              std::vector<std::string>{"i:3000"});
}

TEST_F(MergeFaultTest, AContactMergeFailingHalfwayLeavesTheTargetAsItWas) {
    const std::string target = MakeContactsTarget("target.db");
    const std::string before = testenv::ReadFile(target);
    std::string file;
    for (int n = 1; n <= 2000; ++n) {
        file += testdata::ContactRecord(n, {{1, "\"c\""}, {17, "\"a@b.c\""}});
    }
    const std::string csv = Write("contacts.csv", file);
    int32_t result = 0;
    {
        // Writes fail from the 25th on, while records are still being inserted: the library
        // rolls the transaction back and the merge must stop rather than go on without it.
        testdata::FaultyVfs vfs("contactssqlite.tmp", [](const std::string&, int count) {
            return count >= 25 ? SQLITE_IOERR_WRITE : SQLITE_OK;
        });
        result = MergeContacts(engine_, target, csv);
    }
    EXPECT_EQ(result, SQLITE_IOERR);
    EXPECT_EQ(testenv::ReadFile(target), before);
    EXPECT_TRUE(LeftInDataFolder().empty());
}

TEST_F(MergeFaultTest, ACopyBackThatFailsLeavesTheTargetAsItWas) {
    // The target's folder vanishes while the merge runs, so the merged copy cannot go back.
    const std::string folder = Path("backup");
    const std::string moved = Path("backup-away");
    testenv::WriteFile(folder + "/keep", "");
    ASSERT_TRUE(testkit::CreateSmsDb(folder + "/sms.db"));
    {
        testkit::Database db(folder + "/sms.db");
        ASSERT_TRUE(testkit::AddCorrespondent(db, {1, "+15550000001"}));
    }
    const std::string target = folder + "/sms.db";
    const std::string before = testenv::ReadFile(target);
    const std::string csv = Write("sms.csv", ManyMessages(50));
    int32_t result = 0;
    {
        testdata::FaultyVfs vfs("smssqlite.tmp", [&](const std::string&, int count) {
            if (count == 1) {
                EXPECT_EQ(std::rename(folder.c_str(), moved.c_str()), 0);
            }
            return SQLITE_OK;
        });
        result = MergeMessages(engine_, target, csv);
    }
    EXPECT_EQ(result, 2);  // the target's folder is not found
    ASSERT_EQ(std::rename(moved.c_str(), folder.c_str()), 0);
    EXPECT_EQ(testenv::ReadFile(target), before);
    EXPECT_TRUE(LeftInDataFolder().empty());
}

TEST_F(MergeFaultTest, ATemporaryCopyThatCannotBeMadeChangesNothing) {
    const std::string target = MakeSmsTarget("target.db", 1);
    const std::string before = testenv::ReadFile(target);
    // A file where the program's data folder should be.
    testenv::WriteFile(platform::JoinPath(platform::AppDataFolder(), "Tolvane"), "in the way");
    EXPECT_EQ(MergeMessages(engine_, target, Write("sms.csv", testdata::SmsRecord(1, "\"a\"", 1))),
              3);
    EXPECT_EQ(testenv::ReadFile(target), before);
}

}  // namespace
}  // namespace tolvane
