// Imports onto the simulated phone, end to end: what the phone holds afterwards (row sets of its
// message and contacts databases, every other file), how many backups and restores it saw, what
// the work backup looks like, and what a refused file, a refused restore or a missing password
// leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "data/DataTexts.h"
#include "data/Import.h"
#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "store/Manifest.h"
#include "tests/data/ExportRecords.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"
#include "tests/tools/ExportWriter.h"
#include "tests/tools/RealSchemaDb.h"

using namespace tolvane;
using testenv::IsolatedHome;
using testenv::PhoneOptions;
using testenv::ReadFile;
using testenv::SimulatedPhone;
using testenv::TempDir;
using testkit::DumpRows;
using Rows = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

constexpr char kSmsPath[] = "Library/SMS/sms.db";
constexpr char kContactsPath[] = "Library/AddressBook/AddressBook.sqlitedb";

constexpr char kMessageRows[] = "select * from message order by ROWID;";
constexpr char kJoinRows[] = "select chat_id, message_id from chat_message_join;";
constexpr char kSearchRows[] =
    "select docid, c0First, c1Last, c15Phone, c16Email from ABPersonFullTextSearch_content "
    "order by docid;";
constexpr char kPersonRows[] = "select ROWID, First, Last from ABPerson order by ROWID;";

// An export turns double quotes inside texts into apostrophes.
Rows AsImported(Rows rows) {
    for (std::string& row : rows) {
        std::replace(row.begin(), row.end(), '"', '\'');
    }
    return rows;
}

