// Restores of only the messages and/or contacts, end to end: afterwards the phone's chosen
// databases are those of the backup byte for byte, and every other file of the phone (the other
// database, media, applications' data, system files) is as it was just before the restore.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include "engine/BackupEngine.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Strings.h"
#include "store/EncryptedBackup.h"
#include "tests/restore/RestoreFixture.h"

using namespace tolvane;
using namespace restoretest;
using Lines = std::vector<std::string>;

namespace {

const char kWillStart[] = "com.apple.itunes-mobdev.syncWillStart";
const char kLockRequest[] = "com.apple.itunes-mobdev.syncLockRequest";
const char kDidStart[] = "com.apple.itunes-mobdev.syncDidStart";
const char kDidFinish[] = "com.apple.itunes-mobdev.syncDidFinish";

class CategoryRestore : public RestoreTest {
  protected:
    // After the backup, every kind of file of the phone changes: both databases, a photo, an
    // application's data and a system file.
    void ChangeEverything() {
        Scribble(*phone_, kSmsPath);
        Scribble(*phone_, kContactsPath);
        for (const std::string& key : SomeOtherFiles()) {
            Scribble(*phone_, key);
        }
    }
    // One file of each other kind the phone holds.
    Lines SomeOtherFiles() const {
        Lines picked;
        for (const char* domain :
             {"CameraRollDomain/", "AppDomain-", "SystemPreferencesDomain/", "MediaDomain/"}) {
            for (const auto& [key, contents] : ReadPhoneFiles(*phone_)) {
                if (key.rfind(domain, 0) == 0) {
                    picked.push_back(key);
                    break;
                }
            }
        }
        EXPECT_EQ(picked.size(), 4u);
        return picked;
    }
    // The phone after a category restore: `changed` with only the chosen databases replaced.
    void ExpectOnlyTheseDatabasesReplaced(const PhoneFiles& changed,
                                          const std::map<std::string, std::string>& replaced) {
        const PhoneFiles after = ReadPhoneFiles(*phone_);
        Lines keys;
        for (const auto& [key, contents] : replaced) {
            keys.push_back(key);
            ASSERT_EQ(after.count(key), 1u) << key;
            EXPECT_TRUE(after.at(key) == contents) << key << " is not the backup's";
        }
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(Differences(changed, after), keys);
        EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
    }
};

TEST_F(CategoryRestore, MessagesFromAnOwnFullBackup) {
    StartPhone();
    const std::string backup = OwnBackup(Full);
    const PhoneFiles atBackup = ReadPhoneFiles(*phone_);
    ChangeEverything();
    const PhoneFiles changed = ReadPhoneFiles(*phone_);
    const size_t earlier = phone_->Notifications().size();

    ASSERT_EQ(Restore(Sms, backup), 0) << engine_.GetLastErrorText();
    ExpectOnlyTheseDatabasesReplaced(changed, {{kSmsPath, atBackup.at(kSmsPath)}});
    EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{"restore started " + udid_});
    // Applications' data was left out of the restored manifest, system files went back as the
    // fresh backup held them.
    const Lines applied = EventsStartingWith(*phone_, "restore applied");
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].find("kept"), std::string::npos) << applied[0];

    // The callback saw the fresh backup (1), then the restore (0), each from its own start.
    ASSERT_FALSE(progress_.calls.empty());
    EXPECT_EQ(progress_.calls.front().second, 1);
    EXPECT_EQ(progress_.calls.back().second, 0);
    bool restoring = false;
    for (const auto& [percent, isBackup] : progress_.calls) {
        if (isBackup == 0 && !restoring) {
            restoring = true;
            EXPECT_LT(percent, 50);  // the restore's figure starts again from the beginning
        }
        EXPECT_EQ(isBackup, restoring ? 0 : 1);
    }
    EXPECT_TRUE(restoring);

    // The lock was held by the fresh backup, released, and taken again for the restore.
    Lines names = phone_->Notifications();
    names.erase(names.begin(), names.begin() + static_cast<long>(earlier));
    EXPECT_EQ(names, (Lines{kDidFinish, kWillStart, kLockRequest, kDidStart, kDidFinish}));
    const Lines events = phone_->Events();
    const auto backupDone = std::find(events.begin(), events.end(), "backup finished 0");
    const auto restoreBegun = std::find(events.begin(), events.end(), "restore started " + udid_);
    ASSERT_TRUE(backupDone < restoreBegun);
    EXPECT_NE(std::find_if(backupDone, restoreBegun,
                           [](const std::string& l) { return l.rfind("lock acquired", 0) == 0; }),
              restoreBegun);
}

TEST_F(CategoryRestore, ContactsFromAnOwnCategoryBackup) {
    StartPhone();
    const std::string backup = OwnBackup(Sms | Contacts);
    const PhoneFiles atBackup = ReadPhoneFiles(*phone_);
    ChangeEverything();
    const PhoneFiles changed = ReadPhoneFiles(*phone_);

    ASSERT_EQ(Restore(Contacts, backup), 0) << engine_.GetLastErrorText();
    ExpectOnlyTheseDatabasesReplaced(changed, {{kContactsPath, atBackup.at(kContactsPath)}});
    // The chosen backup is only read.
    EXPECT_EQ(testenv::ReadFile(backup + "/sms"), atBackup.at(kSmsPath));
    EXPECT_EQ(testenv::ReadFile(backup + "/content"), atBackup.at(kContactsPath));
}

