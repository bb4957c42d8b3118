// Restores that cannot be done or do not end well: backups that are not fit to be restored (refused
// before anything reaches the phone), a phone that refuses, goes away or is cancelled. Each test
// asserts what is left on the phone and in the work backup.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>

#include "data/Import.h"
#include "engine/BackupEngine.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "store/Catalogue.h"
#include "tests/restore/RestoreFixture.h"

using namespace tolvane;
using namespace restoretest;
using Lines = std::vector<std::string>;

namespace {

constexpr char kUnfinishedStatus[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>SnapshotState</key>
	<string>new</string>
</dict>
</plist>
)";

class RestoreFaults : public RestoreTest {
  protected:
    // The phone's backup-service events (backups, restores, passwords) since its serve began.
    Lines ServiceEvents() const {
        Lines lines;
        for (const std::string& line : phone_->Events()) {
            for (const char* prefix : {"backup ", "restore ", "password "}) {
                if (line.rfind(prefix, 0) == 0) {
                    lines.push_back(line);
                }
            }
        }
        return lines;
    }
    // Runs a restore that must be refused on the computer: the phone hears nothing of it, and
    // keeps its files and its backup password.
    void ExpectRefusedBeforeThePhone(uint32_t categories, const std::string& backup, bool itunes,
                                     int32_t expected) {
        const PhoneFiles before = ReadPhoneFiles(*phone_);
        const Lines events = ServiceEvents();
        const bool encrypting = phone_->WillEncrypt();
        EXPECT_EQ(Restore(categories, backup, itunes, nullptr, "phone secret"), expected) << backup;
        EXPECT_EQ(ServiceEvents(), events) << backup;
        EXPECT_EQ(phone_->WillEncrypt(), encrypting) << backup;
        EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{}) << backup;
        EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{}) << backup;
    }
};

TEST_F(RestoreFaults, UnfinishedSnapshotIsRefusedBeforeAnythingReachesThePhone) {
    testenv::PhoneOptions options;
    options.backupPassword = "phone secret";
    StartPhone(options);
    const std::string parent = home_.Home() + "/itunes";
    const std::string backup = WriteOtherProgramsBackup(*phone_, parent);
    testenv::WriteFile(backup + "/Status.plist", kUnfinishedStatus);
    // Whole restores check it; the phone's password is not even removed.
    ExpectRefusedBeforeThePhone(Full, backup, true, platform::kResultMissing);

    // A Status.plist that cannot be read does not stop a restore.
    testenv::WriteFile(backup + "/Status.plist", "not a property list");
    ASSERT_EQ(Restore(Full, backup, true, nullptr, "phone secret"), 0)
        << engine_.GetLastErrorText();
}

TEST_F(RestoreFaults, BackupsThatCannotBeRestoredAreRefusedOnTheComputer) {
    testenv::PhoneOptions options;
    options.backupPassword = "phone secret";
    StartPhone(options);
    const std::string home = home_.Home();
    const std::string itunes = WriteOtherProgramsBackup(*phone_, home + "/itunes");

    // Own folders without a device folder, or that are not there at all.
    testenv::WriteFile(home + "/empty/fileinfo", "8\r\n2015-01-01-00-00-00\r\nX(iPhone 7.1)");
    ExpectRefusedBeforeThePhone(Full, home + "/empty", false, platform::kResultCancelled);
    ExpectRefusedBeforeThePhone(Full, home + "/not there", false, platform::kResultCancelled);
    // Other programs' folders: no "/" to split at, a missing parent, a file, a missing Info.plist
    // or an unreadable Manifest.plist.
    ExpectRefusedBeforeThePhone(Full, "relative-name", true, platform::kResultCancelled);
    ExpectRefusedBeforeThePhone(Full, "/", true, platform::kResultCancelled);
    ExpectRefusedBeforeThePhone(Full, home + "/no such parent/" + udid_, true,
                                platform::kResultMissing);
    testenv::WriteFile(home + "/plain file", "x");
    ExpectRefusedBeforeThePhone(Full, home + "/plain file/" + udid_, true,
                                platform::kResultMissing);
    ASSERT_EQ(platform::MovePath(itunes + "/Manifest.plist", itunes + "/Manifest.keep"), 0);
    ExpectRefusedBeforeThePhone(Full, itunes, true, platform::kResultCancelled);
    testenv::WriteFile(itunes + "/Manifest.plist", "<plist><dict><key>");
    ExpectRefusedBeforeThePhone(Full, itunes, true, platform::kResultCancelled);
    ASSERT_EQ(platform::RenameReplace(itunes + "/Manifest.keep", itunes + "/Manifest.plist"), 0);
    ASSERT_EQ(platform::DeleteFile(itunes + "/Info.plist"), 0);
    ExpectRefusedBeforeThePhone(Full, itunes, true, platform::kResultCancelled);

    // By category: a backup folder that is not there, and one that lacks the chosen database.
    ExpectRefusedBeforeThePhone(Sms, home + "/not there", false, platform::kResultMissing);
    testenv::WriteFile(home + "/contacts only/content", "SQLite format 3");
    testenv::WriteFile(home + "/contacts only/fileinfo", "2\r\n2015\r\nX(iPhone 7.1)");
    ExpectRefusedBeforeThePhone(Sms | Contacts, home + "/contacts only", false,
                                platform::kErrorFileNotFound);
    // A database that is not plain SQLite would leave the phone with one it cannot read.
    testenv::WriteFile(home + "/scrambled/sms", std::string(4096, '\x5a'));
    ExpectRefusedBeforeThePhone(Sms, home + "/scrambled", false, platform::IMPORT_BAD_FILE);

    // Nothing asked, nothing done: the phone is not even unlocked.
    ExpectRefusedBeforeThePhone(0, home + "/not there", false, 0);
}

