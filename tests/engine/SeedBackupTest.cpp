// Starting a whole backup from an earlier one: which earlier backup is chosen, what of it the new
// device folder gets (hard links, copies, or nothing), and the progress figures beside the
// percent.
#include "engine/SeedBackup.h"

#include <gtest/gtest.h>

#include <chrono>

#include "engine/RunContext.h"
#include "platform/Files.h"
#include "platform/Volumes.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::ReadFile;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

const std::string kUdid(40, 'a');

std::string StatusPlist(const char* state) {
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>SnapshotState</key><string>") +
           state + "</string></dict></plist>\n";
}

std::string ManifestPlist(bool encrypted) {
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>IsEncrypted</key><") +
           (encrypted ? "true" : "false") + "/></dict></plist>\n";
}

// base/<stamp> as a catalogued backup of `udid`.
void MakeBackup(const std::string& base, const std::string& stamp, const std::string& udid,
                int categories, const char* state, bool encrypted) {
    const std::string folder = base + "/" + stamp;
    WriteFile(folder + "/fileinfo",
              std::to_string(categories) + "\r\n" + stamp + "\r\nPhone(iPhone 7.1.2)");
    WriteFile(folder + "/" + udid + "/Status.plist", StatusPlist(state));
    WriteFile(folder + "/" + udid + "/Manifest.plist", ManifestPlist(encrypted));
}

TEST(FindEarlierBackupTest, NewestCompleteWholeBackupOfThePhoneWithTheSameEncryption) {
    TempDir dir("seed-find");
    const std::string base = dir.Path();
    MakeBackup(base, "2020-01-01-00-00-00", kUdid, 8, "finished", false);
    MakeBackup(base, "2020-01-02-00-00-00", kUdid, 8, "new", false);       // never finished
    MakeBackup(base, "2020-01-03-00-00-00", kUdid, 2, "finished", false);  // messages only
    MakeBackup(base, "2020-01-04-00-00-00", kUdid, 8, "finished", true);   // encrypted
    MakeBackup(base, "2020-01-05-00-00-00", std::string(40, 'b'), 8, "finished", false);
    WriteFile(base + "/2020-01-06-00-00-00/" + kUdid + "/Status.plist", StatusPlist("finished"));

    EXPECT_EQ(FindEarlierBackup(base, kUdid, false, ""), base + "/2020-01-01-00-00-00");
    EXPECT_EQ(FindEarlierBackup(base, kUdid, true, ""), base + "/2020-01-04-00-00-00");
    EXPECT_EQ(FindEarlierBackup(base, kUdid, true, base + "/2020-01-04-00-00-00"), std::nullopt);
    EXPECT_EQ(FindEarlierBackup(base, std::string(40, 'c'), false, ""), std::nullopt);
    EXPECT_EQ(FindEarlierBackup(base + "/missing", kUdid, false, ""), std::nullopt);
}

class SeedDeviceFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(source_ + "/Status.plist", "status");
        WriteFile(source_ + "/Manifest.db", "manifest");
        WriteFile(source_ + "/Info.plist", "info of the earlier backup");
        WriteFile(source_ + "/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28", "messages");
        WriteFile(source_ + "/ff/ff00", std::string(5000, 'x'));
        WriteFile(source_ + "/Snapshot/left-over", "staging");
        WriteFile(source_ + "/.partial.tolvane-receiving", "half");
        ASSERT_EQ(platform::CreateFolderWithParents(target_), 0);
    }
    void TearDown() override {
        platform::SetHardLinksRefusedForTesting(false);
        platform::SetVolumeSourceForTesting(nullptr);
    }
    std::vector<std::string> TargetFiles() const { return testenv::FilesUnder(target_); }

    TempDir dir_{"seed-folder"};
    std::string source_ = dir_.Path() + "/earlier/" + kUdid;
    std::string target_ = dir_.Path() + "/new/" + kUdid;
    const std::vector<std::string> seeded_{"3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28",
                                           "Manifest.db", "Status.plist", "ff/ff00"};
};

TEST_F(SeedDeviceFolderTest, LinksEveryFileOfTheBackupButItsInfoStagingAndPartialFiles) {
    const SeedOutcome out = SeedDeviceFolder(source_, target_);
    EXPECT_EQ(out.mode, SeedOutcome::Mode::Linked);
    EXPECT_EQ(out.from, dir_.Path() + "/earlier");
    EXPECT_EQ(out.files, 4u);
    EXPECT_EQ(out.bytes, 6u + 8 + 8 + 5000);
    std::vector<std::string> files = TargetFiles();
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, seeded_);
    for (const std::string& f : seeded_) {
        const auto a = platform::IdentityOf(source_ + "/" + f);
        const auto b = platform::IdentityOf(target_ + "/" + f);
        ASSERT_TRUE(a && b) << f;
        EXPECT_EQ(a->inode, b->inode) << f;
        EXPECT_EQ(b->links, 2u) << f;
    }
}

