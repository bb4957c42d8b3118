// The parts of a restore run that need no phone: naming the backup, checking it, the request's
// options and the source of a restore by category.
#include <gtest/gtest.h>

#include "engine/BackupEngine.h"
#include "engine/RestoreRun.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Results.h"
#include "platform/Strings.h"
#include "store/DataCategory.h"
#include "tests/support/Plists.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::DictKeys;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

constexpr char kPlist[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>SnapshotState</key>
	<string>STATE</string>
</dict>
</plist>
)";

std::string StatusPlist(const std::string& state) {
    std::string text = kPlist;
    text.replace(text.find("STATE"), 5, state);
    return text;
}

std::pair<std::string, std::string> Split(const std::string& path) {
    std::string folder = "unchanged";
    std::string name = "unchanged";
    if (!SplitItunesBackupFolder(path, folder, name)) {
        EXPECT_EQ(folder, "unchanged");
        return {"(none)", ""};
    }
    return {folder, name};
}

TEST(ItunesBackupFolder, SplitsAtTheLastSlashIgnoringTrailingOnes) {
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(Split("/home/u/Backup/0123abc"), (P{"/home/u/Backup", "0123abc"}));
    EXPECT_EQ(Split("/home/u/Backup/0123abc/"), (P{"/home/u/Backup", "0123abc"}));
    EXPECT_EQ(Split("/home/u/Backup/0123abc///"), (P{"/home/u/Backup", "0123abc"}));
    EXPECT_EQ(Split("/home/u/Backup/name with blanks"), (P{"/home/u/Backup", "name with blanks"}));
    EXPECT_EQ(Split("Backup/x"), (P{"Backup", "x"}));
    EXPECT_EQ(Split("/x"), (P{"/", "x"}));
    EXPECT_EQ(Split("/x/"), (P{"/", "x"}));
    for (const char* bad : {"", "x", "x/", "/", "//", "///"}) {
        EXPECT_EQ(Split(bad).first, "(none)") << bad;
    }
}

TEST(RestoreOptions, AreTheThreeFlagsThenThePasswordInThatOrder) {
    auto flag = [](plist_t dict, const char* key) {
        plist_t node = plist_dict_get_item(dict, key);
        EXPECT_NE(node, nullptr) << key;
        EXPECT_EQ(plist_get_node_type(node), PLIST_BOOLEAN) << key;
        uint8_t value = 2;
        plist_get_bool_val(node, &value);
        return value;
    };
    const std::vector<std::string> flags = {"RestoreSystemFiles", "RestoreDontCopyBackup",
                                            "RestorePreserveSettings"};

    platform::PlistPtr whole = BuildRestoreOptions(true, "pw ö");
    std::vector<std::string> withPassword = flags;
    withPassword.push_back("Password");
    EXPECT_EQ(DictKeys(whole.get()), withPassword);
    EXPECT_EQ(flag(whole.get(), "RestoreSystemFiles"), 0);
    EXPECT_EQ(flag(whole.get(), "RestoreDontCopyBackup"), 1);
    EXPECT_EQ(flag(whole.get(), "RestorePreserveSettings"), 1);
    EXPECT_EQ(platform::PlistString(plist_dict_get_item(whole.get(), "Password")), "pw ö");

    platform::PlistPtr byCategory = BuildRestoreOptions(false, nullptr);
    EXPECT_EQ(DictKeys(byCategory.get()), flags);
    EXPECT_EQ(flag(byCategory.get(), "RestoreSystemFiles"), 1);
    EXPECT_EQ(flag(byCategory.get(), "RestoreDontCopyBackup"), 1);
    EXPECT_EQ(flag(byCategory.get(), "RestorePreserveSettings"), 1);
}

