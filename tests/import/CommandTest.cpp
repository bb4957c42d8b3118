// tolvanectl import, messages and contacts, run as a user runs them, against the simulated phone.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Strings.h"
#include "tests/support/Programs.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"
#include "tests/tools/ExportWriter.h"
#include "tests/tools/RealSchemaDb.h"

using testenv::CommandRun;
using testenv::IsolatedHome;
using testenv::PhoneOptions;
using testenv::RunTolvanectl;
using testenv::SimulatedPhone;
using testenv::TempDir;
using Rows = std::vector<std::string>;

namespace {

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

class CommandTest : public ::testing::Test {
  protected:
    // A message export of `count` messages with ROWIDs from 501 over the phone's handles 1..3.
    std::string MessageExport(int count) {
        const std::string db = dir_ / "source.db";
        EXPECT_TRUE(testkit::CreateSmsDb(db));
        {
            testkit::Database source(db);
            EXPECT_TRUE(testkit::FillSms(source, 3, count));
            EXPECT_TRUE(
                source.Exec("UPDATE message SET ROWID = ROWID + 500, guid = 'cli-' || ROWID;"));
        }
        const std::string csv = dir_ / "sms.csv";
        EXPECT_TRUE(testkit::WriteSmsExport(db, csv));
        return csv;
    }

    IsolatedHome home_;
    TempDir dir_{"tolvane-cli"};
};

TEST_F(CommandTest, ImportThenListTheMessagesOfABackupOfThePhone) {
    SimulatedPhone phone;
    const std::string phoneSms = phone.FilePath("HomeDomain", "Library/SMS/sms.db");
    const CommandRun imported = RunTolvanectl({"import", "--sms", MessageExport(12)});
    ASSERT_EQ(imported.exitCode, 0) << imported.output;
    EXPECT_NE(imported.output.find("Import complete: messages"), std::string::npos);
    EXPECT_EQ(testkit::DumpRows(phoneSms, "select count(*) from message where ROWID > 500;"),
              Rows{"i:12"});

    // A category backup of the phone now, and its messages as the command lists them.
    const std::string backups = dir_ / "backups";
    const CommandRun backup = RunTolvanectl({"backup", "--sms", "--contacts", "--folder", backups});
    ASSERT_EQ(backup.exitCode, 0) << backup.output;
    std::vector<platform::DirEntry> entries;
    ASSERT_EQ(platform::ListFolder(backups, entries), 0);
    ASSERT_EQ(entries.size(), 1u);
    const std::string folder = backups + "/" + entries[0].name;

    const CommandRun messages = RunTolvanectl({"messages", folder});
    ASSERT_EQ(messages.exitCode, 0) << messages.output;
    // One line per message with text, newest date first; line breaks inside a text are written
    // "\n".
    Rows expected = testkit::DumpRows(
        phoneSms,
        "select replace(replace(replace(text, '\\', '\\\\'), char(13), '\\r'), char(10), '\\n') "
        "from message where length(text) > 0 order by date desc, ROWID desc;");
    for (std::string& row : expected) {
        row.erase(0, 2);  // "t:"
    }
    const Rows lines = LinesOf(messages.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], std::to_string(expected.size()) + " messages");
    EXPECT_EQ(Rows(lines.begin() + 1, lines.end()), expected);

    const CommandRun contacts = RunTolvanectl({"contacts", folder});
    ASSERT_EQ(contacts.exitCode, 0) << contacts.output;
    EXPECT_EQ(LinesOf(contacts.output).front(), "20 contacts");
}