TEST_F(SeedDeviceFolderTest, CopiesWhereTheVolumeHasNoHardLinks) {
    platform::SetHardLinksRefusedForTesting(true);
    const SeedOutcome out = SeedDeviceFolder(source_, target_);
    EXPECT_EQ(out.mode, SeedOutcome::Mode::Copied);
    for (const std::string& f : seeded_) {
        EXPECT_EQ(ReadFile(target_ + "/" + f), ReadFile(source_ + "/" + f)) << f;
        EXPECT_EQ(platform::IdentityOf(target_ + "/" + f)->links, 1u) << f;
    }
    EXPECT_EQ(platform::IdentityOf(source_ + "/ff/ff00")->links, 1u);
}

class FreeSpace : public platform::VolumeSource {
  public:
    explicit FreeSpace(uint64_t bytes) : bytes_(bytes) {}
    std::vector<std::string> Roots() override { return {"/"}; }
    std::optional<uint64_t> FreeBytesTotal(const std::string&) override { return bytes_; }
    std::optional<uint64_t> FreeBytesAvailable(const std::string&) override { return bytes_; }

  private:
    uint64_t bytes_;
};

TEST_F(SeedDeviceFolderTest, NoCopyWithoutRoomToSpareAndNothingLeftOfTheAttempt) {
    platform::SetHardLinksRefusedForTesting(true);
    FreeSpace tight(10000);  // less than twice the earlier backup
    platform::SetVolumeSourceForTesting(&tight);
    const SeedOutcome out = SeedDeviceFolder(source_, target_);
    EXPECT_EQ(out.mode, SeedOutcome::Mode::None);
    EXPECT_TRUE(TargetFiles().empty());
    EXPECT_FALSE(platform::PathExists(target_ + "/3d"));
    EXPECT_EQ(ReadFile(source_ + "/ff/ff00"), std::string(5000, 'x'));

    FreeSpace roomy(20000);
    platform::SetVolumeSourceForTesting(&roomy);
    EXPECT_EQ(SeedDeviceFolder(source_, target_).mode, SeedOutcome::Mode::Copied);
}

TEST_F(SeedDeviceFolderTest, AFailureHalfWayUndoesWhatWasSeeded) {
    // A name in the way of one of the folders: the seed stops and takes back its links.
    WriteFile(target_ + "/ff", "in the way");
    const SeedOutcome out = SeedDeviceFolder(source_, target_);
    EXPECT_EQ(out.mode, SeedOutcome::Mode::None);
    EXPECT_EQ(TargetFiles(), std::vector<std::string>{"ff"});
    EXPECT_EQ(platform::IdentityOf(source_ + "/Manifest.db")->links, 1u);
}

TEST(ProgressDetailsTest, BytesSpeedAndTimeLeftFollowTheConversation) {
    RunContext run;
    run.ResetConversation();
    const auto start = std::chrono::steady_clock::now();
    ProgressDetails d = run.Details(start);
    EXPECT_EQ(d.bytes, 0u);
    EXPECT_EQ(d.secondsLeft, -1);  // no figure yet

    run.OverallProgress.store(25.0);
    run.BytesReceived.store(50000000);
    d = run.Details(start + std::chrono::seconds(10));
    EXPECT_EQ(d.percent, 25);
    EXPECT_EQ(d.bytes, 50000000u);
    EXPECT_NEAR(d.bytesPerSecond, 5e6, 1e5);
    EXPECT_NEAR(static_cast<double>(d.secondsLeft), 30, 1);  // a quarter in ten seconds
    // The figure stands still (one long list of files): no estimate that would only grow.
    d = run.Details(start + std::chrono::seconds(24));
    EXPECT_NEAR(static_cast<double>(d.secondsLeft), 72, 1);
    d = run.Details(start + std::chrono::seconds(26));
    EXPECT_EQ(d.secondsLeft, -1);
    EXPECT_EQ(d.percent, 25);  // the rest goes on
    // It moves again: so does the estimate.
    run.OverallProgress.store(40.0);
    d = run.Details(start + std::chrono::seconds(28));
    EXPECT_NEAR(static_cast<double>(d.secondsLeft), 42, 1);

    run.SetProgressScale(50);
    run.OverallProgress.store(100.0);
    d = run.Details(start + std::chrono::seconds(30));
    EXPECT_EQ(d.percent, 50);
    EXPECT_EQ(d.secondsLeft, 0);

    run.ResetConversation();
    EXPECT_EQ(run.BytesReceived.load(), 0u);
}

}  // namespace