TEST_F(RestoreFaults, RefusingPhoneLeavesItsTextAsTheLastError) {
    StartPhone({}, {"refuse-restore=205:The backup is damaged: HomeDomain/x"});
    const std::string backup = WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes");
    const PhoneFiles before = ReadPhoneFiles(*phone_);
    EXPECT_EQ(Restore(Full, backup, true), -205);
    EXPECT_EQ(engine_.GetLastErrorText(), "The backup is damaged: HomeDomain/x");
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});

    // By category the fresh backup is made, the restore refused, the work backup emptied.
    Reconnect();
    const std::string own = home_.Home() + "/own";
    testenv::WriteFile(own + "/sms", testenv::ReadFile(phone_->DeviceDir() + "/files/" + kSmsPath));
    EXPECT_EQ(Restore(Sms, own), -205);
    EXPECT_EQ(engine_.GetLastErrorText(), "The backup is damaged: HomeDomain/x");
    EXPECT_EQ(EventsStartingWith(*phone_, "backup finished"), Lines{"backup finished 0"});
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
}

TEST_F(RestoreFaults, UnpluggedPhoneEndsTheRestoreWithMinusOneAndKeepsItsFiles) {
    testenv::PhoneOptions options;
    options.mediaMb = 4;
    StartPhone(options);
    const std::string backup = WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes");
    Scribble(*phone_, kSmsPath);
    const PhoneFiles before = ReadPhoneFiles(*phone_);
    phone_->Restart({"unplug-after-bytes=1500000"});
    Reconnect();

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Restore(Full, backup, true), platform::kResultDeviceGone);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(40));
    EXPECT_EQ(EventsStartingWith(*phone_, "unplugged"), Lines{"unplugged after-bytes"});
    EXPECT_EQ(EventsStartingWith(*phone_, "restore applied"), Lines{});
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
    EXPECT_EQ(engine_.CloseDevice(), 0);
}

