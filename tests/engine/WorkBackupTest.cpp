#include <gtest/gtest.h>

#include "engine/BackupEngine.h"
#include "engine/WorkBackup.h"
#include "platform/Files.h"
#include "platform/Volumes.h"
#include "tests/engine/EngineTestAccess.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::IsolatedHome;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

constexpr uint64_t GiB = 1024ULL * 1024 * 1024;
const std::string kUdid = "0123456789abcdef0123456789abcdef01234567";

class FakeVolumes : public platform::VolumeSource {
  public:
    FakeVolumes(uint64_t appDataFree, std::string otherRoot, uint64_t otherFree)
        : appDataFree_(appDataFree), otherRoot_(std::move(otherRoot)), otherFree_(otherFree) {
        platform::SetVolumeSourceForTesting(this);
        WorkBackup::ResetTempBackupFolderForTesting();
    }
    ~FakeVolumes() override {
        platform::SetVolumeSourceForTesting(nullptr);
        WorkBackup::ResetTempBackupFolderForTesting();
    }
    std::vector<std::string> Roots() override { return {otherRoot_}; }
    std::optional<uint64_t> FreeBytesTotal(const std::string& path) override {
        return path.rfind(otherRoot_, 0) == 0 ? otherFree_ : appDataFree_;
    }
    std::optional<uint64_t> FreeBytesAvailable(const std::string& path) override {
        return FreeBytesTotal(path);
    }

  private:
    uint64_t appDataFree_;
    std::string otherRoot_;
    uint64_t otherFree_;
};

// A home of its own, and a work folder worked out anew inside it.
class WorkBackupTest : public ::testing::Test {
  protected:
    WorkBackupTest() { WorkBackup::ResetTempBackupFolderForTesting(); }
    ~WorkBackupTest() override { WorkBackup::ResetTempBackupFolderForTesting(); }
    IsolatedHome home_;
};

}  // namespace

TEST(WorkFolder, LiesInAppDataWhenItsVolumeHasRoom) {
    IsolatedHome home;
    TempDir other;
    FakeVolumes volumes(6 * GiB, other.Path(), 20 * GiB);
    const std::string folder = WorkBackup::TempBackupFolder();
    EXPECT_EQ(folder, home.Home() + "/.local/share/.Tolvane_tmp_backup");
    EXPECT_TRUE(platform::FolderExists(folder));
    EXPECT_TRUE(platform::IsHidden(folder));
}

TEST(WorkFolder, MovesToTheRootWithTheMostRoomAndStaysThere) {
    IsolatedHome home;
    TempDir other;
    FakeVolumes volumes(4 * GiB, other.Path(), 20 * GiB);
    const std::string first = WorkBackup::TempBackupFolder();
    EXPECT_EQ(first, other.Path() + "/.Tolvane_tmp_backup");
    EXPECT_TRUE(platform::FolderExists(other / ".Tolvane_tmp_backup"));
    // Fixed for the life of the process, even when free space changes.
    platform::SetVolumeSourceForTesting(nullptr);
    EXPECT_EQ(WorkBackup::TempBackupFolder(), first);
}

TEST_F(WorkBackupTest, ClearingDeletesFilesButKeepsSubfoldersOtherThanSnapshot) {
    WorkBackup work;
    const std::string device = work.Enter(kUdid);
    WriteFile(device + "/Manifest.mbdb", "m");
    WriteFile(device + "/3d0d7e5fb2ce288813306e4d4636395e047a3d28", "db");
    WriteFile(device + "/.keep", "hidden");
    WriteFile(device + "/Snapshot/abc", "staged");
    WriteFile(device + "/Other/inner", "stays");
    work.MarkReady();
    EXPECT_EQ(work.Clear(), 0);
    EXPECT_FALSE(work.Ready());
    EXPECT_FALSE(platform::PathExists(device + "/Manifest.mbdb"));
    EXPECT_FALSE(platform::PathExists(device + "/3d0d7e5fb2ce288813306e4d4636395e047a3d28"));
    EXPECT_FALSE(platform::PathExists(device + "/Snapshot"));
    EXPECT_TRUE(platform::FileExists(device + "/.keep"));
    EXPECT_TRUE(platform::FileExists(device + "/Other/inner"));

    // A Snapshot that still holds a folder stays, emptied of its files.
    WriteFile(device + "/Snapshot/file", "x");
    WriteFile(device + "/Snapshot/sub/file", "y");
    work.Clear();
    EXPECT_FALSE(platform::PathExists(device + "/Snapshot/file"));
    EXPECT_TRUE(platform::FileExists(device + "/Snapshot/sub/file"));
}

