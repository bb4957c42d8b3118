#include <gtest/gtest.h>

#include "engine/BackupEngine.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "platform/Volumes.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::IsolatedHome;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

constexpr uint64_t GiB = 1024ULL * 1024 * 1024;

class FakeVolumes : public platform::VolumeSource {
  public:
    FakeVolumes(uint64_t appDataFree, std::string otherRoot, uint64_t otherFree)
        : appDataFree_(appDataFree), otherRoot_(std::move(otherRoot)), otherFree_(otherFree) {
        platform::SetVolumeSourceForTesting(this);
        BackupEngine::ResetTempBackupFolderForTesting();
    }
    ~FakeVolumes() override {
        platform::SetVolumeSourceForTesting(nullptr);
        BackupEngine::ResetTempBackupFolderForTesting();
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

}  // namespace

TEST(WorkFolder, LiesInAppDataWhenItsVolumeHasRoom) {
    IsolatedHome home;
    TempDir other;
    FakeVolumes volumes(6 * GiB, other.Path(), 20 * GiB);
    const std::string folder = platform::WideToAnsi(BackupEngine::TempBackupFolder());
    EXPECT_EQ(folder, home.Home() + "/.local/share/.Tolvane_tmp_backup");
    EXPECT_TRUE(platform::FolderExists(folder));
    EXPECT_TRUE(platform::IsHidden(folder));
}

TEST(WorkFolder, MovesToTheRootWithTheMostRoomAndStaysThere) {
    IsolatedHome home;
    TempDir other;
    FakeVolumes volumes(4 * GiB, other.Path(), 20 * GiB);
    const std::wstring first = BackupEngine::TempBackupFolder();
    EXPECT_EQ(platform::WideToAnsi(first), other.Path() + "/.Tolvane_tmp_backup");
    EXPECT_TRUE(platform::FolderExists(other / ".Tolvane_tmp_backup"));
    // Fixed for the life of the process, even when free space changes.
    platform::SetVolumeSourceForTesting(nullptr);
    EXPECT_EQ(BackupEngine::TempBackupFolder(), first);
}

TEST(WorkFolder, ClearingDeletesFilesButKeepsSubfoldersOtherThanSnapshot) {
    TempDir dir;
    const std::string device = dir / "0123456789abcdef0123456789abcdef01234567";
    WriteFile(device + "/Manifest.mbdb", "m");
    WriteFile(device + "/3d0d7e5fb2ce288813306e4d4636395e047a3d28", "db");
    WriteFile(device + "/.keep", "hidden");
    WriteFile(device + "/Snapshot/abc", "staged");
    WriteFile(device + "/Other/inner", "stays");
    BackupEngine engine;
    engine.workingBackupFolder = device;
    engine.workingBackupReady = true;
    EXPECT_EQ(engine.ClearWorkingBackup(), 0);
    EXPECT_FALSE(engine.workingBackupReady);
    EXPECT_FALSE(platform::PathExists(device + "/Manifest.mbdb"));
    EXPECT_FALSE(platform::PathExists(device + "/3d0d7e5fb2ce288813306e4d4636395e047a3d28"));
    EXPECT_FALSE(platform::PathExists(device + "/Snapshot"));
    EXPECT_TRUE(platform::FileExists(device + "/.keep"));
    EXPECT_TRUE(platform::FileExists(device + "/Other/inner"));
    engine.workingBackupFolder.clear();  // nothing for the destructor to clear
}

TEST(WorkFolder, SnapshotWithAFolderInsideStays) {
    TempDir dir;
    WriteFile(dir / "Snapshot/file", "x");
    WriteFile(dir / "Snapshot/sub/file", "y");
    BackupEngine engine;
    engine.workingBackupFolder = dir.Path();
    engine.ClearWorkingBackup();
    EXPECT_FALSE(platform::PathExists(dir / "Snapshot/file"));
    EXPECT_TRUE(platform::FileExists(dir / "Snapshot/sub/file"));
    engine.workingBackupFolder.clear();
}

TEST(Engine, FreshEngineHasNoSession) {
    BackupEngine engine;
    EXPECT_EQ(engine.Device(), nullptr);
    EXPECT_EQ(engine.Lockdown(), nullptr);
    EXPECT_TRUE(engine.WillEncrypt());
    EXPECT_EQ(engine.categories, 0u);
    EXPECT_EQ(engine.progressScale, 100);
    EXPECT_EQ(engine.CloseDevice(), 0);
    engine.SetLastErrorText("refused");
    EXPECT_EQ(engine.GetLastErrorText(), "refused");
}
