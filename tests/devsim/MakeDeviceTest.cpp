// make-device: the device folder's layout, databases that open in SQLite with the phone's tables
// and the requested row counts, realistic contents, and byte-for-byte reproducibility.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>

#include "devsim/DeviceState.h"
#include "devsim/MakeDevice.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "tests/support/TestEnv.h"

namespace devsim {
namespace {

namespace fs = std::filesystem;

struct Db {
    explicit Db(const std::string& path) {
        sqlite3* raw = nullptr;
        // Immutable: reading the phone's WAL database leaves no "-wal" or "-shm" in its tree.
        const std::string uri = "file:" + path + "?immutable=1";
        EXPECT_EQ(
            sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr),
            SQLITE_OK)
            << path;
        db.reset(raw);
    }
    int64_t Count(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
            << sql << ": " << sqlite3_errmsg(db.get());
        platform::SqliteStmtPtr owner(stmt);
        if (stmt == nullptr || sqlite3_step(stmt) != SQLITE_ROW) {
            return -1;
        }
        return sqlite3_column_int64(stmt, 0);
    }
    std::string Text(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &stmt, nullptr);
        platform::SqliteStmtPtr owner(stmt);
        if (stmt == nullptr || sqlite3_step(stmt) != SQLITE_ROW) {
            return {};
        }
        const unsigned char* text = sqlite3_column_text(stmt, 0);
        return text != nullptr ? reinterpret_cast<const char*>(text) : "";
    }
    platform::SqlitePtr db;
};

std::map<std::string, std::string> ReadTree(const std::string& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) {
            std::string bytes;
            platform::ReadWholeFile(e.path().string(), bytes);
            files[fs::relative(e.path(), root).string()] = bytes;
        }
    }
    return files;
}

class MakeDeviceTest : public ::testing::Test {
  protected:
    std::string Make(const MakeDeviceOptions& o, const std::string& name = "phone") {
        const std::string dir = tmp_ / name;
        std::string error;
        EXPECT_TRUE(MakeDevice(dir, o, error)) << error;
        return dir;
    }
    testenv::TempDir tmp_{"devsim-make"};
};