TEST_F(WorkBackupTest, StaysReadyOnlyForThePhoneItWasTakenOfWhileItIsWhole) {
    WorkBackup work;
    const std::string device = work.Enter(kUdid);
    EXPECT_EQ(device, WorkBackup::TempBackupFolder() + "/" + kUdid);
    EXPECT_EQ(work.Folder(), device);
    WriteFile(device + "/Manifest.mbdb", "whole");
    work.MarkReady();
    EXPECT_EQ(work.Enter(kUdid), device);
    EXPECT_TRUE(work.Ready());

    // Another phone's work backup is not this one's.
    const std::string other(40, 'f');
    EXPECT_EQ(work.Enter(other), WorkBackup::TempBackupFolder() + "/" + other);
    EXPECT_FALSE(work.Ready());
    work.Enter(kUdid);
    EXPECT_FALSE(work.Ready());

    // Without its manifest the work backup cannot be restored: it is taken again.
    work.MarkReady();
    platform::DeleteFile(device + "/Manifest.mbdb");
    work.Enter(kUdid);
    EXPECT_FALSE(work.Ready());

    // No session: the working backup folder is left alone rather than become the work folder.
    work.Enter("");
    EXPECT_EQ(work.Folder(), device);
}

TEST_F(WorkBackupTest, TheSetAsideManifestGoesBackOrTheWorkBackupIsNoLongerReady) {
    WorkBackup work;
    const std::string device = work.Enter(kUdid);
    WriteFile(device + "/Manifest.mbdb", "stripped");
    work.MarkReady();
    EXPECT_EQ(work.PutManifestBack(), 0);  // nothing set aside
    EXPECT_EQ(testenv::ReadFile(device + "/Manifest.mbdb"), "stripped");

    WriteFile(device + "/Manifest.mbdb_bak", "whole");
    EXPECT_EQ(work.PutManifestBack(), 0);
    EXPECT_EQ(testenv::ReadFile(device + "/Manifest.mbdb"), "whole");
    EXPECT_FALSE(platform::PathExists(device + "/Manifest.mbdb_bak"));
    EXPECT_TRUE(work.Ready());

    // A folder in the manifest's place cannot be replaced by the rename.
    platform::DeleteFile(device + "/Manifest.mbdb");
    ASSERT_EQ(platform::CreateFolder(device + "/Manifest.mbdb"), 0);
    WriteFile(device + "/Manifest.mbdb/x", "");
    WriteFile(device + "/Manifest.mbdb_bak", "whole");
    EXPECT_NE(work.PutManifestBack(), 0);
    EXPECT_FALSE(work.Ready());
}

TEST(Engine, FreshEngineHasNoSession) {
    BackupEngine engine;
    EXPECT_FALSE(engine.HasBackupService());
    EXPECT_FALSE(engine.HoldsSyncLock());
    EXPECT_TRUE(engine.Udid().empty());
    EXPECT_TRUE(engine.WillEncrypt());
    EXPECT_EQ(engine.Categories(), 0u);
    EXPECT_EQ(EngineTestAccess::Run(engine).ProgressScale(), 100);
    EXPECT_EQ(EngineTestAccess::Session(engine).Device(), nullptr);
    EXPECT_EQ(engine.CloseDevice(), 0);
    engine.SetLastErrorText("refused");
    EXPECT_EQ(engine.GetLastErrorText(), "refused");
    // The queries without a session, and the failure noted for a result.
    std::string name;
    EXPECT_EQ(engine.GetDeviceName(name), platform::kResultMissing);
    EXPECT_EQ(engine.NoteFailure(2, platform::Failure::MissingDatabase), 2);
    EXPECT_EQ(engine.FailureOf(2), platform::Failure::MissingDatabase);
    EXPECT_EQ(engine.FailureOf(87), platform::Failure::None);  // noted for another number
    engine.BeginRun();
    EXPECT_EQ(engine.FailureOf(2), platform::Failure::None);
    EXPECT_EQ(engine.GetLastErrorText(), "");
}
