// Whole restores against the simulated phone: from the program's own backups and from backups
// another program wrote, plain and encrypted, and what each leaves on the phone and on disk when
// it works, when the backup cannot be used, and when the phone refuses, goes away or is cancelled.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "tests/restore/RestoreFixture.h"

using namespace tolvane;
using namespace restoretest;
using Lines = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const char kWillStart[] = "com.apple.itunes-mobdev.syncWillStart";
const char kLockRequest[] = "com.apple.itunes-mobdev.syncLockRequest";
const char kDidStart[] = "com.apple.itunes-mobdev.syncDidStart";
const char kDidFinish[] = "com.apple.itunes-mobdev.syncDidFinish";
const char kPhoto[] = "CameraRollDomain/Media/DCIM/100APPLE/IMG_0001.JPG";

class WholeRestore : public RestoreTest {
  protected:
    // Changes three files of the phone after its backup: the two databases and a photo (gone).
    void ChangeThePhone() {
        Scribble(*phone_, kSmsPath);
        Scribble(*phone_, kContactsPath);
        ASSERT_EQ(platform::DeleteFile(phone_->DeviceDir() + "/files/" + kPhoto), 0);
    }
    Lines NotificationsSince(size_t earlier) const {
        Lines names = phone_->Notifications();
        names.erase(names.begin(), names.begin() + static_cast<long>(earlier));
        return names;
    }
};

TEST_F(WholeRestore, OwnBackupPutsThePhoneBackAsItWas) {
    testenv::PhoneOptions options;
    options.mediaMb = 2;
    StartPhone(options);
    const std::string backup = OwnBackup(Full);
    const PhoneFiles before = ReadPhoneFiles(*phone_);
    ChangeThePhone();
    ASSERT_EQ(Differences(before, ReadPhoneFiles(*phone_)),
              (Lines{kPhoto, kContactsPath, kSmsPath}));

    const size_t earlier = phone_->Notifications().size();
    ASSERT_EQ(Restore(Full, backup), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{"restore started " + udid_});
    EXPECT_EQ(EventsStartingWith(*phone_, "restore finished"), Lines{"restore finished 0"});
    // A whole restore leaves the phone's system files alone.
    const Lines applied = EventsStartingWith(*phone_, "restore applied");
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_NE(applied[0].find("; kept "), std::string::npos) << applied[0];

    ASSERT_FALSE(progress_.calls.empty());
    for (const auto& [percent, isBackup] : progress_.calls) {
        EXPECT_EQ(isBackup, 0);
        EXPECT_GE(percent, 0);
        EXPECT_LE(percent, 100);
    }
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
    EXPECT_TRUE(platform::FileExists(backup + "/" + udid_ + "/Manifest.mbdb"));
    // The lock taken at connection covered the restore and was released once, at its end.
    EXPECT_EQ(NotificationsSince(earlier), Lines{kDidFinish});
}

TEST_F(WholeRestore, OwnBackupWithTwoDeviceFoldersUsesTheFirstListed) {
    StartPhone();
    const std::string backup = OwnBackup(Full);
    // Another device folder whose name sorts before the phone's own.
    const std::string other(40, '0');
    fs::copy(backup + "/" + udid_, backup + "/" + other, fs::copy_options::recursive);
    ASSERT_EQ(Restore(Full, backup), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{"restore started " + other});
}

TEST_F(WholeRestore, OtherProgramsBackupIsAskedForByItsFolderName) {
    StartPhone();
    const PhoneFiles before = ReadPhoneFiles(*phone_);
    const std::string parent = home_.Home() + "/Other program";
    const std::string written = WriteOtherProgramsBackup(*phone_, parent);
    // The folder's name, not the phone's identifier, names the backup to the phone.
    const std::string renamed = parent + "/Zoë's old phone";
    ASSERT_EQ(platform::MovePath(written, renamed), 0);
    ChangeThePhone();

    // A trailing "/" names the same backup.
    ASSERT_EQ(Restore(Full, renamed + "/", true), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(EventsStartingWith(*phone_, "restore started"),
              Lines{"restore started Zoë's old phone"});
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
}

TEST_F(WholeRestore, EncryptedBackupOfAnotherProgramNeedsItsPassword) {
    StartPhone();
    const PhoneFiles before = ReadPhoneFiles(*phone_);
    const std::string backup =
        WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes", {"--encrypt", "pw ö"});
    ChangeThePhone();
    const PhoneFiles changed = ReadPhoneFiles(*phone_);

    // The phone itself refuses a wrong password; nothing on it changes.
    EXPECT_EQ(Restore(Full, backup, true, "wrong"), -207);
    EXPECT_EQ(engine_.GetLastErrorText(), "The backup password is not correct");
    EXPECT_EQ(Differences(changed, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(EventsStartingWith(*phone_, "restore password"), Lines{"restore password refused"});

    // A refused restore leaves the connection usable; the right password restores.
    ASSERT_EQ(Restore(Full, backup, true, "pw ö"), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
}

TEST_F(WholeRestore, EncryptingPhoneIsUnlockedFirstAndRestoredUnderTheLock) {
    testenv::PhoneOptions options;
    options.backupPassword = "phone secret";
    StartPhone(options);
    ASSERT_TRUE(engine_.WillEncrypt());
    const PhoneFiles before = ReadPhoneFiles(*phone_);
    const std::string backup = WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes");
    ChangeThePhone();
    const PhoneFiles changed = ReadPhoneFiles(*phone_);

    EXPECT_EQ(Restore(Full, backup, true, nullptr, "not it"), -207);
    EXPECT_TRUE(phone_->WillEncrypt());
    EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{});
    EXPECT_EQ(Differences(changed, ReadPhoneFiles(*phone_)), Lines{});

    Reconnect();
    const size_t earlier = phone_->Notifications().size();
    ASSERT_EQ(Restore(Full, backup, true, nullptr, "phone secret"), 0)
        << engine_.GetLastErrorText();
    // The phone has its backup password back once the restore is over.
    EXPECT_TRUE(phone_->WillEncrypt());
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    // The unlock conversation released the lock; the restore took it again and released it, and
    // so did the session that gave the password back.
    EXPECT_EQ(NotificationsSince(earlier),
              (Lines{kDidFinish, kWillStart, kLockRequest, kDidStart, kDidFinish, kWillStart,
                     kLockRequest, kDidStart, kDidFinish}));
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
}

}  // namespace
