// Phones of iOS 10 and later end to end: whole and category backups land in the newer layout and
// are catalogued with their format, whole and category restores from own and the other program's
// backups, the passcode wait, and the refusals of backups that must not reach the phone (a newer
// generation than the phone's, a damaged manifest, rows that leave their domain, missing database
// rows). The older generation runs through the same checks where they apply.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>

#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Sha1.h"
#include "store/BackupFormat.h"
#include "store/Catalogue.h"
#include "store/EncryptedBackup.h"
#include "store/ManifestDb.h"
#include "store/MbFile.h"
#include "tests/restore/RestoreFixture.h"

using namespace tolvane;
using namespace restoretest;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

constexpr char kSmsFile[] = "3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28";

void RunSql(const std::string& path, const std::string& sql) {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    platform::SqlitePtr db(raw);
    char* message = nullptr;
    ASSERT_EQ(sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << (message != nullptr ? message : "");
}

void ExpectNothingStartedOn(const testenv::SimulatedPhone& phone) {
    EXPECT_EQ(EventsStartingWith(phone, "restore started"), Lines{});
    EXPECT_EQ(EventsStartingWith(phone, "backup started"), Lines{});
}

class ModernPhone : public RestoreTest, public ::testing::WithParamInterface<const char*> {
  protected:
    void StartVersion(const std::string& version, const std::vector<std::string>& faults = {}) {
        testenv::PhoneOptions options;
        options.productVersion = version;
        options.backupRounds = 1000;
        StartPhone(options, faults);
    }
    // Every file of a device folder, relative to it.
    static Lines Files(const std::string& device) { return FilesUnder(device); }
    void ExpectNothingStarted() {
        EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{});
        EXPECT_EQ(EventsStartingWith(*phone_, "backup started"), Lines{});
    }
};

}  // namespace

TEST_P(ModernPhone, WholeBackupLandsInTheNewerLayoutAndIsCatalogued) {
    StartVersion(GetParam());
    const std::string backup = OwnBackup(Full);
    ASSERT_FALSE(backup.empty());
    const std::string device = backup + "/" + udid_;
    EXPECT_EQ(DeviceFolderFormat(device), BackupFormat::Database);
    EXPECT_FALSE(fs::exists(device + "/Snapshot"));
    EXPECT_FALSE(fs::exists(device + "/Manifest.mbdb"));
    EXPECT_EQ(testenv::ReadFile(device + "/" + kSmsFile),
              testenv::ReadFile(phone_->FilePath("HomeDomain", "Library/SMS/sms.db")));

    // Every file row of the manifest is there, with the size and digest its MBFile records, and
    // nothing else lies in the prefix folders.
    ManifestDb db;
    ASSERT_EQ(db.OpenReadOnly(device + "/Manifest.db"), 0) << db.Error();
    size_t rows = 0;
    std::set<std::string> listed;
    ASSERT_EQ(db.Walk([&](const ManifestRow& row) {
        if (row.flags != kManifestFlagFile) {
            return true;
        }
        ++rows;
        MbFile file;
        std::string error;
        EXPECT_TRUE(DecodeMbFile(row.file, file, error)) << error;
        const std::string name = PrefixedFileName(row.fileID);
        listed.insert(name);
        const std::string bytes = testenv::ReadFile(device + "/" + name);
        EXPECT_EQ(bytes.size(), file.size) << row.relativePath;
        if (file.digest) {
            const platform::Sha1Digest d = platform::Sha1Of(bytes);
            EXPECT_EQ(*file.digest, std::string(reinterpret_cast<const char*>(d.data()), d.size()));
        }
        return true;
    }),
              0)
        << db.Error();
    EXPECT_GT(rows, 10u);
    for (const std::string& name : Files(device)) {
        if (name.size() > 3 && name[2] == '/') {
            EXPECT_EQ(listed.count(name), 1u) << name;
        }
    }

    std::vector<BackupEntry> entries;
    ListOwnBackups(base_, entries);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].format, BackupFormat::Database);
    EXPECT_EQ(entries[0].encrypted, 0);
    EXPECT_EQ(entries[0].categories, static_cast<int32_t>(Full));
}

TEST_P(ModernPhone, CategoryBackupCopiesBothDatabasesFromTheirPrefixFolders) {
    StartVersion(GetParam());
    const std::string backup = OwnBackup(Sms | Contacts);
    ASSERT_FALSE(backup.empty());
    EXPECT_EQ(testenv::ReadFile(backup + "/sms"),
              testenv::ReadFile(phone_->FilePath("HomeDomain", "Library/SMS/sms.db")));
    EXPECT_EQ(testenv::ReadFile(backup + "/content"),
              testenv::ReadFile(
                  phone_->FilePath("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb")));
    std::vector<BackupEntry> entries;
    ListOwnBackups(base_, entries);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].format, BackupFormat::Database);  // from the version in fileinfo
    // Nothing of the work backup is left: neither files nor prefix folders.
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
    EXPECT_FALSE(fs::exists(WorkDeviceFolder() + "/3d"));
}

