#include "engine/BackupRun.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "engine/BackupEngine.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Strings.h"
#include "tests/engine/EngineTestAccess.h"
#include "tests/engine/ScriptedLink.h"
#include "tests/support/Plists.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using enginetest::Dict;
using enginetest::Str;
using testenv::DictKeys;
using testenv::ReadFile;
using testenv::TempDir;
using testenv::WriteFile;

namespace {

std::string DataOf(plist_t dict, const char* key) {
    plist_t node = plist_dict_get_item(dict, key);
    if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) {
        return "<missing>";
    }
    char* raw = nullptr;
    uint64_t length = 0;
    plist_get_data_val(node, &raw, &length);
    std::string s(raw, length);
    free(raw);
    return s;
}

DeviceFileReader FilesOf(std::map<std::string, std::string> files) {
    return [files](const std::string& path) -> std::optional<std::string> {
        auto it = files.find(path);
        if (it == files.end()) {
            return std::nullopt;
        }
        return it->second;
    };
}

constexpr char kUdid[] = "0123456789abcdef0123456789abcdef01234567";

TEST(InfoPlist, HoldsTheDeviceValuesInTheirOrder) {
    platform::PlistPtr values(Dict({{"BuildVersion", Str("12B440")},
                                    {"DeviceName", Str("Anna's phone")},
                                    {"IntegratedCircuitCardIdentity", Str("8949")},
                                    {"InternationalMobileEquipmentIdentity", Str("0135")},
                                    {"PhoneNumber", Str("+1 555 0100")},
                                    {"ProductType", Str("iPhone7,2")},
                                    {"ProductVersion", Str("8.1.2")},
                                    {"SerialNumber", Str("F2LN")}}));
    platform::PlistPtr settings(Dict({{"LibraryApplications", plist_new_array()}}));
    const auto reader = FilesOf({{"/Books/iBooksData2.plist", "books"},
                                 {"/iTunes_Control/iTunes/IC-Info.sidv", "sidv"},
                                 {"/iTunes_Control/iTunes/iTunesPrefs", "prefs"}});
    const int64_t now = 1425751509;  // 2015-03-07 18:05:09 UTC
    platform::PlistPtr info = BuildInfoPlistFrom(kUdid, values.get(), settings.get(), reader, now);
    ASSERT_NE(info, nullptr);
    const std::vector<std::string> expected = {"Build Version",
                                               "Device Name",
                                               "Display Name",
                                               "GUID",
                                               "ICCID",
                                               "IMEI",
                                               "Last Backup Date",
                                               "Phone Number",
                                               "Product Type",
                                               "Product Version",
                                               "Serial Number",
                                               "Target Identifier",
                                               "Target Type",
                                               "Unique Identifier",
                                               "iBooks Data 2",
                                               "iTunes Files",
                                               "iTunes Settings",
                                               "iTunes Version"};
    EXPECT_EQ(DictKeys(info.get()), expected);
    plist_t d = info.get();
    EXPECT_EQ(enginetest::StringOf(d, "Display Name"), "Anna's phone");
    EXPECT_EQ(enginetest::StringOf(d, "GUID"), "---");
    EXPECT_EQ(enginetest::StringOf(d, "Target Identifier"), kUdid);
    EXPECT_EQ(enginetest::StringOf(d, "Target Type"), "Device");
    EXPECT_EQ(enginetest::StringOf(d, "Unique Identifier"), platform::AsciiUpper(kUdid));
    EXPECT_EQ(enginetest::StringOf(d, "iTunes Version"), "10.0.1");
    EXPECT_EQ(DataOf(d, "iBooks Data 2"), "books");
    plist_t files = plist_dict_get_item(d, "iTunes Files");
    EXPECT_EQ(DictKeys(files), (std::vector<std::string>{"IC-Info.sidv", "iTunesPrefs"}));
    EXPECT_EQ(DataOf(files, "iTunesPrefs"), "prefs");
    EXPECT_EQ(DictKeys(plist_dict_get_item(d, "iTunes Settings")),
              std::vector<std::string>{"LibraryApplications"});
    int32_t sec = 0;
    int32_t usec = 0;
    plist_get_date_val(plist_dict_get_item(d, "Last Backup Date"), &sec, &usec);
    EXPECT_EQ(int64_t{sec} + 978307200, now);
    EXPECT_EQ(usec, 0);
}