TEST_F(MakeDeviceTest, DatabasesHaveThePhoneTablesAndTheRequestedRows) {
    MakeDeviceOptions o;
    o.messages = 57;
    o.contacts = 23;
    const std::string dir = Make(o);
    Db sms(dir + "/files/HomeDomain/Library/SMS/sms.db");
    EXPECT_EQ(sms.Count("SELECT count(*) FROM message"), 57);
    EXPECT_EQ(sms.Count("SELECT count(*) FROM chat_message_join"), 57);
    EXPECT_GT(sms.Count("SELECT count(*) FROM handle"), 1);
    EXPECT_GT(sms.Count("SELECT count(*) FROM chat"), 1);
    // Every message hangs off an existing handle and chat.
    EXPECT_EQ(sms.Count("SELECT count(*) FROM message WHERE handle_id NOT IN "
                        "(SELECT ROWID FROM handle)"),
              0);
    EXPECT_EQ(sms.Count("SELECT count(*) FROM chat_handle_join WHERE handle_id NOT IN "
                        "(SELECT ROWID FROM handle)"),
              0);
    EXPECT_GT(sms.Count("SELECT count(*) FROM message WHERE is_from_me=1"), 0);
    EXPECT_GT(sms.Count("SELECT count(*) FROM message WHERE is_from_me=0"), 0);
    EXPECT_GT(sms.Count("SELECT count(*) FROM message WHERE service='iMessage'"), 0);
    // Non-ASCII and multi-line texts are stored as they are (UTF-8).
    EXPECT_GT(sms.Count("SELECT count(*) FROM message WHERE text GLOB '*[^ -~]*'"), 0);
    EXPECT_EQ(sms.Count("SELECT count(*) FROM sqlite_master WHERE name='sqlite_sequence'"), 1);
    EXPECT_EQ(sms.Text("PRAGMA integrity_check"), "ok");
    // Some messages are older than messages with lower ROWIDs, as synced ones are on a phone.
    EXPECT_GT(sms.Count("SELECT count(*) FROM message a JOIN message b ON b.ROWID = a.ROWID + 1 "
                        "WHERE b.date < a.date"),
              0);

    Db ab(dir + "/files/HomeDomain/Library/AddressBook/AddressBook.sqlitedb");
    EXPECT_EQ(ab.Text("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(ab.Count("SELECT count(*) FROM ABPerson"), 23);
    EXPECT_EQ(ab.Count("SELECT count(*) FROM ABPersonFullTextSearch_content"), 23);
    EXPECT_GE(ab.Count("SELECT count(*) FROM ABMultiValue WHERE property=3"), 23);
    EXPECT_EQ(ab.Count("SELECT count(*) FROM ABPhoneLastFour"),
              ab.Count("SELECT count(*) FROM ABMultiValue WHERE property=3"));
    EXPECT_GT(ab.Count("SELECT count(*) FROM ABMultiValue WHERE property=4"), 0);
    EXPECT_GT(ab.Count("SELECT count(*) FROM ABPerson WHERE Note IS NOT NULL"), 0);
    EXPECT_GT(ab.Count("SELECT count(*) FROM ABPerson WHERE First GLOB '*[^ -~]*' OR "
                       "Last GLOB '*[^ -~]*'"),
              0);
    // The phone's full-text table is declared, as in a file taken from a phone.
    EXPECT_EQ(ab.Count("SELECT count(*) FROM sqlite_master WHERE name='ABPersonFullTextSearch' "
                       "AND sql LIKE 'CREATE VIRTUAL TABLE%ab_cf_tokenizer%'"),
              1);
    // Every guid the phone would generate is filled in.
    EXPECT_EQ(ab.Count("SELECT count(*) FROM ABPerson WHERE guid IS NULL"), 0);
    EXPECT_EQ(ab.Count("SELECT count(*) FROM ABMultiValue WHERE guid IS NULL"), 0);
}

// As on a real phone, both databases are in WAL journal mode (header bytes 18 and 19 are 2), and
// the tree holds only the database files, no log or shared-memory file beside them.
TEST_F(MakeDeviceTest, DatabasesAreInWalModeWithoutSideFiles) {
    const std::string dir = Make({});
    for (const std::string rel :
         {"Library/SMS/sms.db", "Library/AddressBook/AddressBook.sqlitedb"}) {
        const std::string path = dir + "/files/HomeDomain/" + rel;
        const std::string bytes = testenv::ReadFile(path);
        ASSERT_GE(bytes.size(), 100u) << rel;
        EXPECT_EQ(bytes[18], 2) << rel;
        EXPECT_EQ(bytes[19], 2) << rel;
        EXPECT_FALSE(fs::exists(path + "-wal")) << rel;
        EXPECT_FALSE(fs::exists(path + "-shm")) << rel;
    }
}

TEST_F(MakeDeviceTest, AttachmentRowsPointAtFilesInMediaDomain) {
    MakeDeviceOptions o;
    o.messages = 30;
    const std::string dir = Make(o);
    Db sms(dir + "/files/HomeDomain/Library/SMS/sms.db");
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(sms.db.get(), "SELECT filename, total_bytes FROM attachment", -1, &stmt,
                       nullptr);
    platform::SqliteStmtPtr owner(stmt);
    int rows = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string name = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        ASSERT_EQ(name.rfind("~/", 0), 0u) << name;
        const std::string file = dir + "/files/MediaDomain/" + name.substr(2);
        EXPECT_EQ(platform::FileSize(file), static_cast<uint64_t>(sqlite3_column_int64(stmt, 1)))
            << file;
        ++rows;
    }
    EXPECT_EQ(rows, 3);  // every tenth message carries a picture
}

TEST_F(MakeDeviceTest, DeviceFolderHoldsValuesDomainsTreeAndMediaArea) {
    MakeDeviceOptions o;
    o.name = "Zoë's iPhone";
    o.apps = 3;
    o.mediaMb = 2;
    o.backupPassword = "s3cret";
    const std::string dir = Make(o);
    std::string error;
    auto state = DeviceState::Load(dir, error);
    ASSERT_TRUE(state) << error;
    const std::string udid = state->Udid();
    EXPECT_EQ(udid.size(), 40u);
    EXPECT_EQ(udid.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(state->ValueString("DeviceName"), "Zoë's iPhone");
    EXPECT_EQ(state->ValueString("DeviceClass"), "iPhone");
    EXPECT_EQ(state->ValueString("ProductVersion"), "7.1.2");
    EXPECT_EQ(state->ValueString("BuildVersion"), "11D257");
    for (const char* key :
         {"ProductType", "SerialNumber", "PhoneNumber", "IntegratedCircuitCardIdentity",
          "InternationalMobileEquipmentIdentity"}) {
        EXPECT_FALSE(state->ValueString(key).empty()) << key;
    }
    EXPECT_TRUE(state->WillEncrypt());
    EXPECT_EQ(state->BackupPassword(), "s3cret");
    EXPECT_TRUE(state->Value(std::string("com.apple.iTunes"), std::nullopt));
    PlistPtr pair = state->PairRecord();
    EXPECT_TRUE(DictString(pair.get(), "HostID"));
    EXPECT_TRUE(DictString(pair.get(), "SystemBUID"));
    EXPECT_TRUE(DictData(pair.get(), "EscrowBag"));

    int apps = 0;
    for (const auto& e : fs::directory_iterator(dir + "/files")) {
        apps += e.path().filename().string().rfind("AppDomain-", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(apps, 3);
    uint64_t cameraRoll = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir + "/files/CameraRollDomain")) {
        cameraRoll += e.is_regular_file() ? e.file_size() : 0;
    }
    EXPECT_NEAR(static_cast<double>(cameraRoll), 2.0 * 1024 * 1024, 1024.0);
    EXPECT_TRUE(platform::FileExists(dir + "/files/SystemPreferencesDomain/SystemConfiguration/"
                                           "preferences.plist"));
    EXPECT_TRUE(platform::FileExists(dir + "/media/Books/iBooksData2.plist"));
    EXPECT_TRUE(platform::FileExists(dir + "/media/iTunes_Control/iTunes/iTunesPrefs.plist"));
    EXPECT_EQ(platform::FileSize(dir + "/media/iTunes_Control/iTunes/PhotosFolderPrefs"), 0u);
    EXPECT_TRUE(platform::FileExists(dir + "/media/com.apple.itunes.lock_sync"));
}

TEST_F(MakeDeviceTest, OptionsWithoutCellularOrPasswordLeaveThoseValuesOut) {
    MakeDeviceOptions o;
    o.cellular = false;
    o.productVersion = "7.1.1";
    o.messages = 0;
    o.contacts = 0;
    o.mediaMb = 0;
    o.apps = 0;
    const std::string dir = Make(o);
    std::string error;
    auto state = DeviceState::Load(dir, error);
    ASSERT_TRUE(state) << error;
    EXPECT_EQ(state->ValueString("BuildVersion"), "11D201");
    EXPECT_FALSE(state->Value(std::nullopt, std::string("PhoneNumber")));
    EXPECT_FALSE(state->Value(std::nullopt, std::string("IntegratedCircuitCardIdentity")));
    EXPECT_FALSE(state->Value(std::nullopt, std::string("InternationalMobileEquipmentIdentity")));
    EXPECT_FALSE(state->WillEncrypt());
    EXPECT_FALSE(state->BackupPassword());
    EXPECT_EQ(
        Db(dir + "/files/HomeDomain/Library/SMS/sms.db").Count("SELECT count(*) FROM message"), 0);
    EXPECT_FALSE(platform::PathExists(dir + "/files/CameraRollDomain"));
}

TEST_F(MakeDeviceTest, SameSeedSameBytesOtherSeedOtherPhone) {
    MakeDeviceOptions o;
    o.seed = 42;
    const auto a = ReadTree(Make(o, "a"));
    const auto b = ReadTree(Make(o, "b"));
    EXPECT_EQ(a, b);
    EXPECT_EQ(fs::last_write_time(tmp_ / "a/files/HomeDomain/Library/SMS/sms.db"),
              fs::last_write_time(tmp_ / "b/files/HomeDomain/Library/SMS/sms.db"));
    o.seed = 43;
    const auto c = ReadTree(Make(o, "c"));
    EXPECT_NE(a.at("device.plist"), c.at("device.plist"));
    EXPECT_NE(a.at("files/HomeDomain/Library/SMS/sms.db"),
              c.at("files/HomeDomain/Library/SMS/sms.db"));
}

TEST_F(MakeDeviceTest, RefusesAFolderThatHoldsSomething) {
    testenv::WriteFile(tmp_ / "used/keep.txt", "mine");
    std::string error;
    EXPECT_FALSE(MakeDevice(tmp_ / "used", MakeDeviceOptions{}, error));
    EXPECT_NE(error.find("not empty"), std::string::npos);
    EXPECT_EQ(testenv::ReadFile(tmp_ / "used/keep.txt"), "mine");
}

}  // namespace
}  // namespace devsim
