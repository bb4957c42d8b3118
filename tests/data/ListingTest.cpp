#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "data/DataTexts.h"
#include "data/Listing.h"
#include "platform/Results.h"
#include "platform/Strings.h"
#include "store/DataCategory.h"
#include "tests/data/DataFixture.h"

namespace tolvane {
namespace {

using Lines = std::vector<std::wstring>;

constexpr char kDevice[] = "0123456789abcdef0123456789abcdef01234567";

class ListingTest : public testdata::DataFixture {
  protected:
    // A message database holding `texts` as messages 1, 2, ... (nullopt for no text).
    void MessagesDb(const std::string& path, const std::vector<std::optional<std::string>>& texts) {
        ASSERT_TRUE(testkit::CreateSmsDb(path));
        testkit::Database db(path);
        ASSERT_TRUE(testkit::AddCorrespondent(db, {1, "+15550000001"}));
        for (size_t i = 0; i < texts.size(); ++i) {
            testkit::MessageRow row;
            row.rowid = static_cast<int64_t>(i + 1);
            row.text = texts[i];
            row.handleId = 1;
            ASSERT_TRUE(testkit::AddMessage(db, row));
        }
    }

    void ContactsDb(const std::string& path, const std::vector<testkit::ContactRow>& rows) {
        ASSERT_TRUE(testkit::CreateAddressBookDb(path));
        testkit::Database db(path);
        for (const auto& row : rows) {
            ASSERT_TRUE(testkit::AddContact(db, row));
        }
    }

    // The database put into WAL journal mode, as a phone keeps it; closing leaves no log behind.
    static void MakeWal(const std::string& path) {
        testkit::Database db(path);
        ASSERT_EQ(db.Rows("PRAGMA journal_mode=WAL;"), std::vector<std::string>{"t:wal"});
    }