TEST(InfoPlist, LeavesOutWhatTheDeviceDoesNotHave) {
    platform::PlistPtr values(Dict({{"DeviceName", Str("Pad")},
                                    {"PhoneNumber", plist_new_uint(5550100)},  // not a string
                                    {"ProductType", Str("iPad4,1")},
                                    {"ProductVersion", Str("7.1")},
                                    {"SerialNumber", Str("S")},
                                    {"BuildVersion", Str("11D167")}}));
    platform::PlistPtr info = BuildInfoPlistFrom(kUdid, values.get(), nullptr, FilesOf({}), 0);
    ASSERT_NE(info, nullptr);
    const std::vector<std::string> keys = DictKeys(info.get());
    for (const char* absent : {"ICCID", "IMEI", "Phone Number", "iBooks Data 2"}) {
        EXPECT_EQ(std::count(keys.begin(), keys.end(), absent), 0) << absent;
    }
    EXPECT_EQ(plist_dict_get_size(plist_dict_get_item(info.get(), "iTunes Files")), 0u);
    EXPECT_EQ(plist_dict_get_size(plist_dict_get_item(info.get(), "iTunes Settings")), 0u);
    EXPECT_EQ(BuildInfoPlistFrom(kUdid, nullptr, nullptr, FilesOf({}), 0), nullptr);
}

TEST(CopySelectedDatabases, CopiesWhatIsSelectedAndStopsAtTheFirstFailure) {
    TempDir dir;
    const std::string work = dir / "work";
    WriteFile(work + "/" + kUdid + "/" + kSmsDatabaseName, "messages");
    WriteFile(work + "/" + kUdid + "/" + kContactsDatabaseName, "contacts");
    platform::CreateFolder(dir / "both");
    EXPECT_EQ(CopySelectedDatabases(Sms | Contacts, work, kUdid, dir / "both"), 0);
    EXPECT_EQ(ReadFile(dir / "both/sms"), "messages");
    EXPECT_EQ(ReadFile(dir / "both/content"), "contacts");

    platform::CreateFolder(dir / "contacts");
    EXPECT_EQ(CopySelectedDatabases(Contacts, work, kUdid, dir / "contacts"), 0);
    EXPECT_FALSE(platform::PathExists(dir / "contacts/sms"));
    EXPECT_EQ(ReadFile(dir / "contacts/content"), "contacts");

    platform::DeleteFile(work + "/" + kUdid + "/" + kSmsDatabaseName);
    platform::CreateFolder(dir / "broken");
    EXPECT_EQ(CopySelectedDatabases(Sms | Contacts, work, kUdid, dir / "broken"),
              platform::kErrorFileNotFound);
    EXPECT_FALSE(platform::PathExists(dir / "broken/content"));
}

TEST(TimestampedFolder, NeverReusesAFolderThatExists) {
    TempDir dir;
    std::string first;
    std::string firstFolder;
    ASSERT_EQ(CreateTimestampedFolder(dir.Path(), first, firstFolder), 0);
    WriteFile(firstFolder + "/fileinfo", "first backup");
    std::string second;
    std::string secondFolder;
    ASSERT_EQ(CreateTimestampedFolder(dir.Path(), second, secondFolder), 0);
    EXPECT_NE(first, second);
    EXPECT_GT(second, first);
    EXPECT_EQ(ReadFile(firstFolder + "/fileinfo"), "first backup");
    EXPECT_EQ(secondFolder, dir.Path() + "/" + second);
    ASSERT_EQ(second.size(), 19u);
    for (size_t i : {4u, 7u, 10u, 13u, 16u}) {
        EXPECT_EQ(second[i], '-');
    }
    std::string third;
    std::string thirdFolder;
    EXPECT_NE(CreateTimestampedFolder(dir / "no/such/base", third, thirdFolder), 0);
}

TEST(BackupRunWithoutDevice, NoCategoryIsDoneAndAMissingFolderIs87) {
    testenv::IsolatedHome home;
    BackupEngine engine;
    engine.SetCategories(0);
    EXPECT_EQ(engine.RunBackup(home.Home() + "/Backups", nullptr), 0);
    EXPECT_TRUE(platform::FolderExists(home.Home() + "/Backups"));
    EXPECT_EQ(engine.RequestBackup((home.Home() + "/absent").c_str()), platform::kResultMissing);
    EXPECT_EQ(engine.FailureOf(platform::kResultMissing), platform::Failure::MissingFolder);
    EXPECT_EQ(engine.RequestBackup(nullptr), platform::kResultMissing);
    EXPECT_EQ(EngineTestAccess::Run(engine).BackupPhase(), 1);
}

}  // namespace