class BackupFolder : public ::testing::Test {
  protected:
    void MakeDeviceFolder(const std::string& status) {
        WriteFile(device_ + "/Info.plist", "");
        WriteFile(device_ + "/Manifest.plist", StatusPlist("irrelevant"));
        if (!status.empty()) {
            WriteFile(device_ + "/Status.plist", status);
        }
    }
    int32_t Check() { return CheckRestoreSource(dir_.Path().c_str(), "dev"); }

    TempDir dir_;
    std::string device_ = dir_ / "dev";
};

TEST_F(BackupFolder, FinishedMissingOrUnreadableStatusLetsTheRestoreGoOn) {
    MakeDeviceFolder(StatusPlist("finished"));
    EXPECT_EQ(Check(), 0);
    platform::DeleteFile(device_ + "/Status.plist");
    EXPECT_EQ(Check(), 0);
    WriteFile(device_ + "/Status.plist", "garbage");
    EXPECT_EQ(Check(), 0);
    WriteFile(device_ + "/Status.plist",
              "<plist><dict><key>SnapshotState</key><integer>3</integer></dict></plist>");
    EXPECT_EQ(Check(), 0);
}

TEST_F(BackupFolder, AnyOtherSnapshotStateIsRefusedWith87) {
    for (const char* state : {"new", "", "Finished", "finished ", "uploading"}) {
        MakeDeviceFolder(StatusPlist(state));
        EXPECT_EQ(Check(), platform::kResultMissing) << state;
    }
}

TEST_F(BackupFolder, MissingPiecesGiveTheirCodes) {
    EXPECT_EQ(CheckRestoreSource(nullptr, "dev"), platform::kResultMissing);
    EXPECT_EQ(CheckRestoreSource((dir_ / "none").c_str(), "dev"), platform::kResultMissing);
    WriteFile(dir_ / "file", "x");
    EXPECT_EQ(CheckRestoreSource((dir_ / "file").c_str(), "dev"), platform::kResultMissing);
    EXPECT_EQ(Check(), platform::kResultCancelled);  // no device folder

    MakeDeviceFolder(StatusPlist("finished"));
    platform::DeleteFile(device_ + "/Info.plist");
    EXPECT_EQ(Check(), platform::kResultCancelled);
    WriteFile(device_ + "/Info.plist", "");
    platform::DeleteFile(device_ + "/Manifest.plist");
    EXPECT_EQ(Check(), platform::kResultCancelled);
    WriteFile(device_ + "/Manifest.plist", "<plist><dict>");  // cut short
    EXPECT_EQ(Check(), platform::kResultCancelled);
    // The device folder comes before the snapshot: a missing manifest wins over a bad state.
    WriteFile(device_ + "/Status.plist", StatusPlist("new"));
    EXPECT_EQ(Check(), platform::kResultCancelled);
}

TEST(CategorySource, OwnBackupsUseTheirFirstDeviceFolderOrThemselves) {
    TempDir dir;
    std::string source;
    bool decrypted = true;
    platform::Failure what = platform::Failure::None;
    WriteFile(dir / "sms", "SQLite format 3");
    EXPECT_EQ(ChooseCategorySource(dir.Path(), false, nullptr, source, decrypted, what), 0);
    EXPECT_EQ(source, dir.Path());
    EXPECT_FALSE(decrypted);

    const std::string first(40, 'a');
    const std::string second(40, 'b');
    WriteFile(dir / second + "/x", "");
    WriteFile(dir / first + "/x", "");
    WriteFile(dir / std::string(39, 'c'), "");
    EXPECT_EQ(ChooseCategorySource(dir.Path(), false, nullptr, source, decrypted, what), 0);
    EXPECT_EQ(source, dir / first);

    // A plain backup of another program is its own source.
    WriteFile(dir / first + "/" + kContactsDatabaseName, "SQLite format 3");
    EXPECT_EQ(ChooseCategorySource(dir / first, true, "ignored", source, decrypted, what), 0);
    EXPECT_EQ(source, dir / first);
    EXPECT_FALSE(decrypted);

    // An encrypted one without a password is refused before the tool is started.
    WriteFile(dir / first + "/" + kContactsDatabaseName, std::string(64, '\x11'));
    EXPECT_EQ(ChooseCategorySource(dir / first, true, nullptr, source, decrypted, what),
              platform::kResultWrongPassword);
    EXPECT_EQ(ChooseCategorySource(dir / first, true, "", source, decrypted, what),
              platform::kResultWrongPassword);
    EXPECT_EQ(what, platform::Failure::WrongPassword);
    EXPECT_FALSE(decrypted);
}