// A message database of a newer phone generation (inline replies: iOS 14) is refused for this
// iOS 7 phone, which could not read it, before a backup of the phone is taken.
TEST_F(CategoryRestore, ADatabaseOfANewerPhoneIsNotRestoredOntoAnOlderOne) {
    StartPhone();
    const std::string backup = OwnBackup(Sms | Contacts);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((backup + "/sms").c_str(), &db), SQLITE_OK);
    const int altered =
        sqlite3_exec(db, "ALTER TABLE message ADD COLUMN thread_originator_guid TEXT;", nullptr,
                     nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(altered, SQLITE_OK);
    const size_t backupsBefore = EventsStartingWith(*phone_, "backup started").size();
    const PhoneFiles before = ReadPhoneFiles(*phone_);

    EXPECT_EQ(Restore(Sms, backup), platform::IMPORT_BAD_FILE);
    EXPECT_NE(engine_.GetLastErrorText().find("comes from a newer iPhone (iOS 14 or later)"),
              std::string::npos)
        << engine_.GetLastErrorText();
    EXPECT_NE(engine_.GetLastErrorText().find("can be restored"), std::string::npos);
    EXPECT_EQ(EventsStartingWith(*phone_, "backup started").size(), backupsBefore);
    EXPECT_TRUE(ReadPhoneFiles(*phone_) == before);
    // The contacts of the same backup suit the phone and are restored.
    EXPECT_EQ(Restore(Contacts, backup), 0) << engine_.GetLastErrorText();
}

TEST_F(CategoryRestore, BothFromAPlainBackupOfAnotherProgram) {
    StartPhone();
    const PhoneFiles atBackup = ReadPhoneFiles(*phone_);
    const std::string backup = WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes");
    ChangeEverything();
    const PhoneFiles changed = ReadPhoneFiles(*phone_);

    ASSERT_EQ(Restore(Sms | Contacts, backup, true), 0) << engine_.GetLastErrorText();
    ExpectOnlyTheseDatabasesReplaced(
        changed, {{kSmsPath, atBackup.at(kSmsPath)}, {kContactsPath, atBackup.at(kContactsPath)}});
    // The work backup's device folder is named by this phone, not by the chosen backup.
    EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{"restore started " + udid_});
}

TEST_F(CategoryRestore, EncryptedBackupOfAnotherProgramIsDecryptedFirst) {
    StartPhone();
    const PhoneFiles atBackup = ReadPhoneFiles(*phone_);
    const std::string backup =
        WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes", {"--encrypt", "pass wörd"});
    ChangeEverything();
    const PhoneFiles changed = ReadPhoneFiles(*phone_);

    // A wrong password is found by the tool before the phone hears of the restore.
    EXPECT_EQ(Restore(Sms | Contacts, backup, true, "wrong"), platform::kResultWrongPassword);
    EXPECT_EQ(EventsStartingWith(*phone_, "backup started"), Lines{});
    EXPECT_EQ(Differences(changed, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(Restore(Sms, backup, true, nullptr), platform::kResultWrongPassword);
    EXPECT_EQ(EventsStartingWith(*phone_, "backup started"), Lines{});

    ASSERT_EQ(Restore(Sms | Contacts, backup, true, "pass wörd"), 0) << engine_.GetLastErrorText();
    ExpectOnlyTheseDatabasesReplaced(
        changed, {{kSmsPath, atBackup.at(kSmsPath)}, {kContactsPath, atBackup.at(kContactsPath)}});
    // No plain copy of the encrypted backup's databases outlives the restore.
    EXPECT_EQ(FilesUnder(BackupToolOutputFolder()), Lines{});
}

TEST_F(CategoryRestore, DatabasesOfAnEarlierDecryptionAreNeverUsed) {
    StartPhone();
    const std::string backup =
        WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes", {"--encrypt", "pw"});
    ChangeEverything();
    const PhoneFiles changed = ReadPhoneFiles(*phone_);
    // What an earlier run could have left in the tool's output folder.
    const std::string output = BackupToolOutputFolder();
    const std::string stale = testenv::ReadFile(phone_->DeviceDir() + "/files/" + kSmsPath);
    for (const char* name : {"sms", "content", kSmsDatabaseName, kContactsDatabaseName}) {
        testenv::WriteFile(output + "/" + name, stale);
    }

    // A wrong password, and a tool that fails without saying so.
    EXPECT_EQ(Restore(Sms, backup, true, "wrong"), platform::kResultWrongPassword);
    EXPECT_EQ(Differences(changed, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(FilesUnder(output), Lines{});

    for (const char* name : {"sms", "content"}) {
        testenv::WriteFile(output + "/" + name, stale);
    }
    testenv::TempDir silent;
    testenv::WriteFile(silent / "tool", "#!/bin/sh\nexit 0\n");
    chmod((silent / "tool").c_str(), 0755);
    platform::SetProgramFolderForTesting(silent.Path() + "/");
    EXPECT_EQ(Restore(Sms, backup, true, "pw"), platform::kErrorFileNotFound);
    EXPECT_EQ(EventsStartingWith(*phone_, "backup started"), Lines{});
    EXPECT_EQ(Differences(changed, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(FilesUnder(output), Lines{});
}

TEST_F(CategoryRestore, RunsAgainAfterAnImportLeftItsSavedManifest) {
    StartPhone();
    const std::string backup = OwnBackup(Sms);
    const PhoneFiles atBackup = ReadPhoneFiles(*phone_);
    Scribble(*phone_, kSmsPath);
    const PhoneFiles changed = ReadPhoneFiles(*phone_);
    // Left behind by an earlier operation that was interrupted.
    testenv::WriteFile(WorkDeviceFolder() + "/Manifest.mbdb_bak", "old");
    testenv::WriteFile(WorkDeviceFolder() + "/Snapshot/leftover", "old");

    ASSERT_EQ(Restore(Sms, backup), 0) << engine_.GetLastErrorText();
    ExpectOnlyTheseDatabasesReplaced(changed, {{kSmsPath, atBackup.at(kSmsPath)}});
}

}  // namespace