TEST_F(RestoreFaults, PhoneThatHangsUpBeforeItHasTheBackupHasRestoredNothing) {
    StartPhone();
    const std::string backup = WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes");
    Scribble(*phone_, kSmsPath);
    const PhoneFiles before = ReadPhoneFiles(*phone_);
    // Connecting sends three messages; the restore asks for the two manifests, then hangs up.
    phone_->Restart({"disconnect-after-messages=5"});
    Reconnect();

    const int32_t result = Restore(Full, backup, true);
    EXPECT_EQ(result, platform::kResultDeviceGone);
    EXPECT_EQ(engine_.FailureOf(result), platform::Failure::EndedEarly);
    EXPECT_EQ(EventsStartingWith(*phone_, "disconnect"), Lines{"disconnect after-messages"});
    EXPECT_EQ(EventsStartingWith(*phone_, "restore applied"), Lines{});
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
    engine_.CloseDevice();

    // The phone that hangs up after an applied restore (as it always does) still succeeds.
    phone_->Restart();
    Reconnect();
    EXPECT_EQ(Restore(Full, backup, true), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(EventsStartingWith(*phone_, "restore finished"), Lines{"restore finished 0"});
}

// A FIFO or a device where a file of a backup or an export should be: refused at once, never read
// (a FIFO without a writer would keep the run waiting for ever, /dev/zero would fill memory).
TEST_F(RestoreFaults, FifosAndDevicesInPlaceOfFilesAreRefusedWithoutWaiting) {
    StartPhone();
    const std::string own = OwnBackup(Full);
    const std::string backup = WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes");
    const std::string fifo = home_.Home() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();

    // The catalogue with a fileinfo that is a FIFO, then /dev/zero: the folder is not listed.
    const std::string fileinfo = own + "/fileinfo";
    for (const std::string& target : {fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(target);
        ASSERT_EQ(unlink(fileinfo.c_str()), 0);
        ASSERT_EQ(symlink(target.c_str(), fileinfo.c_str()), 0);
        std::vector<BackupEntry> entries;
        ListOwnBackups(platform::JoinPath(own, ".."), entries);
        for (const BackupEntry& e : entries) {
            EXPECT_EQ(e.categories, 0);
        }
    }
    // A restore whose Info.plist or Manifest.plist is a FIFO or a device never reaches the phone.
    for (const char* name : {"Info.plist", "Manifest.plist"}) {
        for (const std::string& target : {fifo, std::string("/dev/zero")}) {
            SCOPED_TRACE(std::string(name) + " -> " + target);
            const std::string path = backup + "/" + name;
            const std::string saved = path + ".saved";
            ASSERT_EQ(rename(path.c_str(), saved.c_str()), 0);
            ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
            EXPECT_NE(Restore(Full, backup, true), 0);
            EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{});
            ASSERT_EQ(unlink(path.c_str()), 0);
            ASSERT_EQ(rename(saved.c_str(), path.c_str()), 0);
            Reconnect();
        }
    }
    // An export file that is a FIFO: the import refuses it before the phone is touched.
    const std::string exportFifo = home_.Home() + "/sms.csv";
    ASSERT_EQ(mkfifo(exportFifo.c_str(), 0600), 0);
    EXPECT_NE(ImportData(engine_, exportFifo.c_str(), nullptr, nullptr, Sms), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST_F(RestoreFaults, UnplugDuringTheFreshBackupOfACategoryRestore) {
    testenv::PhoneOptions options;
    options.mediaMb = 4;
    StartPhone(options);
    const std::string own = OwnBackup(Sms);
    Scribble(*phone_, kSmsPath);
    const PhoneFiles before = ReadPhoneFiles(*phone_);
    phone_->Restart({"unplug-after-bytes=2000000"});
    Reconnect();

    EXPECT_EQ(Restore(Sms, own), platform::kResultDeviceGone);
    EXPECT_EQ(EventsStartingWith(*phone_, "restore started"), Lines{});
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});
    // The bIsBackup phase the callback saw was the backup's only.
    for (const auto& call : progress_.calls) {
        EXPECT_EQ(call.second, 1);
    }
}

TEST_F(RestoreFaults, CancelledRestoreChangesNothingAndThePhoneRestoresAfterwards) {
    testenv::PhoneOptions options;
    options.mediaMb = 4;
    StartPhone(options);
    const PhoneFiles original = ReadPhoneFiles(*phone_);
    const std::string backup = WriteOtherProgramsBackup(*phone_, home_.Home() + "/itunes");
    Scribble(*phone_, kContactsPath);
    const PhoneFiles before = ReadPhoneFiles(*phone_);

    progress_.stopAt = 1;
    EXPECT_EQ(Restore(Full, backup, true), platform::kResultCancelled);
    EXPECT_EQ(engine_.CloseDevice(), 0);  // the abandoned conversation ends with the session
    EXPECT_EQ(EventsStartingWith(*phone_, "restore applied"), Lines{});
    EXPECT_EQ(Differences(before, ReadPhoneFiles(*phone_)), Lines{});
    EXPECT_EQ(FilesUnder(WorkDeviceFolder()), Lines{});

    Connect();
    progress_ = {};
    ASSERT_EQ(Restore(Full, backup, true), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(original, ReadPhoneFiles(*phone_)), Lines{});
}

}  // namespace
