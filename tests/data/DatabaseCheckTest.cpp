#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>

#include "data/DataTexts.h"
#include "data/DatabaseCheck.h"
#include "platform/Results.h"
#include "tests/data/DataFixture.h"

namespace tolvane {
namespace {

class DatabaseCheckTest : public testdata::DataFixture {
  protected:
    // A message database with one row in each checked table except `empty` (and without the
    // table `dropped`).
    std::string SmsDb(const std::string& name, const std::string& empty = "",
                      const std::string& dropped = "") {
        const std::string path = Path(name);
        EXPECT_TRUE(testkit::CreateSmsDb(path));
        testkit::Database db(path);
        const std::pair<const char*, const char*> rows[] = {
            {"handle", "INSERT INTO handle VALUES(1,'+15550000001','us','SMS',NULL);"},
            {"chat", "INSERT INTO chat(ROWID,guid) VALUES(1,'SMS;-;+15550000001');"},
            {"chat_handle_join", "INSERT INTO chat_handle_join VALUES(1,1);"},
            {"message", "INSERT INTO message(ROWID,guid,text,handle_id) VALUES(1,'m1','hi',1);"},
            {"chat_message_join", "INSERT INTO chat_message_join VALUES(1,1);"},
        };
        for (const auto& [table, sql] : rows) {
            if (empty != table) {
                EXPECT_TRUE(db.Exec(sql));
            }
        }
        if (!dropped.empty()) {
            EXPECT_TRUE(db.Exec("DROP TABLE " + dropped + ";"));
        }
        return path;
    }

    std::string ContactsDb(const std::string& name, bool withPhone) {
        const std::string path = MakeContactsTarget(name);
        testkit::Database db(path);
        testkit::ContactRow row{1, "Ann", "Lee", {}, {}, {}, {}};
        if (withPhone) {
            row.phone = "5551234567 15551234567";
        }
        EXPECT_TRUE(testkit::AddContact(db, row));
        return path;
    }
};

TEST_F(DatabaseCheckTest, AMessageDatabaseWithRowsInEveryTableIsAcceptedAndNotChanged) {
    const std::string path = SmsDb("sms.db");
    const std::string before = testenv::ReadFile(path);
    EXPECT_EQ(CheckMessageDatabase(engine_, path), 0);
    EXPECT_EQ(testenv::ReadFile(path), before);
    EXPECT_EQ(engine_.GetLastErrorText(), "");
}

TEST_F(DatabaseCheckTest, AnEmptyOrMissingMessageTableRefusesTheFile) {
    for (const char* table :
         {"chat", "chat_handle_join", "chat_message_join", "handle", "message"}) {
        SCOPED_TRACE(table);
        engine_.SetLastErrorText("");
        const std::string path = SmsDb(std::string("empty-") + table + ".db", table);
        EXPECT_EQ(CheckMessageDatabase(engine_, path), platform::IMPORT_BAD_FILE);
        EXPECT_EQ(engine_.GetLastErrorText(), kInvalidSmsFileText);
    }
    engine_.SetLastErrorText("");
    EXPECT_EQ(CheckMessageDatabase(engine_, SmsDb("dropped.db", "", "chat_handle_join")),
              platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kInvalidSmsFileText);
}

TEST_F(DatabaseCheckTest, FilesThatAreNoDatabasesAreRefused) {
    const std::string text = Write("notes.txt", "these are not the messages you are looking for");
    EXPECT_EQ(CheckMessageDatabase(engine_, text), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(CheckContactDatabase(engine_, text), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kInvalidContactsFileText);
    // A missing file is not opened (and not created) at all.
    EXPECT_EQ(CheckMessageDatabase(engine_, Path("missing.db")), SQLITE_CANTOPEN);
    EXPECT_FALSE(platform::PathExists(Path("missing.db")));
    // A message database is no contacts database.
    EXPECT_EQ(CheckContactDatabase(engine_, SmsDb("sms.db")), platform::IMPORT_BAD_FILE);
}

TEST_F(DatabaseCheckTest, AContactsDatabaseNeedsRowsInItsThreeTables) {
    const std::string good = ContactsDb("good.db", true);
    const std::string before = testenv::ReadFile(good);
    EXPECT_EQ(CheckContactDatabase(engine_, good), 0);
    EXPECT_EQ(testenv::ReadFile(good), before);

    EXPECT_EQ(CheckContactDatabase(engine_, ContactsDb("nophone.db", false)),
              platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kInvalidContactsFileText);

    // A sound database without a single person would delete every contact of the phone: the
    // refusal says so rather than calling the file invalid.
    engine_.SetLastErrorText("");
    EXPECT_EQ(CheckContactDatabase(engine_, MakeContactsTarget("empty.db")),
              platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kEmptyContactsDatabaseText);

    const std::string noSearch = ContactsDb("nosearch.db", true);
    {
        testkit::Database db(noSearch);
        ASSERT_TRUE(db.Exec("DELETE FROM ABPersonFullTextSearch_content;"));
    }
    EXPECT_EQ(CheckContactDatabase(engine_, noSearch), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kInvalidContactsFileText);
}

// Pages damaged in the middle of the file: the first row of every table still reads, but the
// file would put a malformed database on the phone. The library's own check refuses it.
TEST_F(DatabaseCheckTest, DatabasesWithDamagedPagesAreRefused) {
    struct Case {
        std::string path;
        int32_t (*check)(BackupEngine&, const std::string&);
        const char* text;
    };
    const std::string sms = Path("damaged-sms.db");
    ASSERT_TRUE(testkit::CreateSmsDb(sms));
    {
        testkit::Database db(sms);
        ASSERT_TRUE(testkit::FillSms(db, 4, 600));
    }
    const std::string contacts = Path("damaged-contacts.db");
    ASSERT_TRUE(testkit::CreateAddressBookDb(contacts));
    {
        testkit::Database db(contacts);
        ASSERT_TRUE(testkit::FillContacts(db, 400));
    }
    for (const Case& c : {Case{sms, CheckMessageDatabase, kInvalidSmsFileText},
                          Case{contacts, CheckContactDatabase, kInvalidContactsFileText}}) {
        SCOPED_TRACE(c.path);
        engine_.SetLastErrorText("");
        ASSERT_EQ(c.check(engine_, c.path), 0);
        std::string bytes = testenv::ReadFile(c.path);
        const size_t pageSize = 4096;
        const size_t pages = bytes.size() / pageSize;
        ASSERT_GT(pages, 20u);
        // Two pages from the middle of the file overwritten, the rest as it was.
        for (size_t page : {pages / 2, pages / 2 + 1}) {
            std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(page * pageSize), pageSize,
                        '\x5A');
        }
        testenv::WriteFile(c.path, bytes);
        EXPECT_EQ(c.check(engine_, c.path), platform::IMPORT_BAD_FILE);
        EXPECT_EQ(engine_.GetLastErrorText(), c.text);
        EXPECT_EQ(testenv::ReadFile(c.path), bytes);
    }
}

}  // namespace
}  // namespace tolvane