TEST_P(ModernPhone, WholeRestoresFromOwnAndOtherProgramsBackups) {
    StartVersion(GetParam());
    const PhoneFiles before = ReadPhoneFiles(*phone_);
    const std::string own = OwnBackup(Full);
    const std::string other = WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes");
    ASSERT_EQ(DeviceFolderFormat(other), BackupFormat::Database);

    Scribble(*phone_, kSmsPath);
    Scribble(*phone_, kContactsPath);
    ASSERT_EQ(Restore(Full, own), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(EventsStartingWith(*phone_, "restore finished"), Lines{"restore finished 0"});

    Reconnect();
    Scribble(*phone_, kSmsPath);
    ASSERT_EQ(Restore(Full, other, true), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
}

TEST_P(ModernPhone, CategoryRestoresReplaceOnlyTheChosenDatabase) {
    StartVersion(GetParam());
    const PhoneFiles atBackup = ReadPhoneFiles(*phone_);
    const std::string own = OwnBackup(Full);
    const std::string copies = OwnBackup(Sms | Contacts);
    const std::string other = WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes");

    struct Case {
        const char* what;
        uint32_t categories;
        std::string folder;
        bool itunes;
    };
    const Case cases[] = {
        {"own full, messages", Sms, own, false},
        {"own copies, contacts", Contacts, copies, false},
        {"other program, both", Sms | Contacts, other, true},
    };
    for (const Case& c : cases) {
        Reconnect();
        Scribble(*phone_, kSmsPath);
        Scribble(*phone_, kContactsPath);
        const PhoneFiles changed = ReadPhoneFiles(*phone_);
        ASSERT_EQ(Restore(c.categories, c.folder, c.itunes), 0)
            << c.what << ": " << engine_.GetLastErrorText();
        const PhoneFiles after = ReadPhoneFiles(*phone_);
        Lines expected;
        if ((c.categories & Contacts) != 0) {
            expected.push_back(kContactsPath);
            EXPECT_TRUE(after.at(kContactsPath) == atBackup.at(kContactsPath)) << c.what;
        }
        if ((c.categories & Sms) != 0) {
            expected.push_back(kSmsPath);
            EXPECT_TRUE(after.at(kSmsPath) == atBackup.at(kSmsPath)) << c.what;
        }
        // Applications' data and every other file stay as they were just before.
        EXPECT_EQ(Differences(changed, after), expected) << c.what;
        EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{}) << c.what;
    }
}

TEST_P(ModernPhone, EncryptedBackupOfAnotherProgramRestoresWhole) {
    StartVersion(GetParam());
    const PhoneFiles before = ReadPhoneFiles(*phone_);
    const std::string backup =
        WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes", {"--encrypt", "pw"});
    std::vector<BackupEntry> entries;
    ListItunesBackupsIn(home_.Home() + "/itunes", entries);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].encrypted, 1);  // from Manifest.plist's IsEncrypted
    EXPECT_EQ(entries[0].format, BackupFormat::Database);

    Scribble(*phone_, kSmsPath);
    ASSERT_EQ(Restore(Full, backup, true, "pw"), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
}

TEST_P(ModernPhone, HostileOrDamagedManifestsNeverReachThePhone) {
    StartVersion(GetParam());
    const std::string parent = home_.Home() + "/itunes";
    const std::string backup = WriteOtherProgramsBackup(*phone_, parent);
    const std::string pristine = home_.Home() + "/pristine";
    fs::copy(backup, pristine, fs::copy_options::recursive);
    Scribble(*phone_, kSmsPath);
    const PhoneFiles changed = ReadPhoneFiles(*phone_);
    const std::string sms = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";

    struct Case {
        const char* what;
        std::string sql;  // empty: the file is overwritten with text
        const char* says;
    };
    const Case cases[] = {
        {"parent path",
         "UPDATE Files SET relativePath = '../../../outside' WHERE fileID = '" + sms + "'",
         "outside its domain"},
        {"absolute path",
         "UPDATE Files SET relativePath = '/etc/passwd' WHERE fileID = '" + sms + "'",
         "outside its domain"},
        {"missing database row", "DELETE FROM Files WHERE fileID = '" + sms + "'",
         "no record of the message database"},
        {"damaged", "", "damaged"},
    };
    for (const Case& c : cases) {
        fs::remove_all(backup);
        fs::copy(pristine, backup, fs::copy_options::recursive);
        if (c.sql.empty()) {
            testenv::WriteFile(backup + "/Manifest.db", std::string(8192, 'x'));
        } else {
            RunSql(backup + "/Manifest.db", c.sql);
        }
        for (const uint32_t categories :
             {static_cast<uint32_t>(Full), static_cast<uint32_t>(Sms)}) {
            if (categories == Full && std::string(c.what) == "missing database row") {
                continue;  // a whole restore of a manifest without the database is its own choice
            }
            Reconnect();
            EXPECT_NE(Restore(categories, backup, true), 0) << c.what;
            EXPECT_NE(engine_.GetLastErrorText().find(c.says), std::string::npos)
                << c.what << ": " << engine_.GetLastErrorText();
            ExpectNothingStarted();
            EXPECT_EQ(Differences(changed, ReadPhoneFiles(*phone_)), Lines{}) << c.what;
        }
    }
    EXPECT_FALSE(fs::exists(parent + "/outside"));
    EXPECT_FALSE(fs::exists(home_.Home() + "/outside"));
}

