// Listings, merges and database checks on the databases of phones of several generations, made by
// the simulated phone's own code (iOS 7.1, 10, 14, 17): text and attributedBody, dates in seconds
// and nanoseconds, and exports of the iOS 7 column order merged into newer tables, the result held
// against the constraints of the phone's schema.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "data/AttributedBody.h"
#include "data/ContactMerge.h"
#include "data/DatabaseGeneration.h"
#include "data/Listing.h"
#include "data/MessageMerge.h"
#include "devsim/MakeDevice.h"
#include "devsim/ModernDatabases.h"
#include "platform/Results.h"
#include "platform/Strings.h"
#include "store/DataCategory.h"
#include "tests/data/DataFixture.h"
#include "tests/tools/ExportWriter.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::wstring>;

constexpr char kDevice[] = "00008030001a2b3c4d5e6f708192a3b4c5d6e7f8";
const char* const kVersions[] = {"7.1.2", "10.3.3", "14.8", "17.5"};

// One phone per version, made once for the whole suite (the same seed each: the same people
// and messages, moved on and migrated the way each generation keeps them).
class Phones {
  public:
    static Phones& Get() {
        static Phones phones;
        return phones;
    }
    std::string Sms(const std::string& version) const {
        return dir_ / (version + "/files/HomeDomain/Library/SMS/sms.db");
    }
    std::string Contacts(const std::string& version) const {
        return dir_ / (version + "/files/HomeDomain/Library/AddressBook/AddressBook.sqlitedb");
    }
    bool ok = true;

  private:
    Phones() {
        for (const char* version : kVersions) {
            devsim::MakeDeviceOptions o;
            o.messages = 80;
            o.contacts = 25;
            o.mediaMb = 0;
            o.apps = 0;
            o.productVersion = version;
            std::string error;
            if (!devsim::MakeDevice(dir_ / version, o, error)) {
                ADD_FAILURE() << version << ": " << error;
                ok = false;
            }
        }
    }
    testenv::TempDir dir_{"tolvane-phones"};
};

std::wstring Wide(const std::string& s) {
    return platform::Utf8ToWide(s);
}

class ModernDataTest : public testdata::DataFixture,
                       public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override { ASSERT_TRUE(Phones::Get().ok); }
    static std::string Version() { return GetParam(); }
    static bool Nanoseconds() { return Version() != "7.1.2" && Version() != "10.3.3"; }

    // An own whole backup holding `file` under its hashed name as the phone's generation keeps
    // it: flat for iOS 7, in the folder of the name's first two digits for newer phones.
    std::string OwnBackupWith(const std::string& file, const char* hashedName) {
        const std::string device = Path("backup") + "/" + kDevice;
        const bool prefixed = Version() != "7.1.2";
        const std::string folder = prefixed ? device + "/" + std::string(hashedName, 2) : device;
        fs::create_directories(folder);
        fs::copy_file(file, folder + "/" + hashedName, fs::copy_options::overwrite_existing);
        return Path("backup");
    }

    std::string CopyOf(const std::string& file, const char* name) {
        const std::string copy = Path(name);
        fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
        return copy;
    }
};

// Each message's words: the text of the iOS 7 phone's message of the same ROWID (the
// generations share their messages; only dates and storage differ).
std::map<int64_t, std::string> Ios7Texts() {
    std::map<int64_t, std::string> texts;
    for (const std::string& row :
         testkit::DumpRows(Phones::Get().Sms("7.1.2"), "select ROWID, text from message;")) {
        const size_t bar = row.find('|');
        if (row.compare(bar + 1, 2, "t:") == 0) {
            texts[std::stoll(row.substr(2, bar - 2))] = row.substr(bar + 3);
        }
    }
    return texts;
}

TEST_P(ModernDataTest, MessagesAreListedFromTextOrAttributedBodyNewestFirst) {
    const std::string sms = Phones::Get().Sms(Version());
    testkit::Database db(sms, true);
    if (Version() == "17.5") {
        // The listing has to read the bodies: many rows have no text.
        EXPECT_GT(db.Scalar("select count(*) from message where text is null;"), 10);
    }
    EXPECT_EQ(db.Scalar(std::string("select count(*) from message where date <> 0 and ") +
                        (Nanoseconds() ? "date < 100000000000;" : "date >= 100000000000;")),
              0);
    const std::map<int64_t, std::string> texts = Ios7Texts();
    Lines expected;
    // By date, the unit aside: each generation's order of its own dates.
    for (const std::string& row :
         db.Rows("select ROWID from message order by date desc, ROWID desc;")) {
        const auto it = texts.find(std::stoll(row.substr(2)));
        if (it != texts.end() && !it->second.empty()) {
            expected.push_back(Wide(it->second));
        }
    }
    ASSERT_GT(expected.size(), 40u);

    Lines lines;
    const std::string backup = OwnBackupWith(sms, kSmsDatabaseName);
    ASSERT_EQ(ListMessages(lines, backup, engine_, nullptr, false), 0);
    EXPECT_EQ(lines, expected);
    // An iTunes-style folder of the phone's generation lists the same.
    Lines itunes;
    ASSERT_EQ(ListMessages(itunes, backup + "/" + kDevice, engine_, nullptr, true), 0);
    EXPECT_EQ(itunes, expected);
}