TEST(CategorySource, MustHoldEachChosenDatabaseAsPlainSqlite) {
    TempDir dir;
    const std::string plain = "SQLite format 3";
    platform::Failure what = platform::Failure::None;
    EXPECT_EQ(CheckCategorySource(0, dir.Path(), what), 0);
    EXPECT_EQ(CheckCategorySource(Sms, dir.Path(), what), platform::kErrorFileNotFound);
    EXPECT_EQ(CheckCategorySource(Sms, dir / "missing", what), platform::kErrorFileNotFound);
    // The 2 of a missing database, not of a backup without its device folder.
    EXPECT_EQ(what, platform::Failure::MissingDatabase);

    WriteFile(dir / kSmsDatabaseName, plain);
    EXPECT_EQ(CheckCategorySource(Sms, dir.Path(), what), 0);
    EXPECT_EQ(CheckCategorySource(Sms | Contacts, dir.Path(), what), platform::kErrorFileNotFound);
    WriteFile(dir / "content", plain);
    EXPECT_EQ(CheckCategorySource(Sms | Contacts, dir.Path(), what), 0);

    // The copy is what a restore would use, so the copy is what is checked.
    WriteFile(dir / "sms", "scrambled bytes");
    EXPECT_EQ(CheckCategorySource(Sms, dir.Path(), what), platform::IMPORT_BAD_FILE);
    EXPECT_EQ(what, platform::Failure::UnusableDatabase);
    EXPECT_EQ(CheckCategorySource(Contacts, dir.Path(), what), 0);
    WriteFile(dir / "sms", "");
    EXPECT_EQ(CheckCategorySource(Sms, dir.Path(), what), platform::IMPORT_BAD_FILE);
}

TEST(CategorySource, DecryptedDatabasesAreDiscardedAndNothingElse) {
    TempDir dir;
    for (const char* name :
         {"sms", "content", kSmsDatabaseName, kContactsDatabaseName, "Manifest.plist", "other"}) {
        WriteFile(dir / name, "x");
    }
    DiscardDecryptedDatabases(dir.Path());
    std::vector<platform::DirEntry> entries;
    ASSERT_EQ(platform::ListFolder(dir.Path(), entries), 0);
    std::vector<std::string> left;
    for (const auto& e : entries) {
        left.push_back(e.name);
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Manifest.plist", "other"}));
}

}  // namespace

namespace {

TEST(RunRestoreWithoutPhone, FailsAndTouchesNoWorkFolder) {
    testenv::IsolatedHome home;
    BackupEngine::ResetTempBackupFolderForTesting();
    const std::string work = BackupEngine::TempBackupFolder();
    WriteFile(work + "/keep", "not the engine's to delete");
    const std::string backup = home.Home() + "/b";
    WriteFile(backup + "/" + std::string(40, 'a') + "/Info.plist", "");
    WriteFile(backup + "/" + std::string(40, 'a') + "/Manifest.plist", StatusPlist("finished"));

    BackupEngine engine;  // never connected
    engine.SetCategories(Full);
    EXPECT_NE(engine.RunRestore(nullptr, backup, nullptr, false), 0);
    engine.SetCategories(Sms);
    WriteFile(backup + "/sms", "SQLite format 3");
    EXPECT_NE(engine.RunRestore(nullptr, backup, nullptr, false), 0);
    EXPECT_EQ(testenv::ReadFile(work + "/keep"), "not the engine's to delete");
}

}  // namespace