INSTANTIATE_TEST_SUITE_P(Versions, ModernPhone, ::testing::Values("17.5", "10.3"));

// The generations meet: a backup of the newer layout is refused by a phone of the older one
// before anything reaches it, while the other way round (a phone updated since) restores.
TEST_F(RestoreTest, BackupOfANewerGenerationIsRefusedBeforeThePhoneIsTouched) {
    testenv::PhoneOptions modern;
    modern.productVersion = "17.5";
    StartPhone(modern);
    const std::string newer = WriteOtherProgramsBackup(*phone_, home_.Home() + "/newer");

    engine_.CloseDevice();
    phone_.reset();
    StartPhone();  // 7.1.2
    const PhoneFiles before = ReadPhoneFiles(*phone_);
    const std::string older = WriteOtherProgramsBackup(*phone_, home_.Home() + "/older");
    EXPECT_EQ(DeviceFolderFormat(older), BackupFormat::Mbdb);
    EXPECT_NE(Restore(Full, newer, true), 0);
    EXPECT_NE(engine_.GetLastErrorText().find("cannot restore"), std::string::npos)
        << engine_.GetLastErrorText();
    EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{});
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});

    // The older phone's own backup still restores, whole and by category.
    Reconnect();
    Scribble(*phone_, kSmsPath);
    ASSERT_EQ(Restore(Full, older, true), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    Reconnect();
    Scribble(*phone_, kSmsPath);
    ASSERT_EQ(Restore(Sms, older, true), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(ReadPhoneFiles(*phone_).at(kSmsPath), before.at(kSmsPath));
}

// A phone of iOS 16.1 and later says nothing after the Backup request until its user has typed
// the passcode: the silence bound must not end that wait, the user is told to unlock the phone,
// and a phone that answers "Device locked" in the end fails the run cleanly.
TEST_F(RestoreTest, PasscodeWaitOutlastsTheSilenceBound) {
    testenv::PhoneOptions modern;
    modern.productVersion = "17.5";
    StartPhone(modern, {"passcode-after=5"});
    engine_.SetSilenceLimit(std::chrono::seconds(2));
    engine_.SetCategories(Full);
    engine_.SetProgressCallback(nullptr);
    ::testing::internal::CaptureStdout();
    const int32_t result = engine_.RunBackup(base_, nullptr);
    std::fflush(stdout);  // the run's lines may still sit in the stream's buffer
    const std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(result, 0) << engine_.GetLastErrorText();
    EXPECT_NE(printed.find("unlock it and type its passcode"), std::string::npos) << printed;
    EXPECT_EQ(engine_.GetLastErrorText(), "");  // the request to unlock went once it was done
    EXPECT_TRUE(platform::FileExists(engine_.LastBackupFolder() + "/" + udid_ + "/Manifest.db"));

    phone_->Restart({"passcode-never", "passcode-limit=4"});
    Reconnect();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(engine_.RunBackup(base_, nullptr), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_NE(engine_.GetLastErrorText().find("locked"), std::string::npos)
        << engine_.GetLastErrorText();
    engine_.SetSilenceLimit(std::chrono::seconds(45));
}

// A restore by category from an encrypted backup of the newer layout goes through the decryption
// tool with the backup's newer key files in their layout: the phone gets the backup's message
// database back, and no plain copy is left behind.
TEST_F(RestoreTest, EncryptedNewerBackupByCategoryGoesThroughTheTool) {
    testenv::PhoneOptions modern;
    modern.productVersion = "17.5";
    modern.backupRounds = 1000;
    StartPhone(modern);
    const PhoneFiles atBackup = ReadPhoneFiles(*phone_);
    const std::string backup =
        WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes", {"--encrypt", "pw"});
    Scribble(*phone_, kSmsPath);
    const PhoneFiles changed = ReadPhoneFiles(*phone_);

    EXPECT_EQ(Restore(Sms, backup, true, nullptr), platform::kResultWrongPassword);
    ExpectNothingStartedOn(*phone_);

    const int32_t result = Restore(Sms, backup, true, "pw");
    // Neither the encrypted copies the tool read nor its plain output stay behind.
    EXPECT_EQ(FilesUnder(BackupToolInputFolder()), Lines{});
    EXPECT_EQ(FilesUnder(BackupToolOutputFolder()), Lines{});
    ASSERT_EQ(result, 0) << engine_.GetLastErrorText();
    EXPECT_TRUE(ReadPhoneFiles(*phone_).at(kSmsPath) == atBackup.at(kSmsPath));
    EXPECT_FALSE(ReadPhoneFiles(*phone_).at(kSmsPath) == changed.at(kSmsPath));
}