TEST_P(ModernDataTest, ContactsOfEveryGenerationListAlike) {
    Lines ios7;
    Lines lines;
    const std::string oldBackup = Path("old");
    fs::create_directories(oldBackup);
    fs::copy_file(Phones::Get().Contacts("7.1.2"), oldBackup + "/" + kContactsCopyName);
    ASSERT_EQ(ListContacts(ios7, oldBackup, engine_, nullptr, false), 0);
    ASSERT_EQ(ios7.size(), 25u);
    ASSERT_EQ(
        ListContacts(lines, OwnBackupWith(Phones::Get().Contacts(Version()), kContactsDatabaseName),
                     engine_, nullptr, false),
        0);
    EXPECT_EQ(lines, ios7);
}

// What a phone needs of its message database to read every row: the schema's constraints, a
// handle and a chat join for every message, the join's date where it keeps one, dates in the
// phone's unit, and the words in attributedBody beside the text on a newer phone.
void ExpectMessagesAPhoneReads(const std::string& path, bool nanoseconds, bool modern) {
    testkit::Database db(path, true);
    EXPECT_EQ(db.Rows("PRAGMA integrity_check;"), std::vector<std::string>{"t:ok"});
    EXPECT_TRUE(db.Rows("PRAGMA foreign_key_check;").empty());
    for (const std::string table : {"message", "handle", "chat", "chat_message_join"}) {
        for (const std::string& column :
             db.Rows("select name from pragma_table_info('" + table + "') where \"notnull\";")) {
            EXPECT_EQ(db.Scalar("select count(*) from " + table + " where \"" + column.substr(2) +
                                "\" is null;"),
                      0)
                << table << "." << column;
        }
    }
    EXPECT_EQ(db.Scalar("select count(*) from message m where not exists (select 1 from "
                        "chat_message_join j join chat c on c.ROWID = j.chat_id where "
                        "j.message_id = m.ROWID);"),
              0);
    EXPECT_EQ(db.Scalar("select count(*) from message m where handle_id <> 0 and not exists "
                        "(select 1 from handle h where h.ROWID = m.handle_id);"),
              0);
    EXPECT_EQ(db.Scalar(std::string("select count(*) from message where date <> 0 and ") +
                        (nanoseconds ? "abs(date) < 100000000000;" : "abs(date) >= 100000000000;")),
              0);
    if (!modern) {
        return;
    }
    if (nanoseconds) {
        // From iOS 11 the join keeps the message's date.
        EXPECT_EQ(db.Scalar("select count(*) from chat_message_join j join message m on m.ROWID "
                            "= j.message_id where j.message_date is not m.date;"),
                  0);
        EXPECT_GT(db.Scalar("select count(*) from chat_message_join where message_date <> 0;"), 0);
    }
    EXPECT_EQ(db.Scalar("select count(*) from message where attributedBody is null and "
                        "coalesce(text, '') <> '';"),
              0);
    // Each body is the one the phone writes for its text (the simulated phone's own encoder).
    sqlite3_stmt* raw = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(db.Get(), "select text, attributedBody from message where text <> '';",
                           -1, &raw, nullptr),
        SQLITE_OK);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
        const std::string text(reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0)));
        const std::string body(static_cast<const char*>(sqlite3_column_blob(stmt.get(), 1)),
                               static_cast<size_t>(sqlite3_column_bytes(stmt.get(), 1)));
        EXPECT_EQ(body, devsim::StreamTypedBody(text)) << text;
    }
}

