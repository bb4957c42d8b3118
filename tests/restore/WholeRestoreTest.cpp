// Whole restores against the simulated phone: from the program's own backups and from backups
// another program wrote, plain and encrypted, and what each leaves on the phone and on disk.
#include <gtest/gtest.h>

#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "tests/restore/RestoreFixture.h"

using namespace tolvane;
using namespace restoretest;
using Lines = std::vector<std::string>;

namespace {

class WholeRestore : public RestoreTest {};

TEST_F(WholeRestore, OwnBackupPutsThePhoneBackAsItWas) {
    testenv::PhoneOptions options;
    options.mediaMb = 2;
    StartPhone(options);
    const std::string backup = OwnBackup(Full);
    const PhoneFiles before = ReadPhoneFiles(*phone_);

    Scribble(*phone_, kSmsPath);
    Scribble(*phone_, kContactsPath);
    const std::string photo = "CameraRollDomain/Media/DCIM/100APPLE/IMG_0001.JPG";
    ASSERT_TRUE(platform::FileExists(phone_->DeviceDir() + "/files/" + photo));
    platform::DeleteFile(phone_->DeviceDir() + "/files/" + photo);
    ASSERT_EQ(Differences(before, ReadPhoneFiles(*phone_)).size(), 3u);

    ASSERT_EQ(Restore(Full, backup), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{"restore started " + udid_});
    EXPECT_EQ(EventsStartingWith(*phone_, "restore finished"), Lines{"restore finished 0"});

    // The phase the callback saw, and what is left on disk.
    ASSERT_FALSE(progress_.calls.empty());
    for (const auto& [percent, isBackup] : progress_.calls) {
        EXPECT_EQ(isBackup, 0);
        EXPECT_GE(percent, 0);
        EXPECT_LE(percent, 100);
    }
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
    EXPECT_TRUE(platform::FileExists(backup + "/" + udid_ + "/Manifest.mbdb"));
}

}  // namespace