Rows Joined(Rows a, const Rows& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Rows Sorted(Rows rows) {
    std::sort(rows.begin(), rows.end());
    return rows;
}

size_t CountEvents(const SimulatedPhone& phone, const std::string& prefix) {
    size_t n = 0;
    for (const std::string& line : phone.Events()) {
        n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
}

// Every file of the phone but its two databases, by path, with its content.
std::map<std::string, std::string> OtherPhoneFiles(const SimulatedPhone& phone) {
    std::map<std::string, std::string> files;
    const fs::path root = phone.DeviceDir() + "/files";
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(entry.path(), root).generic_string();
        if (entry.is_regular_file() && rel != std::string("HomeDomain/") + kSmsPath &&
            rel != std::string("HomeDomain/") + kContactsPath) {
            files[rel] = ReadFile(entry.path().string());
        }
    }
    return files;
}

struct ManifestCounts {
    size_t records = 0;
    size_t appRecords = 0;
};

ManifestCounts CountManifest(const std::string& path) {
    ManifestCounts counts;
    const std::string bytes = ReadFile(path);
    EXPECT_EQ(WalkMbdbRecords(bytes,
                              [&](const MbdbRecordSpan& r) {
                                  ++counts.records;
                                  counts.appRecords += r.domain.starts_with("AppDomain") ? 1 : 0;
                              }),
              0);
    return counts;
}

struct ProgressLog {
    std::vector<int32_t> phases;  // is-backup value of each call
    int32_t stopAt = -1;          // the call that answers 2
};

int32_t Record(void* userData, int32_t /*percent*/, int32_t isBackup) {
    auto* log = static_cast<ProgressLog*>(userData);
    log->phases.push_back(isBackup);
    return static_cast<int32_t>(log->phases.size()) - 1 == log->stopAt ? 2 : 0;
}

class ImportTest : public ::testing::Test {
  protected:
    void Connect() {
        engine_.CloseDevice();
        uint8_t willEncrypt = 0;
        ASSERT_EQ(engine_.ConnectDevice(&willEncrypt), 0);
    }

    int32_t Import(uint32_t categories, const std::string& sms, const std::string& contacts,
                   const char* password = nullptr) {
        engine_.SetCategories(categories);
        engine_.SetProgressCallback(Record);
        engine_.SetCallbackUserData(&progress_);
        engine_.SetProgressScale(100);
        return ImportData(engine_, sms.c_str(), contacts.c_str(), password, categories);
    }

    // A message export of `count` messages with ROWIDs from 1001, over the phone's handles 1..4.
    std::string MessageExport(const std::string& name, int count, int firstRowid = 1001) {
        const std::string db = dir_ / (name + ".db");
        EXPECT_TRUE(testkit::CreateSmsDb(db));
        {
            testkit::Database source(db);
            EXPECT_TRUE(testkit::FillSms(source, 4, count));
            // Message identifiers are unique too.
            EXPECT_TRUE(source.Exec(
                "UPDATE message SET ROWID = ROWID + " + std::to_string(firstRowid - 1) +
                ", guid = 'import-' || (ROWID + " + std::to_string(firstRowid - 1) + ");"));
        }
        const std::string csv = dir_ / (name + ".csv");
        EXPECT_TRUE(testkit::WriteSmsExport(db, csv));
        sources_[csv] = db;
        return csv;
    }

    // A contact export of `count` contacts with identifiers from 501.
    std::string ContactExport(const std::string& name, int count) {
        const std::string db = dir_ / (name + ".db");
        EXPECT_TRUE(testkit::CreateAddressBookDb(db));
        {
            testkit::Database source(db);
            EXPECT_TRUE(testkit::FillContacts(source, count));
            EXPECT_TRUE(
                source.Exec("UPDATE ABPersonFullTextSearch_content SET docid = docid + 500;"));
        }
        const std::string csv = dir_ / (name + ".csv");
        EXPECT_TRUE(testkit::WriteContactsExport(db, csv));
        sources_[csv] = db;
        return csv;
    }

    // The rows the phone's message database must hold after `csv` went in on top of `before`.
    Rows MessagesAfter(const Rows& before, const std::string& csv) {
        return Joined(before, AsImported(DumpRows(sources_[csv], kMessageRows)));
    }
    Rows JoinsAfter(const Rows& before, const std::string& csv) {
        return Sorted(
            Joined(before, DumpRows(sources_[csv], "select handle_id, ROWID from message;")));
    }
    Rows SearchRowsAfter(const Rows& before, const std::string& csv) {
        return Joined(before, AsImported(DumpRows(sources_[csv], kSearchRows)));
    }
    Rows PersonsAfter(const Rows& before, const std::string& csv) {
        return Joined(before,
                      AsImported(DumpRows(sources_[csv],
                                          "select docid, c0First, c1Last from "
                                          "ABPersonFullTextSearch_content order by docid;")));
    }

    std::string PhoneSms(const SimulatedPhone& phone) const {
        return phone.FilePath("HomeDomain", kSmsPath);
    }
    std::string PhoneContacts(const SimulatedPhone& phone) const {
        return phone.FilePath("HomeDomain", kContactsPath);
    }
    std::string WorkDeviceFolder(const SimulatedPhone& phone) const {
        return BackupEngine::TempBackupFolder() + "/" + phone.Udid();
    }

    IsolatedHome home_;
    TempDir dir_{"tolvane-import"};
    BackupEngine engine_;
    ProgressLog progress_;
    std::map<std::string, std::string> sources_;  // export -> the database it was written from
};

TEST_F(ImportTest, BothExportsGoOntoThePhoneWithOneBackupAndOneRestore) {
    SimulatedPhone phone;
    Connect();
    const Rows messagesBefore = DumpRows(PhoneSms(phone), kMessageRows);
    const Rows joinsBefore = DumpRows(PhoneSms(phone), kJoinRows);
    const Rows searchBefore = DumpRows(PhoneContacts(phone), kSearchRows);
    const Rows personsBefore = DumpRows(PhoneContacts(phone), kPersonRows);
    const auto othersBefore = OtherPhoneFiles(phone);
    ASSERT_EQ(messagesBefore.size(), 40u);
    ASSERT_EQ(searchBefore.size(), 20u);

    const std::string sms = MessageExport("sms", 30);
    const std::string contacts = ContactExport("contacts", 12);
    ASSERT_EQ(Import(Sms | Contacts, sms, contacts), 0) << engine_.GetLastErrorText();

    EXPECT_EQ(CountEvents(phone, "backup started"), 1u);
    EXPECT_EQ(CountEvents(phone, "restore started"), 1u);
    EXPECT_EQ(CountEvents(phone, "restore finished 0"), 1u);

    // The phone holds its own rows and exactly the exported ones, column by column.
    EXPECT_EQ(DumpRows(PhoneSms(phone), kMessageRows), MessagesAfter(messagesBefore, sms));
    EXPECT_EQ(Sorted(DumpRows(PhoneSms(phone), kJoinRows)), JoinsAfter(joinsBefore, sms));
    EXPECT_EQ(DumpRows(PhoneContacts(phone), kSearchRows), SearchRowsAfter(searchBefore, contacts));
    EXPECT_EQ(DumpRows(PhoneContacts(phone), kPersonRows), PersonsAfter(personsBefore, contacts));
    // Nothing else on the phone changed, applications' data included.
    EXPECT_EQ(OtherPhoneFiles(phone), othersBefore);

    // The work backup is whole again and ready for the next import.
    const std::string work = WorkDeviceFolder(phone);
    EXPECT_FALSE(platform::PathExists(work + "/Manifest.mbdb_bak"));
    EXPECT_GT(CountManifest(work + "/Manifest.mbdb").appRecords, 0u);
    EXPECT_TRUE(engine_.WorkingBackupReady());
    EXPECT_EQ(ReadFile(work + "/" + kSmsDatabaseName), ReadFile(PhoneSms(phone)));

    // The callback saw the backup first, then the restore.
    ASSERT_FALSE(progress_.phases.empty());
    EXPECT_EQ(progress_.phases.front(), 1);
    EXPECT_EQ(progress_.phases.back(), 0);
    EXPECT_TRUE(std::is_sorted(progress_.phases.rbegin(), progress_.phases.rend()));
}

// A work backup kept from an earlier import lacks what reached the phone since: restoring it
// would take that away again. Each import backs the phone up afresh.
TEST_F(ImportTest, EachImportBacksUpThePhoneAfreshAndKeepsWhatReachedItInBetween) {
    SimulatedPhone phone;
    Connect();
    const Rows searchBefore = DumpRows(PhoneContacts(phone), kSearchRows);
    const std::string sms = MessageExport("sms", 10);
    ASSERT_EQ(Import(Sms, sms, ""), 0) << engine_.GetLastErrorText();

    // The phone receives a message of its own before the next import.
    {
        testkit::Database onPhone(PhoneSms(phone));
        ASSERT_TRUE(testkit::AddMessage(onPhone, {5001, "arrived in between", 1, 500000000}));
    }
    const Rows messagesBetween = DumpRows(PhoneSms(phone), kMessageRows);
    ASSERT_EQ(DumpRows(PhoneSms(phone), "select count(*) from message where ROWID = 5001;"),
              Rows{"i:1"});

    // The phone restarts after a restore; the program reconnects, as the windows do.
    Connect();
    const std::string contacts = ContactExport("contacts", 5);
    ASSERT_EQ(Import(Contacts, "", contacts), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(CountEvents(phone, "backup started"), 2u);
    EXPECT_EQ(CountEvents(phone, "restore started"), 2u);
    EXPECT_EQ(DumpRows(PhoneSms(phone), kMessageRows), messagesBetween);
    EXPECT_EQ(DumpRows(PhoneContacts(phone), kSearchRows), SearchRowsAfter(searchBefore, contacts));

    // Importing the same export again adds nothing: its messages are already there.
    Connect();
    ASSERT_EQ(Import(Sms, sms, ""), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(CountEvents(phone, "backup started"), 3u);
    EXPECT_EQ(DumpRows(PhoneSms(phone), kMessageRows), messagesBetween);
}

TEST_F(ImportTest, ADatabaseFileReplacesThePhonesDatabaseWhole) {
    SimulatedPhone phone;
    Connect();
    const std::string contactsBefore = ReadFile(PhoneContacts(phone));
    const std::string db = dir_ / "other-phone-sms.sqlite";
    ASSERT_TRUE(testkit::CreateSmsDb(db));
    {
        testkit::Database source(db);
        ASSERT_TRUE(testkit::FillSms(source, 3, 25));
    }
    ASSERT_EQ(Import(Sms, db, ""), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(ReadFile(PhoneSms(phone)), ReadFile(db));
    EXPECT_EQ(DumpRows(PhoneSms(phone), kMessageRows), DumpRows(db, kMessageRows));
    EXPECT_EQ(ReadFile(PhoneContacts(phone)), contactsBefore);
    EXPECT_EQ(CountEvents(phone, "restore finished 0"), 1u);
}

// A phone's databases are in WAL mode; a merge into one and the replacement by a database that
// another program still has open (its "-wal" holding committed rows) both leave a consistent,
// complete database on the phone.
TEST_F(ImportTest, WalDatabasesReachThePhoneConsistentAndComplete) {
    SimulatedPhone phone;
    Connect();
    ASSERT_EQ(ReadFile(PhoneSms(phone)).substr(18, 2), std::string("\x02\x02", 2));
    const Rows before = DumpRows(PhoneSms(phone), kMessageRows);
    const std::string sms = MessageExport("sms", 5);
    ASSERT_EQ(Import(Sms, sms, ""), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(DumpRows(PhoneSms(phone), kMessageRows), MessagesAfter(before, sms));
    EXPECT_EQ(DumpRows(PhoneSms(phone), "PRAGMA integrity_check;"), Rows{"t:ok"});
    EXPECT_FALSE(fs::exists(PhoneSms(phone) + "-wal"));

    const std::string db = dir_ / "live-sms.sqlite";
    ASSERT_TRUE(testkit::CreateSmsDb(db));
    testkit::Database live(db);
    ASSERT_TRUE(live.Exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"));
    ASSERT_TRUE(testkit::FillSms(live, 3, 25));
    ASSERT_TRUE(live.Exec("UPDATE message SET text = 'only in the log' WHERE ROWID = 1;"));
    ASSERT_GT(fs::file_size(db + "-wal"), 0u);
    const Rows wanted = live.Rows(kMessageRows);
    Connect();
    ASSERT_EQ(Import(Sms, db, ""), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(DumpRows(PhoneSms(phone), kMessageRows), wanted);
    EXPECT_EQ(DumpRows(PhoneSms(phone), "PRAGMA integrity_check;"), Rows{"t:ok"});
    // The private copy is gone.
    EXPECT_FALSE(
        fs::exists(platform::JoinPath(platform::AppDataFolder(), "Tolvane/replacementsqlite.tmp")));
}

// A message database of a phone with message effects (iOS 10) is refused for this iOS 7 phone,
// which cannot read it, before the phone is touched.
TEST_F(ImportTest, ADatabaseOfANewerPhoneIsRefusedForThisOlderPhone) {
    SimulatedPhone phone;
    Connect();
    ASSERT_EQ(engine_.CachedProductVersion().rfind("7.", 0), 0u);
    const std::string smsBefore = ReadFile(PhoneSms(phone));
    const std::string db = dir_ / "newer-sms.sqlite";
    ASSERT_TRUE(testkit::CreateSmsDb(db));
    {
        testkit::Database source(db);
        ASSERT_TRUE(testkit::FillSms(source, 3, 5));
        ASSERT_TRUE(source.Exec("ALTER TABLE message ADD COLUMN expressive_send_style_id TEXT;"));
    }
    EXPECT_EQ(Import(Sms, db, ""), platform::IMPORT_BAD_FILE);
    EXPECT_NE(engine_.GetLastErrorText().find("comes from a newer iPhone (iOS 10 or later)"),
              std::string::npos)
        << engine_.GetLastErrorText();
    EXPECT_EQ(CountEvents(phone, "backup started"), 0u);
    EXPECT_EQ(ReadFile(PhoneSms(phone)), smsBefore);
}

TEST_F(ImportTest, ADatabaseThatFailsItsCheckIsRefusedBeforeAnyBackup) {
    SimulatedPhone phone;
    Connect();
    const std::string smsBefore = ReadFile(PhoneSms(phone));
    // A contacts database offered as the message database, and an empty message database.
    const std::string contactsDb = dir_ / "AddressBook.sqlitedb";
    ASSERT_TRUE(testkit::CreateAddressBookDb(contactsDb));
    const std::string emptySms = dir_ / "empty-sms.db";
    ASSERT_TRUE(testkit::CreateSmsDb(emptySms));

    EXPECT_EQ(Import(Sms, contactsDb, ""), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kInvalidSmsFileText);
    EXPECT_EQ(Import(Sms, emptySms, ""), platform::IMPORT_BAD_FILE);
    // The second category fails its check although the first is fine: every file is checked
    // before the phone is touched, so not even a backup is taken.
    EXPECT_EQ(Import(Sms | Contacts, MessageExport("sms", 3), emptySms), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kInvalidContactsFileText);
    EXPECT_EQ(Import(Sms | Contacts, emptySms, MessageExport("sms2", 3, 2001)),
              platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kInvalidSmsFileText);
    EXPECT_EQ(CountEvents(phone, "restore started"), 0u);
    EXPECT_EQ(CountEvents(phone, "backup started"), 0u);
    EXPECT_EQ(ReadFile(PhoneSms(phone)), smsBefore);
}

TEST_F(ImportTest, ARefusedExportEndsTheImportBeforeTheSecondCategoryAndTheRestore) {
    SimulatedPhone phone;
    Connect();
    const std::string smsBefore = ReadFile(PhoneSms(phone));
    const std::string contactsBefore = ReadFile(PhoneContacts(phone));
    // The second record has one value too many: a layout error among the first ten records.
    const std::string sms = dir_ / "bad-sms.csv";
    testenv::WriteFile(sms, testdata::SmsRecord(1001, "\"one\"", 1) +
                                testdata::SmsRecord(1002, "\"two\"", 1, "0,0"));
    EXPECT_EQ(Import(Sms | Contacts, sms, ContactExport("contacts", 3)), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kInvalidSmsFileText);
    EXPECT_EQ(CountEvents(phone, "backup started"), 1u);
    EXPECT_EQ(CountEvents(phone, "restore started"), 0u);
    EXPECT_EQ(ReadFile(PhoneSms(phone)), smsBefore);
    EXPECT_EQ(ReadFile(PhoneContacts(phone)), contactsBefore);
    // Neither database of the work backup was changed.
    const std::string work = WorkDeviceFolder(phone);
    EXPECT_EQ(ReadFile(work + "/" + kSmsDatabaseName), smsBefore);
    EXPECT_EQ(ReadFile(work + "/" + kContactsDatabaseName), contactsBefore);
}

// An export of which no record can be read would import nothing after a whole backup and restore
// of the phone: it is refused with the file's message before the phone is touched.
TEST_F(ImportTest, AnExportWithoutOneReadableRecordIsRefusedBeforeThePhoneIsTouched) {
    SimulatedPhone phone;
    Connect();
    const std::string smsBefore = ReadFile(PhoneSms(phone));
    std::string lfOnly = ReadFile(MessageExport("sms", 4));
    for (size_t at = lfOnly.find("\r\n"); at != std::string::npos; at = lfOnly.find("\r\n", at)) {
        lfOnly.erase(at, 1);
    }
    std::string garbage;
    for (int i = 0; i < 5000; ++i) {
        garbage += static_cast<char>((i * 7919 + 13) % 251);
    }
    std::string unterminated = testdata::SmsRecord(1001, "\"one\"", 1);
    unterminated.resize(unterminated.size() - 2);
    const std::map<std::string, std::string> smsFiles = {{"lf-only.csv", lfOnly},
                                                         {"garbage.csv", garbage},
                                                         {"empty.csv", ""},
                                                         {"unterminated.csv", unterminated}};
    for (const auto& [name, bytes] : smsFiles) {
        const std::string path = dir_ / name;
        testenv::WriteFile(path, bytes);
        engine_.SetLastErrorText("");
        EXPECT_EQ(Import(Sms, path, ""), platform::IMPORT_BAD_FILE) << name;
        EXPECT_EQ(engine_.GetLastErrorText(), kInvalidSmsFileText) << name;
    }
    // A contacts export with LF line ends, also when the message file beside it is fine.
    std::string contacts = ReadFile(ContactExport("contacts", 3));
    for (size_t at = contacts.find("\r\n"); at != std::string::npos;
         at = contacts.find("\r\n", at)) {
        contacts.erase(at, 1);
    }
    const std::string lfContacts = dir_ / "lf-contacts.csv";
    testenv::WriteFile(lfContacts, contacts);
    EXPECT_EQ(Import(Sms | Contacts, MessageExport("good", 2), lfContacts),
              platform::IMPORT_BAD_FILE);
    EXPECT_EQ(engine_.GetLastErrorText(), kInvalidContactsFileText);

    EXPECT_EQ(CountEvents(phone, "backup started"), 0u);
    EXPECT_EQ(CountEvents(phone, "restore started"), 0u);
    EXPECT_EQ(ReadFile(PhoneSms(phone)), smsBefore);
}

// The import says how many records went in and how many were left out, and why.
TEST_F(ImportTest, TheReportCountsAddedAndLeftOutRecords) {
    SimulatedPhone phone;
    Connect();
    const std::string sms = dir_ / "mixed.csv";
    // Two new messages, one whose ROWID the phone has, one to a correspondent it does not know.
    testenv::WriteFile(sms, testdata::SmsRecord(1001, "\"new one\"", 1) +
                                testdata::SmsRecord(1, "\"old\"", 1) +
                                testdata::SmsRecord(1002, "\"stranger\"", 9999) +
                                testdata::SmsRecord(1003, "\"new two\"", 2));
    engine_.SetCategories(Sms);
    ImportReport report;
    ASSERT_EQ(ImportData(engine_, sms.c_str(), "", nullptr, Sms, &report), 0)
        << engine_.GetLastErrorText();
    EXPECT_TRUE(report.smsMerged);
    EXPECT_FALSE(report.contactsMerged);
    EXPECT_EQ(report.sms.added, 2);
    EXPECT_EQ(report.sms.alreadyPresent, 1);
    EXPECT_EQ(report.sms.unknownCorrespondent, 1);
    EXPECT_EQ(DescribeImport(report),
              "messages: 2 added, 2 left out (1 already present, 1 with an unknown "
              "correspondent)");
    EXPECT_EQ(DumpRows(PhoneSms(phone), "select count(*) from message where ROWID > 1000;"),
              Rows{"i:2"});
}

TEST_F(ImportTest, APhoneThatEncryptsNeedsItsPasswordBeforeAnyBackup) {
    PhoneOptions options;
    options.backupPassword = "open sesame";
    SimulatedPhone phone(options);
    Connect();
    ASSERT_TRUE(engine_.WillEncrypt());
    const std::string sms = MessageExport("sms", 4);

    EXPECT_EQ(Import(Sms, sms, ""), platform::kResultMissing);
    EXPECT_EQ(engine_.FailureOf(platform::kResultMissing), platform::Failure::PasswordNeeded);
    EXPECT_EQ(CountEvents(phone, "backup started"), 0u);
    EXPECT_EQ(CountEvents(phone, "password"), 0u);
    EXPECT_TRUE(phone.WillEncrypt());
    EXPECT_TRUE(progress_.phases.empty());

    EXPECT_EQ(Import(Sms, sms, "", "wrong"), -207);
    EXPECT_EQ(CountEvents(phone, "backup started"), 0u);
    EXPECT_TRUE(phone.WillEncrypt());

    // With its password the phone takes the import, and encrypts again afterwards.
    Connect();
    const Rows before = DumpRows(PhoneSms(phone), kMessageRows);
    ASSERT_EQ(Import(Sms, sms, "", "open sesame"), 0) << engine_.GetLastErrorText();
    EXPECT_TRUE(phone.WillEncrypt());
    EXPECT_EQ(CountEvents(phone, "password removed"), 1u);
    EXPECT_EQ(CountEvents(phone, "password set"), 1u);
    EXPECT_EQ(DumpRows(PhoneSms(phone), kMessageRows), MessagesAfter(before, sms));
}

TEST_F(ImportTest, ARefusedRestoreLeavesThePhoneAsItWasAndTheWorkBackupWhole) {
    SimulatedPhone phone({}, {"refuse-restore=204:Restore refused for the test"});
    Connect();
    const std::string smsBefore = ReadFile(PhoneSms(phone));
    const Rows messagesBefore = DumpRows(PhoneSms(phone), kMessageRows);
    const std::string sms = MessageExport("sms", 6);

    EXPECT_EQ(Import(Sms, sms, ""), -204);
    EXPECT_EQ(engine_.GetLastErrorText(), "Restore refused for the test");
    EXPECT_EQ(ReadFile(PhoneSms(phone)), smsBefore);
    const std::string work = WorkDeviceFolder(phone);
    EXPECT_FALSE(platform::PathExists(work + "/Manifest.mbdb_bak"));
    const ManifestCounts counts = CountManifest(work + "/Manifest.mbdb");
    EXPECT_GT(counts.appRecords, 0u);

    // Once the phone takes restores again, the next import takes a new backup and goes through.
    phone.Restart();
    Connect();
    ASSERT_EQ(Import(Sms, sms, ""), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(CountEvents(phone, "backup started"), 2u);
    EXPECT_EQ(DumpRows(PhoneSms(phone), kMessageRows), MessagesAfter(messagesBefore, sms));
    EXPECT_EQ(CountManifest(work + "/Manifest.mbdb").records, counts.records);
}

TEST_F(ImportTest, ACancelledBackupRestoresNothing) {
    PhoneOptions options;
    options.mediaMb = 3;
    SimulatedPhone phone(options);
    Connect();
    const std::string smsBefore = ReadFile(PhoneSms(phone));
    progress_.stopAt = 1;
    EXPECT_EQ(Import(Sms, MessageExport("sms", 3), ""), platform::kResultCancelled);
    EXPECT_FALSE(engine_.WorkingBackupReady());
    EXPECT_EQ(CountEvents(phone, "restore started"), 0u);
    EXPECT_EQ(ReadFile(PhoneSms(phone)), smsBefore);
}

TEST_F(ImportTest, AWorkBackupTakenForAnotherPhoneIsNeitherUsedNorRestoredLater) {
    const std::string sms = MessageExport("sms", 5);
    SimulatedPhone first;
    Connect();
    ASSERT_EQ(Import(Sms, sms, ""), 0) << engine_.GetLastErrorText();
    ASSERT_TRUE(engine_.WorkingBackupReady());
    first.Stop();

    // Another phone on the same engine gets a work backup of its own.
    PhoneOptions options;
    options.seed = 2;
    SimulatedPhone second(options);
    ASSERT_NE(second.Udid(), first.Udid());
    Connect();
    const Rows secondBefore = DumpRows(PhoneSms(second), kMessageRows);
    ASSERT_EQ(Import(Sms, sms, ""), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(CountEvents(second, "backup started"), 1u);
    EXPECT_EQ(DumpRows(PhoneSms(second), kMessageRows), MessagesAfter(secondBefore, sms));
    second.Stop();

    // Back on the first phone, which has received a message meanwhile: its old work backup is
    // out of date and must not be put back on it.
    first.Restart();
    {
        testkit::Database db(PhoneSms(first));
        testkit::MessageRow row;
        row.rowid = 3000;
        row.text = "arrived after the first import";
        row.handleId = 1;
        ASSERT_TRUE(testkit::AddMessage(db, row));
    }
    const Rows firstBefore = DumpRows(PhoneSms(first), kMessageRows);
    Connect();
    const std::string more = MessageExport("more", 2, 2001);
    ASSERT_EQ(Import(Sms, more, ""), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(CountEvents(first, "backup started"), 2u);
    EXPECT_EQ(Sorted(DumpRows(PhoneSms(first), kMessageRows)),
              Sorted(MessagesAfter(firstBefore, more)));
}

TEST_F(ImportTest, WithoutACategoryOrAFileNothingHappens) {
    SimulatedPhone phone;
    Connect();
    EXPECT_EQ(Import(0, "sms.csv", "contacts.csv"), platform::kResultMissing);
    EXPECT_EQ(Import(Full, "sms.csv", "contacts.csv"), platform::kResultMissing);
    EXPECT_EQ(ImportData(engine_, nullptr, nullptr, nullptr, Sms), platform::kResultMissing);
    EXPECT_EQ(Import(Contacts, "sms.csv", ""), platform::kResultMissing);
    // The missing second file is noticed before the first is imported.
    EXPECT_EQ(Import(Sms | Contacts, MessageExport("sms", 2), ""), platform::kResultMissing);
    EXPECT_EQ(CountEvents(phone, "backup started"), 0u);
}

TEST(ImportPaths, AnExportIsAPathHoldingDotCsvAsWritten) {
    EXPECT_TRUE(IsExportPath("/home/u/sms.csv"));
    EXPECT_TRUE(IsExportPath("/home/u/exports.csv/AddressBook.sqlitedb"));
    EXPECT_TRUE(IsExportPath("sms.csv.bak"));
    EXPECT_FALSE(IsExportPath("/home/u/SMS.CSV"));
    EXPECT_FALSE(IsExportPath("/home/u/sms.db"));
    EXPECT_FALSE(IsExportPath("csv"));
}

}  // namespace
