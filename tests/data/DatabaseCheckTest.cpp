#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>

#include "data/DataTexts.h"
#include "data/DatabaseCheck.h"
#include "data/DatabaseGeneration.h"
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

// A database of a newer phone generation is told by the marks it carries, and refused for an older
// phone, which could not read it.
TEST_F(DatabaseCheckTest, ADatabaseOfANewerGenerationIsRefusedForAnOlderPhone) {
    const std::string ios7 = SmsDb("ios7.db");
    EXPECT_EQ(RequiredIosMajor(ios7, Sms), 6);
    EXPECT_EQ(CheckDatabaseFitsPhone(engine_, ios7, Sms, "7.1.2"), 0);

    const std::string effects = SmsDb("ios10.db");
    {
        testkit::Database db(effects);
        ASSERT_TRUE(
            db.Exec("ALTER TABLE message ADD COLUMN expressive_send_style_id TEXT;"
                    "ALTER TABLE message ADD COLUMN associated_message_guid TEXT;"));
    }
    EXPECT_EQ(RequiredIosMajor(effects, Sms), 10);
    engine_.SetLastErrorText("");
    EXPECT_EQ(CheckDatabaseFitsPhone(engine_, effects, Sms, "7.1.2"), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(),
              "The SMS file comes from a newer iPhone (iOS 10 or later) than this iPhone (iOS "
              "7.1.2), which cannot read it.Only files from iPhones of iOS 7 or earlier can be "
              "imported.");
    EXPECT_EQ(CheckDatabaseFitsPhone(engine_, effects, Sms, "10.3.3"), 0);
    // A phone whose generation is not known is not refused.
    EXPECT_EQ(CheckDatabaseFitsPhone(engine_, effects, Sms, ""), 0);

    const std::string nanoseconds = SmsDb("ios11.db");
    {
        testkit::Database db(nanoseconds);
        ASSERT_TRUE(db.Exec("UPDATE message SET date = 530000000000000000;"));
    }
    EXPECT_EQ(RequiredIosMajor(nanoseconds, Sms), 11);
    const std::string replies = SmsDb("ios14.db");
    {
        testkit::Database db(replies);
        ASSERT_TRUE(db.Exec("ALTER TABLE message ADD COLUMN thread_originator_guid TEXT;"));
    }
    EXPECT_EQ(CheckDatabaseFitsPhone(engine_, replies, Sms, "12.4"), platform::IMPORT_BAD_FILE);
    // A column the iOS 7 generation does not have, in any table the import uses.
    const std::string extraChat = SmsDb("ios8.db");
    {
        testkit::Database db(extraChat);
        ASSERT_TRUE(db.Exec("ALTER TABLE chat ADD COLUMN is_filtered INTEGER;"));
    }
    EXPECT_EQ(RequiredIosMajor(extraChat, Sms), 8);

    const std::string contacts = ContactsDb("contacts.db", true);
    EXPECT_EQ(CheckDatabaseFitsPhone(engine_, contacts, Contacts, "7.1.2"), 0);
    {
        testkit::Database db(contacts);
        ASSERT_TRUE(db.Exec("ALTER TABLE ABPerson ADD COLUMN ImageType TEXT;"));
    }
    EXPECT_EQ(RequiredIosMajor(contacts, Contacts), 8);
    EXPECT_EQ(CheckDatabaseFitsPhone(engine_, contacts, Contacts, "7.0"),
              platform::IMPORT_BAD_FILE);
    EXPECT_NE(engine_.GetLastErrorText().find("The contacts file comes from a newer iPhone"),
              std::string::npos);
    EXPECT_EQ(CheckDatabaseFitsPhone(engine_, contacts, Contacts, "9.0"), 0);
    // The search table is what an iOS 5 phone lacks.
    EXPECT_EQ(CheckDatabaseFitsPhone(engine_, ContactsDb("plain.db", true), Contacts, "5.1.1"),
              platform::IMPORT_BAD_FILE);
    EXPECT_EQ(IosMajorOf("13.4.1"), 13);
    EXPECT_EQ(IosMajorOf("x"), 0);
}

}  // namespace
}  // namespace tolvane