TEST_F(CommandTest, RefusalsSayWhyAndExitWithTheCode) {
    PhoneOptions options;
    options.backupPassword = "pw";
    SimulatedPhone phone(options);

    const CommandRun noPassword = RunTolvanectl({"import", "--sms", MessageExport(2)});
    EXPECT_EQ(noPassword.exitCode, 87);
    EXPECT_NE(noPassword.output.find("give its backup password with --password"), std::string::npos)
        << noPassword.output;

    const std::string emptyDb = dir_ / "empty.db";
    ASSERT_TRUE(testkit::CreateSmsDb(emptyDb));
    const CommandRun refused = RunTolvanectl({"import", "--sms", emptyDb});
    EXPECT_EQ(refused.exitCode, 255);
    EXPECT_NE(refused.output.find("Invalid SMS file format.Only supports Quorvex exported sms.csv "
                                  "file and iPhone SMS sqlite file. (code 1006)"),
              std::string::npos)
        << refused.output;

    const CommandRun missing = RunTolvanectl({"import", "--contacts", dir_ / "nothing.csv"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(phone.WillEncrypt());

    const CommandRun noBackup = RunTolvanectl({"messages", dir_.Path()});
    EXPECT_EQ(noBackup.exitCode, 2);
    EXPECT_NE(noBackup.output.find("no message database"), std::string::npos) << noBackup.output;
    EXPECT_EQ(RunTolvanectl({"messages", dir_.Path(), "--password", "pw"}).exitCode, 64);
}

// An import of an sms.csv and a contacts.csv onto a phone of iOS 17: its database afterwards
// holds the messages as the phone keeps its own (nanosecond dates, the words in attributedBody,
// a chat join with the date), and the contacts whole.
TEST_F(CommandTest, ImportOntoAModernPhone) {
    PhoneOptions options;
    options.productVersion = "17.5";
    options.mediaMb = 0;
    SimulatedPhone phone(options);
    const std::string contactsDb = dir_ / "contacts-source.db";
    ASSERT_TRUE(testkit::CreateAddressBookDb(contactsDb));
    {
        testkit::Database source(contactsDb);
        ASSERT_TRUE(testkit::FillContacts(source, 6));
        ASSERT_TRUE(source.Exec("UPDATE ABPersonFullTextSearch_content SET docid = docid + 900;"));
    }
    const std::string contactsCsv = dir_ / "contacts.csv";
    ASSERT_TRUE(testkit::WriteContactsExport(contactsDb, contactsCsv));

    const CommandRun imported =
        RunTolvanectl({"import", "--sms", MessageExport(12), "--contacts", contactsCsv});
    ASSERT_EQ(imported.exitCode, 0) << imported.output;
    EXPECT_NE(imported.output.find("Import complete"), std::string::npos) << imported.output;

    const std::string sms = phone.FilePath("HomeDomain", "Library/SMS/sms.db");
    EXPECT_EQ(testkit::DumpRows(sms, "select count(*) from message where ROWID > 500;"),
              Rows{"i:12"});
    EXPECT_EQ(testkit::DumpRows(sms,
                                "select count(*) from message m where ROWID > 500 and (date < "
                                "100000000000 or attributedBody is null or not exists (select 1 "
                                "from chat_message_join j where j.message_id = m.ROWID and "
                                "j.message_date = m.date));"),
              Rows{"i:0"});
    EXPECT_EQ(testkit::DumpRows(sms, "PRAGMA integrity_check;"), Rows{"t:ok"});
    const std::string ab = phone.FilePath("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb");
    EXPECT_EQ(testkit::DumpRows(ab, "select count(*) from ABPerson where ROWID > 900;"),
              Rows{"i:6"});
    EXPECT_EQ(testkit::DumpRows(ab,
                                "select count(*) from ABPersonFullTextSearch_content where "
                                "docid > 900;"),
              Rows{"i:6"});
}

// A message database of iOS 17 offered to a phone of iOS 14 is refused before the phone is
// touched, with the text that names both generations.
TEST_F(CommandTest, ANewerGenerationsDatabaseFileIsRefusedForAnOlderPhone) {
    const CommandRun made =
        testenv::RunProgram({SimulatedPhone::ProgramPath(), "make-device", dir_ / "newer",
                             "--media-mb", "0", "--product-version", "17.5"});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    PhoneOptions options;
    options.productVersion = "14.8";
    options.mediaMb = 0;
    SimulatedPhone phone(options);
    const std::string sms = phone.FilePath("HomeDomain", "Library/SMS/sms.db");
    const Rows before = testkit::DumpRows(sms, "select ROWID, guid, text, date from message;");

    const CommandRun refused =
        RunTolvanectl({"import", "--sms", dir_ / "newer/files/HomeDomain/Library/SMS/sms.db"});
    EXPECT_EQ(refused.exitCode, 255) << refused.output;
    EXPECT_NE(refused.output.find("The SMS file comes from a newer iPhone (iOS 17 or later) than "
                                  "this iPhone (iOS 14.8), which cannot read it."),
              std::string::npos)
        << refused.output;
    EXPECT_EQ(testkit::DumpRows(sms, "select ROWID, guid, text, date from message;"), before);
    for (const std::string& event : phone.Events()) {
        EXPECT_NE(event.rfind("backup started", 0), 0u) << event;
        EXPECT_NE(event.rfind("restore started", 0), 0u) << event;
    }
}

// A backup written by a phone of iOS 17 (Manifest.db, files in prefix folders, half of the
// messages only in attributedBody), listed by the commands as an iTunes backup and as an own
// one; its words are those of the iOS 7 phone made from the same seed, in its own date order.
TEST_F(CommandTest, TheMessagesAndContactsOfAModernPhonesBackupAreListed) {
    const std::string devsim = SimulatedPhone::ProgramPath();
    for (const char* version : {"7.1.2", "17.5"}) {
        const CommandRun made =
            testenv::RunProgram({devsim, "make-device", dir_ / version, "--media-mb", "0",
                                 "--messages", "50", "--product-version", version});
        ASSERT_EQ(made.exitCode, 0) << made.output;
    }
    const CommandRun written = testenv::RunProgram(
        {devsim, "write-backup", dir_ / "17.5", dir_ / "itunes", "--date", "2024-03-07T18:05:09Z"});
    ASSERT_EQ(written.exitCode, 0) << written.output;
    std::vector<platform::DirEntry> entries;
    ASSERT_EQ(platform::ListFolder(dir_ / "itunes", entries), 0);
    ASSERT_EQ(entries.size(), 1u);
    const std::string udid = entries[0].name;
    const std::string backup = dir_ / ("itunes/" + udid);
    ASSERT_TRUE(platform::FileExists(backup + "/Manifest.db"));
    const std::string sms = backup + "/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28";
    ASSERT_GT(std::stoi(testkit::DumpRows(sms, "select count(*) from message where text is null;")
                            .at(0)
                            .substr(2)),
              5);

    std::map<std::string, std::string> words;  // ROWID → the iOS 7 phone's text, as printed
    for (const std::string& row : testkit::DumpRows(
             dir_ / "7.1.2/files/HomeDomain/Library/SMS/sms.db",
             "select ROWID || '|' || replace(replace(replace(text, '\\', '\\\\'), char(13), "
             "'\\r'), char(10), '\\n') from message where length(text) > 0;")) {
        const size_t bar = row.find('|');
        words[row.substr(2, bar - 2)] = row.substr(bar + 1);
    }
    Rows expected;
    for (const std::string& row :
         testkit::DumpRows(sms, "select ROWID from message order by date desc, ROWID desc;")) {
        if (const auto it = words.find(row.substr(2)); it != words.end()) {
            expected.push_back(it->second);
        }
    }
    ASSERT_GT(expected.size(), 30u);

    const CommandRun itunes = RunTolvanectl({"messages", backup, "--itunes"});
    ASSERT_EQ(itunes.exitCode, 0) << itunes.output;
    Rows lines = LinesOf(itunes.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], std::to_string(expected.size()) + " messages");
    EXPECT_EQ(Rows(lines.begin() + 1, lines.end()), expected);

    // The same folder inside an own whole backup.
    const std::string own = dir_ / "own";
    ASSERT_EQ(platform::CreateFolderWithParents(own), 0);
    ASSERT_EQ(std::rename(backup.c_str(), (own + "/" + udid).c_str()), 0);
    const CommandRun ownRun = RunTolvanectl({"messages", own});
    ASSERT_EQ(ownRun.exitCode, 0) << ownRun.output;
    lines = LinesOf(ownRun.output);
    EXPECT_EQ(Rows(lines.begin() + 1, lines.end()), expected);

    const CommandRun contacts = RunTolvanectl({"contacts", own});
    ASSERT_EQ(contacts.exitCode, 0) << contacts.output;
    EXPECT_EQ(LinesOf(contacts.output).front(), "20 contacts");
}

}  // namespace