    static std::vector<std::string> Names(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
            names.push_back(e.path().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ListingTest, MessagesComeNewestFirstAndOnlyWithText) {
    const std::string backup = Path("2015-03-04-09-05-07");
    MessagesDb(backup + "/" + kDevice + "/" + kSmsDatabaseName,
               {"first", std::nullopt, "", "fourth \xE2\x9C\x93", "caf\xE9"});
    Lines lines{L"old"};
    ASSERT_EQ(ListMessages(lines, backup, engine_, nullptr, false), 0);
    // A text that is not UTF-8 keeps its readable part.
    EXPECT_EQ(lines, (Lines{L"caf\uFFFD", L"fourth \u2713", L"first"}));
    // The count is that of the lines: no text and empty text are left out.
    int count = -1;
    ASSERT_EQ(CountMessages(count, backup, engine_, nullptr, false), 0);
    EXPECT_EQ(count, 3);
    ASSERT_NE(CountMessages(count, Path("missing"), engine_, nullptr, false), 0);
    EXPECT_EQ(count, 0);
}

// Imported and synced messages have ROWIDs out of date order: the list follows the dates, newest
// first, ROWID breaking ties; dates in seconds (older phones) and nanoseconds (iOS 11 on) meet.
TEST_F(ListingTest, MessagesComeByDateNewestFirstWithRowidBreakingTies) {
    const std::string backup = Path("dated");
    const std::string path = backup + "/" + kSmsCopyName;
    ASSERT_TRUE(testkit::CreateSmsDb(path));
    {
        testkit::Database db(path);
        ASSERT_TRUE(testkit::AddCorrespondent(db, {1, "+15550000001"}));
        const std::pair<const char*, int64_t> rows[] = {
            {"synced late, oldest", 400000000},        // seconds since 2001
            {"newest", 500000000LL * 1000000000LL},    // nanoseconds
            {"middle", 450000000},                     //
            {"same moment, lower rowid", 420000000},   //
            {"same moment, higher rowid", 420000000},  //
            {"no date", 0}};
        int64_t rowid = 1;
        for (const auto& [text, date] : rows) {
            testkit::MessageRow row;
            row.rowid = rowid++;
            row.text = std::string(text);
            row.handleId = 1;
            row.date = date;
            ASSERT_TRUE(testkit::AddMessage(db, row));
        }
    }
    Lines lines;
    ASSERT_EQ(ListMessages(lines, backup, engine_, nullptr, false), 0);
    EXPECT_EQ(lines, (Lines{L"newest", L"middle", L"same moment, higher rowid",
                            L"same moment, lower rowid", L"synced late, oldest", L"no date"}));
}

TEST_F(ListingTest, ContactLinesJoinNamesAndThePhonesFirstNumber) {
    const std::string backup = Path("own");
    ContactsDb(backup + "/" + kContactsCopyName,
               {{1, "Zoe", "Ray", {}, {}, "5551234567 15551234567", {}},
                {2, {}, "Solo", {}, {}, {}, {}},
                {3, "Al", {}, {}, {}, "+1 555 1234", {}},
                {4, "Bea", "", {}, {}, "5551234", {}},
                {5, {}, {}, {}, {}, {}, {}},
                {6, "Cy", {}, {}, {}, "+1 5551234", {}},
                {7, "J\xC3\xB8rn", "\xC3\x85s", {}, {}, "12 34 56 78", {}}});
    {
        // Without multi-value rows the line is cut from the search table's column alone.
        testkit::Database db(backup + "/" + kContactsCopyName);
        ASSERT_TRUE(db.Exec("DELETE FROM ABMultiValue;"));
    }
    Lines lines;
    ASSERT_EQ(ListContacts(lines, backup, engine_, nullptr, false), 0);
    EXPECT_EQ(lines, (Lines{L" Solo", L"Al +1 555", L"Bea 5551234", L"Cy +1 5551234",
                            L"J\u00F8rn \u00C5s 12 34", L"Zoe Ray 5551234567"}));
    // The count leaves out the empty contact too.
    int count = -1;
    ASSERT_EQ(CountContacts(count, backup, engine_, nullptr, false), 0);
    EXPECT_EQ(count, 6);
}

// A number stored with blanks cannot be cut from the search column, which holds several forms of
// each number; the person's first phone multi-value row gives it whole.
TEST_F(ListingTest, ContactLinesShowTheFirstPhoneNumberWhole) {
    const std::string backup = Path("blanks");
    const std::string path = backup + "/" + kContactsCopyName;
    ContactsDb(path, {{1, "Ann", "Lee", {}, {}, "+999 1234567 +9991234567", {}},
                      {2, "Bo", {}, {}, {}, "999 99 99999", {}},
                      {3, "Cat", {}, {}, {}, "+49 151 2345678 491512345678 01512345678", {}},
                      {4, "Dan", {}, {}, {}, "5551234567 15551234567", {}},
                      {5, "Eve", {}, {}, {}, {}, {}},
                      {6, "Fay", {}, {}, {}, "+1 555 0100 15550100", {}}});
    {
        testkit::Database db(path);
        // The numbers as the phone stores them; Cat's second number and an e-mail row come
        // after the first number, Fay's row does not match the column and is not used.
        ASSERT_TRUE(db.Exec(
            "DELETE FROM ABMultiValue;"
            "INSERT INTO ABMultiValue(record_id,property,identifier,label,value,guid) VALUES"
            "(1,3,0,1,'+999 1234567','g1'),(2,3,0,1,'999 99','g2'),"
            "(3,4,0,1,'cat@example.com','g3'),(3,3,1,1,'0151 999','g4'),"
            "(3,3,0,1,'+49 151 2345678','g5'),(4,3,0,1,'5551234567','g6'),"
            "(5,3,0,1,'+44 20 7946 0000','g7'),(6,3,0,1,'+7 000','g8');"));
    }
    Lines lines;
    ASSERT_EQ(ListContacts(lines, backup, engine_, nullptr, false), 0);
    EXPECT_EQ(lines, (Lines{L"Ann Lee +999 1234567", L"Bo 999 99", L"Cat +49 151 2345678",
                            L"Dan 5551234567", L"Eve +44 20 7946 0000", L"Fay +1 555"}));
}

// A contacts database of the iOS 5 generation has no full-text search table: the contacts are
// listed from the person rows, with the first phone number of each.
TEST_F(ListingTest, AnIos5ContactsDatabaseIsListedFromItsPersonRows) {
    const std::string backup = Path("ios5");
    testenv::WriteFile(backup + "/placeholder", "");
    {
        testkit::Database db(backup + "/" + kContactsCopyName);
        ASSERT_TRUE(db.Exec(
            "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last "
            "TEXT, Middle TEXT, Organization TEXT, Note TEXT, Kind INTEGER, CreationDate INTEGER);"
            "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property "
            "INTEGER, identifier INTEGER, label INTEGER, value TEXT);"
            "CREATE TABLE ABPersonSearchKey (person_id INTEGER, source_id INTEGER, search_key "
            "BLOB);"
            "INSERT INTO ABPerson(ROWID,First,Last) VALUES(1,'Zed','Last'),(2,NULL,'Only'),"
            "(3,'Amy',NULL);"
            "INSERT INTO ABMultiValue VALUES(1,1,3,1,1,'+44 20 7946 0001'),"
            "(2,1,3,0,1,'+44 20 7946 0000'),(3,3,4,0,1,'amy@example.com');"));
    }
    Lines lines;
    ASSERT_EQ(ListContacts(lines, backup, engine_, nullptr, false), 0)
        << engine_.GetLastErrorText();
    EXPECT_EQ(lines, (Lines{L" Only", L"Amy", L"Zed Last +44 20 7946 0000"}));
}

// The viewer's listing has the plain listing's rows in its order, each with its moment, direction
// and correspondent.
TEST_F(ListingTest, MessageDetailsFollowThePlainListing) {
    const std::string backup = Path("details");
    const std::string path = backup + "/" + kSmsCopyName;
    ASSERT_TRUE(testkit::CreateSmsDb(path));
    {
        testkit::Database db(path);
        ASSERT_TRUE(testkit::AddCorrespondent(db, {1, "+15550000001"}));
        ASSERT_TRUE(testkit::AddCorrespondent(db, {2, "friend@example.com"}));
        const struct {
            const char* text;
            int64_t handle, date;
            bool fromMe;
        } rows[] = {{"seconds", 1, 400000000, false},
                    {"nanoseconds", 2, 500000000LL * 1000000000LL, true},
                    {"", 1, 450000000, false},
                    {"no handle", 0, 300000000, true}};
        int64_t rowid = 1;
        for (const auto& r : rows) {
            testkit::MessageRow row;
            row.rowid = rowid++;
            row.text = std::string(r.text);
            row.handleId = r.handle;
            row.date = r.date;
            row.fromMe = r.fromMe;
            ASSERT_TRUE(testkit::AddMessage(db, row));
        }
    }
    Lines plain;
    ASSERT_EQ(ListMessages(plain, backup, engine_, nullptr, false), 0);
    std::vector<MessageDetail> details;
    ASSERT_EQ(ListMessageDetails(details, backup, engine_, nullptr, false), 0);
    ASSERT_EQ(details.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(details[i].text, plain[i]) << i;
    }
    ASSERT_EQ(details.size(), 3u);
    EXPECT_EQ(details[0].unixTime, 978307200 + 500000000);
    EXPECT_EQ(details[0].direction, MessageDetail::kSent);
    EXPECT_EQ(details[0].correspondent, L"friend@example.com");
    EXPECT_EQ(details[1].unixTime, 978307200 + 400000000);
    EXPECT_EQ(details[1].direction, MessageDetail::kReceived);
    EXPECT_EQ(details[1].correspondent, L"+15550000001");
    EXPECT_EQ(details[2].correspondent, L"");
}

TEST_F(ListingTest, MessageDetailsOfADatabaseWithoutHandlesKeepTheWords) {
    const std::string backup = Path("nohandle");
    testenv::WriteFile(backup + "/placeholder", "");
    {
        testkit::Database db(backup + "/" + kSmsCopyName);
        ASSERT_TRUE(
            db.Exec("CREATE TABLE message (ROWID INTEGER PRIMARY KEY, text TEXT, date "
                    "INTEGER);"
                    "INSERT INTO message VALUES(1,'older',10),(2,'newer',20),(3,NULL,30);"));
    }
    std::vector<MessageDetail> details;
    ASSERT_EQ(ListMessageDetails(details, backup, engine_, nullptr, false), 0)
        << engine_.GetLastErrorText();
    ASSERT_EQ(details.size(), 2u);
    EXPECT_EQ(details[0].text, L"newer");
    EXPECT_EQ(details[0].unixTime, INT64_MIN);
    EXPECT_EQ(details[0].direction, MessageDetail::kUnknown);
    EXPECT_EQ(details[1].text, L"older");
}

TEST_F(ListingTest, ContactDetailsCarryEveryPhoneNumberWhole) {
    const std::string backup = Path("allnumbers");
    const std::string path = backup + "/" + kContactsCopyName;
    ContactsDb(path, {{1, "Ann", "Lee", {}, {}, "+999 1234567 +9991234567", {}},
                      {2, "Bo", {}, {}, {}, "5551234 15551234", {}},
                      {3, {}, {}, {}, {}, {}, {}}});
    {
        testkit::Database db(path);
        ASSERT_TRUE(db.Exec(
            "DELETE FROM ABMultiValue;"
            "INSERT INTO ABMultiValue(record_id,property,identifier,label,value,guid) VALUES"
            "(1,3,1,1,'+44 20 7946 0000','g1'),(1,4,0,1,'ann@example.com','g2'),"
            "(1,3,0,1,'+999 1234567','g3');"));
    }
    Lines plain;
    ASSERT_EQ(ListContacts(plain, backup, engine_, nullptr, false), 0);
    std::vector<ContactDetail> details;
    ASSERT_EQ(ListContactDetails(details, backup, engine_, nullptr, false), 0);
    ASSERT_EQ(details.size(), plain.size());
    ASSERT_EQ(details.size(), 2u);
    EXPECT_EQ(details[0].name, L"Ann Lee");
    // In the order the phone keeps them; the e-mail address is no phone number.
    EXPECT_EQ(details[0].phones, (Lines{L"+999 1234567", L"+44 20 7946 0000"}));
    // No multi-value rows: the one number the plain listing shows.
    EXPECT_EQ(details[1].name, L"Bo");
    EXPECT_EQ(details[1].phones, (Lines{L"5551234"}));
}

TEST_F(ListingTest, TheDatabaseFileDependsOnTheKindOfBackup) {
    // An own backup with a device folder reads it, even beside the category copies; a name of 40
    // characters that begins with a dot is not a device folder.
    const std::string full = Path("full");
    testenv::WriteFile(full + "/.123456789012345678901234567890123456789", "");
    MessagesDb(full + "/" + kDevice + "/" + kSmsDatabaseName, {"from the device folder"});
    MessagesDb(full + "/" + kSmsCopyName, {"from the copy"});
    ContactsDb(full + "/" + kDevice + "/" + kContactsDatabaseName,
               {{1, "Dev", {}, {}, {}, {}, {}}});
    ContactsDb(full + "/" + kContactsCopyName, {{1, "Copy", {}, {}, {}, {}, {}}});
    Lines lines;
    ASSERT_EQ(ListMessages(lines, full, engine_, nullptr, false), 0);
    EXPECT_EQ(lines, Lines{L"from the device folder"});
    ASSERT_EQ(ListContacts(lines, full, engine_, nullptr, false), 0);
    EXPECT_EQ(lines, Lines{L"Dev"});

    const std::string category = Path("category");
    MessagesDb(category + "/" + kSmsCopyName, {"copied"});
    ASSERT_EQ(ListMessages(lines, category, engine_, nullptr, false), 0);
    EXPECT_EQ(lines, Lines{L"copied"});
    // A password never makes the program decrypt one of its own backups.
    lines.clear();
    ASSERT_EQ(ListMessages(lines, category, engine_, "secret", false), 0);
    EXPECT_EQ(lines, Lines{L"copied"});

    // The other program's backups keep the hashed names at the top of the folder.
    const std::string itunes = Path("itunes");
    MessagesDb(itunes + "/" + kSmsDatabaseName, {"itunes"});
    ASSERT_EQ(ListMessages(lines, itunes, engine_, "", true), 0);
    EXPECT_EQ(lines, Lines{L"itunes"});
    EXPECT_EQ(ListMessages(lines, category, engine_, nullptr, true), 2);
}

// A phone's databases are in WAL mode. Reading them must neither leave "-wal" and "-shm" files in
// the backup folder (own and iTunes backups alike) nor need a folder it may write into: a backup
// of another user or on read-only media is listed too.
TEST_F(ListingTest, WalDatabasesAreListedWithoutWritingIntoAReadOnlyBackupFolder) {
    const std::string own = Path("own-wal");
    const std::string device = own + "/" + kDevice;
    MessagesDb(device + "/" + kSmsDatabaseName, {"one", "two"});
    ContactsDb(device + "/" + kContactsDatabaseName, {{1, "Wal", {}, {}, {}, {}, {}}});
    const std::string itunes = Path("itunes-wal");
    MessagesDb(itunes + "/" + kSmsDatabaseName, {"itunes"});
    for (const std::string& db :
         {device + "/" + kSmsDatabaseName, device + "/" + kContactsDatabaseName,
          itunes + "/" + kSmsDatabaseName}) {
        MakeWal(db);
        ASSERT_EQ(testenv::ReadFile(db).substr(18, 2), std::string("\x02\x02", 2));
    }
    const auto ownBefore = Names(own);
    const auto itunesBefore = Names(itunes);
    for (const std::string& folder : {own, device, itunes}) {
        ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    }

    Lines messages;
    Lines contacts;
    Lines fromItunes;
    const int32_t r1 = ListMessages(messages, own, engine_, nullptr, false);
    const int32_t r2 = ListContacts(contacts, own, engine_, nullptr, false);
    const int32_t r3 = ListMessages(fromItunes, itunes, engine_, "", true);
    const auto ownAfter = Names(own);
    const auto itunesAfter = Names(itunes);
    for (const std::string& folder : {own, device, itunes}) {
        chmod(folder.c_str(), 0755);
    }
    EXPECT_EQ(r1, 0) << engine_.GetLastErrorText();
    EXPECT_EQ(r2, 0) << engine_.GetLastErrorText();
    EXPECT_EQ(r3, 0) << engine_.GetLastErrorText();
    EXPECT_EQ(messages, (Lines{L"two", L"one"}));
    EXPECT_EQ(contacts, Lines{L"Wal"});
    EXPECT_EQ(fromItunes, Lines{L"itunes"});
    EXPECT_EQ(ownAfter, ownBefore);
    EXPECT_EQ(itunesAfter, itunesBefore);
}

TEST_F(ListingTest, FailuresLeaveTheListAsItWas) {
    Lines lines{L"kept"};
    EXPECT_EQ(ListMessages(lines, Path("nothing"), engine_, nullptr, false), 2);
    EXPECT_EQ(ListContacts(lines, Path("nothing"), engine_, nullptr, false), 2);
    EXPECT_EQ(engine_.FailureOf(2), platform::Failure::MissingDatabase);
    EXPECT_EQ(lines, Lines{L"kept"});

    // An encrypted database opens but cannot be read.
    const std::string backup = Path("encrypted");
    testenv::WriteFile(backup + "/" + kSmsCopyName, std::string(4096, '\x5A'));
    const std::string before = testenv::ReadFile(backup + "/" + kSmsCopyName);
    EXPECT_EQ(ListMessages(lines, backup, engine_, nullptr, false), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kListSmsFailedText);
    EXPECT_EQ(engine_.FailureOf(platform::IMPORT_BAD_FILE), platform::Failure::UnusableDatabase);
    EXPECT_EQ(lines, Lines{L"kept"});
    EXPECT_EQ(testenv::ReadFile(backup + "/" + kSmsCopyName), before);

    // An iTunes backup whose manifest has a key bag is encrypted: it needs its password. Without a
    // key bag an unreadable file is just not a database.
    const std::string itunes = Path("itunes-encrypted");
    testenv::WriteFile(itunes + "/" + kSmsDatabaseName, std::string(4096, '\x5A'));
    testenv::WriteFile(itunes + "/Manifest.plist",
                       "<plist><dict><key>IsEncrypted</key><false/>"
                       "</dict></plist>");
    EXPECT_EQ(ListMessages(lines, itunes, engine_, nullptr, true), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kListSmsFailedText);
    testenv::WriteFile(itunes + "/Manifest.plist",
                       "<plist><dict><key>BackupKeyBag</key><data>VkVSUw==</data>"
                       "<key>IsEncrypted</key><true/></dict></plist>");
    EXPECT_EQ(ListMessages(lines, itunes, engine_, nullptr, true), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kListEncryptedBackupText);
    EXPECT_EQ(lines, Lines{L"kept"});

    // A message database offered as the contacts database has no search table.
    MessagesDb(backup + "/" + kContactsCopyName, {"x"});
    EXPECT_EQ(ListContacts(lines, backup, engine_, nullptr, false), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kListContactsFailedText);
    EXPECT_EQ(lines, Lines{L"kept"});
}

}  // namespace
}  // namespace tolvane