TEST_P(ModernDataTest, AnExportOfTheOldColumnOrderMergesIntoTheNewerDatabase) {
    // The export: 10 correspondents the target knows (its handles 1..10), 120 messages, ROWIDs
    // and guids clear of the phone's own.
    const std::string source = Path("source.db");
    ASSERT_TRUE(testkit::CreateSmsDb(source));
    {
        testkit::Database db(source);
        ASSERT_TRUE(testkit::FillSms(db, 10, 120));
        ASSERT_TRUE(db.Exec("UPDATE message SET ROWID = ROWID + 5000, guid = 'X-' || guid;"));
    }
    const std::string csv = Path("sms.csv");
    ASSERT_TRUE(testkit::WriteSmsExport(source, csv));
    const std::string target = CopyOf(Phones::Get().Sms(Version()), "target.db");
    const int64_t before = testkit::Database(target, true).Scalar("select count(*) from message;");

    MergeTally tally;
    ASSERT_EQ(MergeMessages(engine_, target, csv, &tally), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(tally.added, 120);
    EXPECT_EQ(tally.LeftOut(), 0);
    EXPECT_TRUE(LeftInDataFolder().empty());

    testkit::Database merged(target, true);
    EXPECT_EQ(merged.Scalar("select count(*) from message;"), before + 120);
    ExpectMessagesAPhoneReads(target, Nanoseconds(), Version() != "7.1.2");

    // The export's values are those of the rows, the dates in the phone's unit.
    const int64_t unit = Nanoseconds() ? 1000000000 : 1;
    // (The export's doubled double quote reads as an apostrophe, as it does for every phone.)
    const std::vector<std::string> want = testkit::DumpRows(
        source, "select ROWID, guid, replace(text, '\"', ''''), handle_id, is_from_me, date * " +
                    std::to_string(unit) + " from message order by ROWID;");
    EXPECT_EQ(merged.Rows("select ROWID, guid, text, handle_id, is_from_me, date from message "
                          "where ROWID > 5000 order by ROWID;"),
              want);
    if (Version() != "7.1.2") {
        // A newer column the export does not have holds what the phone's own rows hold.
        EXPECT_EQ(merged.Scalar("select count(*) from message where ROWID > 5000 and "
                                "is_audio_message is not 0;"),
                  0);
    }
    if (Version() == "17.5") {
        EXPECT_EQ(merged.Scalar("select count(*) from message where ROWID > 5000 and (part_count "
                                "is not 1 or destination_caller_id is null);"),
                  0);
    }

    // The listing reads the merged messages among the phone's own.
    Lines lines;
    ASSERT_EQ(ListMessages(lines, OwnBackupWith(target, kSmsDatabaseName), engine_, nullptr, false),
              0);
    for (const std::string& row :
         testkit::DumpRows(source, "select replace(text, '\"', '''') from message;")) {
        if (row.size() > 2) {
            EXPECT_NE(std::find(lines.begin(), lines.end(), Wide(row.substr(2))), lines.end())
                << row;
        }
    }
}

TEST_P(ModernDataTest, AContactsExportMergesIntoTheNewerDatabase) {
    const std::string source = Path("contacts-source.db");
    ASSERT_TRUE(testkit::CreateAddressBookDb(source));
    {
        testkit::Database db(source);
        ASSERT_TRUE(testkit::FillContacts(db, 30));
        ASSERT_TRUE(db.Exec("UPDATE ABPersonFullTextSearch_content SET docid = docid + 7000;"));
    }
    const std::string csv = Path("contacts.csv");
    ASSERT_TRUE(testkit::WriteContactsExport(source, csv));
    const std::string target = CopyOf(Phones::Get().Contacts(Version()), "contacts-target.db");

    MergeTally tally;
    ASSERT_EQ(MergeContacts(engine_, target, csv, &tally), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(tally.added, 30);

    testkit::Database db(target, true);
    EXPECT_EQ(db.Rows("PRAGMA integrity_check;"), std::vector<std::string>{"t:ok"});
    // Every contact is whole: its person row (named as in the search row), a search row, and
    // multi-value rows that belong to a person.
    EXPECT_EQ(db.Rows("select ROWID, First, Last from ABPerson where ROWID > 7000 order by ROWID;"),
              testkit::DumpRows(source,
                                "select docid, c0First, c1Last from "
                                "ABPersonFullTextSearch_content order by docid;"));
    EXPECT_EQ(db.Scalar("select count(*) from ABPerson p where not exists (select 1 from "
                        "ABPersonFullTextSearch_content s where s.docid = p.ROWID);"),
              0);
    EXPECT_EQ(db.Scalar("select count(*) from ABMultiValue v where not exists (select 1 from "
                        "ABPerson p where p.ROWID = v.record_id);"),
              0);
    EXPECT_EQ(db.Scalar("select count(*) from ABPerson where guid is null;"), 0);
    for (const std::string& column :
         db.Rows("select name from pragma_table_info('ABPerson') where \"notnull\";")) {
        EXPECT_EQ(
            db.Scalar("select count(*) from ABPerson where \"" + column.substr(2) + "\" is null;"),
            0);
    }
    Lines lines;
    ASSERT_EQ(
        ListContacts(lines, OwnBackupWith(target, kContactsDatabaseName), engine_, nullptr, false),
        0);
    EXPECT_EQ(lines.size(), 25u + 30u);
}

TEST_P(ModernDataTest, EachGenerationsDatabasesAreToldApart) {
    const std::map<std::string, std::pair<int, int>> required = {
        {"7.1.2", {6, 6}}, {"10.3.3", {10, 8}}, {"14.8", {14, 13}}, {"17.5", {17, 17}}};
    const auto [sms, contacts] = required.at(Version());
    EXPECT_EQ(RequiredIosMajor(Phones::Get().Sms(Version()), Sms), sms);
    EXPECT_EQ(RequiredIosMajor(Phones::Get().Contacts(Version()), Contacts), contacts);
    // Every phone takes the files of its own generation and of older ones.
    for (const char* version : kVersions) {
        const int phone = IosMajorOf(version);
        const int32_t want = phone >= sms ? 0 : platform::IMPORT_BAD_FILE;
        engine_.SetLastErrorText("");
        EXPECT_EQ(CheckDatabaseFitsPhone(engine_, Phones::Get().Sms(Version()), Sms, version), want)
            << version;
        if (want != 0) {
            EXPECT_EQ(engine_.GetLastErrorText(), NewerGenerationText(Sms, sms, version));
        }
        EXPECT_EQ(
            CheckDatabaseFitsPhone(engine_, Phones::Get().Contacts(Version()), Contacts, version),
            phone >= contacts ? 0 : platform::IMPORT_BAD_FILE)
            << version;
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, ModernDataTest, ::testing::ValuesIn(kVersions),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = std::string("ios") + info.param;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

class ChatJoinTest : public testdata::DataFixture {};

// On a phone whose chat ROWIDs have parted from its handle ROWIDs (a deleted conversation, a
// group started) a merged message joins its correspondent's own chat, not the chat that happens
// to carry the handle's ROWID; only a correspondent without a chat of its own falls back to it.
TEST_F(ChatJoinTest, AMergedMessageJoinsItsCorrespondentsOwnChat) {
    const std::string source = Path("source.db");
    ASSERT_TRUE(testkit::CreateSmsDb(source));
    {
        testkit::Database db(source);
        for (int h = 1; h <= 3; ++h) {
            ASSERT_TRUE(testkit::AddCorrespondent(db, {h, "+4930100" + std::to_string(h)}));
            testkit::MessageRow row;
            row.rowid = 10 + h;
            row.text = "to " + std::to_string(h);
            row.handleId = h;
            row.date = 500000000 + h;
            ASSERT_TRUE(testkit::AddMessage(db, row));
        }
    }
    const std::string csv = Path("sms.csv");
    ASSERT_TRUE(testkit::WriteSmsExport(source, csv));

    const std::string target = Path("target.db");
    ASSERT_TRUE(testkit::CreateSmsDb(target));
    {
        testkit::Database db(target);
        ASSERT_TRUE(
            db.Exec("INSERT INTO handle(ROWID, id, service) VALUES (1, '+49301001', 'SMS'), "
                    "(2, '+49301002', 'SMS'), (3, '+49301003', 'SMS');"
                    "INSERT INTO chat(ROWID, guid, style) VALUES (1, 'SMS;+;chat1', 43), "
                    "(3, 'SMS;-;+49301003', 45), (101, 'SMS;-;+49301001', 45), "
                    "(102, 'SMS;-;+49301002', 45);"
                    "INSERT INTO chat_handle_join VALUES (1, 1), (1, 2), (101, 1), (102, 2);"));
    }
    MergeTally tally;
    ASSERT_EQ(MergeMessages(engine_, target, csv, &tally), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(tally.added, 3);
    EXPECT_EQ(
        testkit::DumpRows(target, "select message_id, chat_id from chat_message_join order by 1;"),
        (std::vector<std::string>{"i:11|i:101", "i:12|i:102", "i:13|i:3"}));
}

// A phone of iOS 18 keeps columns no earlier phone has; its file is refused for iOS 17 with the
// text that names both generations.
TEST(ModernGenerationTest, AnIos18FileIsRefusedForAnIos17Phone) {
    testenv::TempDir dir("tolvane-ios18");
    devsim::MakeDeviceOptions o;
    o.messages = 10;
    o.contacts = 3;
    o.mediaMb = 0;
    o.apps = 0;
    o.productVersion = "18.1";
    std::string error;
    ASSERT_TRUE(devsim::MakeDevice(dir / "p", o, error)) << error;
    const std::string sms = dir / "p/files/HomeDomain/Library/SMS/sms.db";
    EXPECT_EQ(RequiredIosMajor(sms, Sms), 18);
    BackupEngine engine;
    EXPECT_EQ(CheckDatabaseFitsPhone(engine, sms, Sms, "17.5"), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine.GetLastErrorText(),
              "The SMS file comes from a newer iPhone (iOS 18 or later) than this iPhone (iOS "
              "17.5), which cannot read it.Only files from iPhones of iOS 17 or earlier can be "
              "imported.");
    EXPECT_EQ(CheckDatabaseFitsPhone(engine, sms, Sms, "18.0"), 0);
}

}  // namespace
}  // namespace tolvane
