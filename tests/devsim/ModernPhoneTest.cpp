// Phones of iOS 10 to 18 through libimobiledevice's mobilebackup2 client: the backup folder's
// layout (prefix folders, Manifest.db), the Files rows and their MBFile archives read back here
// with libplist and SQLite (not with the simulator's readers), the migrated WAL databases with
// attributedBody rows, incremental backups and an upgrade from the older layout, whole restores
// and their refusals, the passcode wait, and the older generation left as it was.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <set>

#include "devsim/DeviceState.h"
#include "devsim/MakeDevice.h"
#include "devsim/WriteBackup.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Sha1.h"
#include "tests/devsim/HostLoop.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

namespace fs = std::filesystem;

constexpr char kSmsName[] = "3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28";
constexpr char kContactsName[] = "31/31bb7ba8914766d4ba40d6dfb6113c8b614be442";

std::string Sha1Hex(const std::string& s) {
    return platform::HexLower(platform::Sha1Of(s));
}

std::map<std::string, std::string> PhoneFiles(const testenv::SimulatedPhone& phone) {
    std::map<std::string, std::string> out;
    const fs::path root = phone.DeviceDir() + "/files";
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) {
            out[fs::relative(e.path(), root).string()] = testenv::ReadFile(e.path().string());
        }
    }
    return out;
}

Plist ParseBytes(const std::string& bytes) {
    plist_t node = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &node);
    return Plist(node);
}

// An MBFile archive decoded by following its UIDs, as any reader of the format does.
struct Decoded {
    bool ok = false;
    std::string className, relativePath, digest, key;
    std::map<std::string, uint64_t> numbers;
};

Decoded DecodeMbFile(const std::string& bytes) {
    Decoded d;
    Plist root = ParseBytes(bytes);
    if (!root || bytes.compare(0, 8, "bplist00") != 0 ||
        StringOf(plist_dict_get_item(root.get(), "$archiver")) != "NSKeyedArchiver") {
        return d;
    }
    plist_t objects = plist_dict_get_item(root.get(), "$objects");
    auto deref = [&](plist_t uid) -> plist_t {
        if (uid == nullptr || plist_get_node_type(uid) != PLIST_UID) {
            return nullptr;
        }
        uint64_t i = 0;
        plist_get_uid_val(uid, &i);
        return plist_array_get_item(objects, static_cast<uint32_t>(i));
    };
    auto data = [](plist_t node) {
        if (node == nullptr || plist_get_node_type(node) != PLIST_DATA) {
            return std::string();
        }
        char* p = nullptr;
        uint64_t n = 0;
        plist_get_data_val(node, &p, &n);
        std::string out(p, n);
        free(p);
        return out;
    };
    plist_t top = plist_dict_get_item(root.get(), "$top");
    plist_t file = deref(plist_dict_get_item(top, "root"));
    if (file == nullptr || plist_get_node_type(file) != PLIST_DICT) {
        return d;
    }
    d.className =
        StringOf(plist_dict_get_item(deref(plist_dict_get_item(file, "$class")), "$classname"));
    d.relativePath = StringOf(deref(plist_dict_get_item(file, "RelativePath")));
    d.digest = data(deref(plist_dict_get_item(file, "Digest")));
    plist_t key = deref(plist_dict_get_item(file, "EncryptionKey"));
    d.key = key != nullptr ? data(plist_dict_get_item(key, "NS.data")) : "";
    for (const char* n : {"Size", "LastModified", "Birth", "Mode", "UserID", "GroupID",
                          "InodeNumber", "ProtectionClass"}) {
        plist_t v = plist_dict_get_item(file, n);
        if (v != nullptr && plist_get_node_type(v) == PLIST_UINT) {
            plist_get_uint_val(v, &d.numbers[n]);
        }
    }
    d.ok = true;
    return d;
}

// The words of a "streamtyped" attributedBody, as the public write-ups read it: after the
// NSString class name, five bytes, then a length (one byte, or 0x81 and two bytes) and UTF-8.
std::string DecodeBody(const std::string& b) {
    const size_t at = b.find("NSString");
    if (at == std::string::npos || at + 8 + 6 > b.size()) {
        return {};
    }
    size_t pos = at + 8 + 5;
    size_t n = static_cast<uint8_t>(b[pos++]);
    if (n == 0x81) {
        n = static_cast<uint8_t>(b[pos]) |
            (static_cast<size_t>(static_cast<uint8_t>(b[pos + 1])) << 8);
        pos += 2;
    }
    return pos + n <= b.size() ? b.substr(pos, n) : std::string();
}

struct Db {
    explicit Db(const std::string& path) {
        sqlite3* raw = nullptr;
        EXPECT_EQ(sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        db.reset(raw);
    }
    // Every row of a query, each column as text or blob bytes ("\x01NULL" for NULL).
    std::vector<std::vector<std::string>> Rows(const std::string& sql) {
        std::vector<std::vector<std::string>> rows;
        sqlite3_stmt* raw = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &raw, nullptr), SQLITE_OK)
            << sql << ": " << sqlite3_errmsg(db.get());
        platform::SqliteStmtPtr stmt(raw);
        while (stmt && sqlite3_step(stmt.get()) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(stmt.get()); ++i) {
                if (sqlite3_column_type(stmt.get(), i) == SQLITE_NULL) {
                    row.push_back("\x01NULL");
                    continue;
                }
                const void* p = sqlite3_column_blob(stmt.get(), i);
                row.emplace_back(static_cast<const char*>(p),
                                 static_cast<size_t>(sqlite3_column_bytes(stmt.get(), i)));
            }
            rows.push_back(std::move(row));
        }
        return rows;
    }
    int64_t Number(const std::string& sql) {
        const auto rows = Rows(sql);
        return rows.empty() || rows[0].empty() ? -1 : std::stoll(rows[0][0]);
    }
    platform::SqlitePtr db;
};

class ModernPhoneTest : public ::testing::Test {
  protected:
    void Serve(const std::string& version, std::vector<std::string> faults = {}) {
        testenv::PhoneOptions o;
        o.messages = 60;
        o.contacts = 12;
        o.apps = 2;
        o.productVersion = version;
        phone_ = std::make_unique<testenv::SimulatedPhone>(o, faults);
        udid_ = phone_->Udid();
    }
    HostResult Request(const char* request, plist_t options, bool waitThroughSilence = false) {
        BackupConnection c = OpenBackupConnection();
        EXPECT_TRUE(c.client);
        if (!c.client) {
            return HostResult{};
        }
        EXPECT_TRUE(SendRequest(c.client.get(), request, udid_, "", options));
        HostOptions host;
        host.folder = dir_.Path();
        host.waitThroughSilence = waitThroughSilence;
        return RunHostLoop(c.client.get(), host);
    }
    HostResult Backup() { return Request("Backup", nullptr); }
    HostResult Restore() {
        Plist options(plist_new_dict());
        plist_dict_set_item(options.get(), "RestoreSystemFiles", plist_new_bool(1));
        return Request("Restore", options.get());
    }
    std::string Device(const std::string& file) const {
        return dir_.Path() + "/" + udid_ + "/" + file;
    }
    bool HasEvent(const std::string& line) const {
        const std::vector<std::string> events = phone_->Events();
        return std::find(events.begin(), events.end(), line) != events.end();
    }

    testenv::IsolatedHome home_;
    testenv::TempDir dir_{"devsim-modern"};
    std::unique_ptr<testenv::SimulatedPhone> phone_;
    std::string udid_;
};

TEST_F(ModernPhoneTest, BackupLandsInPrefixFoldersWithAManifestDbOfArchivedMBFiles) {
    Serve("17.5");
    const HostResult r = Backup();
    ASSERT_EQ(r.errorCode, 0) << r.errorDescription;
    EXPECT_TRUE(r.refused.empty());

    // Staged in Snapshot/xx/ and removed with it in one recursive request.
    EXPECT_EQ(r.removedFolders, std::vector<std::string>{udid_ + "/Snapshot"});
    EXPECT_FALSE(fs::exists(Device("Snapshot")));
    EXPECT_FALSE(fs::exists(Device("Manifest.mbdb")));
    for (const auto& e : fs::directory_iterator(dir_.Path() + "/" + udid_)) {
        const std::string n = e.path().filename();
        EXPECT_TRUE((e.is_directory() && n.size() == 2) || n == "Manifest.db" ||
                    n == "Manifest.plist" || n == "Status.plist")
            << n;
    }

    // Every file at <first two digits>/<SHA-1 of "domain-relativePath">.
    const auto files = PhoneFiles(*phone_);
    EXPECT_EQ(testenv::ReadFile(Device(kSmsName)), files.at("HomeDomain/Library/SMS/sms.db"));
    EXPECT_EQ(testenv::ReadFile(Device(kContactsName)),
              files.at("HomeDomain/Library/AddressBook/AddressBook.sqlitedb"));
    for (const auto& [where, contents] : files) {
        const size_t slash = where.find('/');
        const std::string id = Sha1Hex(where.substr(0, slash) + "-" + where.substr(slash + 1));
        EXPECT_EQ(testenv::ReadFile(Device(id.substr(0, 2) + "/" + id)), contents) << where;
    }

    // Manifest.db: the two tables as readers expect them, one row per domain, folder and file.
    Db manifest(Device("Manifest.db"));
    std::vector<std::string> columns;
    for (const auto& row : manifest.Rows("SELECT name, type FROM pragma_table_info('Files')")) {
        columns.push_back(row[0] + " " + row[1]);
    }
    EXPECT_EQ(columns, (std::vector<std::string>{"fileID TEXT", "domain TEXT", "relativePath TEXT",
                                                 "flags INTEGER", "file BLOB"}));
    EXPECT_EQ(manifest.Number("SELECT count(*) FROM pragma_table_info('Properties')"), 2);
    size_t fileRows = 0;
    std::set<std::string> domainRows;
    bool sawFolder = false;
    for (const auto& row :
         manifest.Rows("SELECT fileID, domain, relativePath, flags, file FROM Files")) {
        EXPECT_EQ(row[0], Sha1Hex(row[1] + "-" + row[2]));
        const Decoded m = DecodeMbFile(row[4]);
        ASSERT_TRUE(m.ok) << row[2];
        EXPECT_EQ(m.className, "MBFile");
        EXPECT_EQ(m.relativePath, row[2]);
        EXPECT_EQ(m.numbers.size(), 8u) << row[2];  // every number field present
        EXPECT_EQ(m.numbers.at("UserID"), 501u);
        EXPECT_TRUE(m.key.empty());
        if (row[3] == "2") {
            EXPECT_EQ(m.numbers.at("Mode") & 0xF000, 0x4000u);
            sawFolder = sawFolder || !row[2].empty();
            if (row[2].empty()) {
                domainRows.insert(row[1]);
            }
            continue;
        }
        ASSERT_EQ(row[3], "1") << row[2];
        ++fileRows;
        const std::string& contents = files.at(row[1] + "/" + row[2]);
        EXPECT_EQ(m.numbers.at("Mode") & 0xF000, 0x8000u);
        EXPECT_EQ(m.numbers.at("Size"), contents.size());
        EXPECT_EQ(
            m.digest,
            std::string(reinterpret_cast<const char*>(platform::Sha1Of(contents).data()), 20));
        EXPECT_GT(m.numbers.at("LastModified"), 1400000000u);
        EXPECT_EQ(
            m.numbers.at("ProtectionClass"),
            row[2] == "Library/SMS/sms.db" || row[2] == "Library/AddressBook/AddressBook.sqlitedb"
                ? 3u
                : 4u)
            << row[2];
    }
    EXPECT_EQ(fileRows, files.size());
    EXPECT_TRUE(sawFolder);
    EXPECT_EQ(domainRows, (std::set<std::string>{
                              "AppDomain-com.example.notebook", "AppDomain-org.example.weather",
                              "CameraRollDomain", "HomeDomain", "KeychainDomain", "MediaDomain",
                              "RootDomain", "SystemPreferencesDomain", "WirelessDomain"}));

    Plist plist = ParseBytes(testenv::ReadFile(Device("Manifest.plist")));
    ASSERT_TRUE(plist);
    EXPECT_EQ(StringOf(plist_dict_get_item(plist.get(), "Version")), "10.0");
    uint8_t encrypted = 1;
    plist_get_bool_val(plist_dict_get_item(plist.get(), "IsEncrypted"), &encrypted);
    EXPECT_EQ(encrypted, 0);
    EXPECT_EQ(StringOf(plist_dict_get_item(plist_dict_get_item(plist.get(), "Lockdown"),
                                           "ProductVersion")),
              "17.5");
    Plist status = ParseBytes(testenv::ReadFile(Device("Status.plist")));
    EXPECT_EQ(StringOf(plist_dict_get_item(status.get(), "SnapshotState")), "finished");
    EXPECT_TRUE(HasEvent("backup finished 0"));
}

TEST_F(ModernPhoneTest, DatabasesAreMigratedWalFilesWithWordsInAttributedBody) {
    struct Case {
        const char* version;
        int columns;
        bool nanoseconds;
        bool bodyOnly;
    };
    for (const Case c : {Case{"10.3", 60, false, false}, Case{"14.8", 74, true, false},
                         Case{"17.5", 88, true, true}}) {
        SCOPED_TRACE(c.version);
        Serve(c.version);
        ASSERT_EQ(Backup().errorCode, 0);
        // The backed-up files say WAL in their headers (bytes 18 and 19 are 2).
        for (const char* name : {kSmsName, kContactsName}) {
            const std::string head = testenv::ReadFile(Device(name)).substr(0, 20);
            EXPECT_EQ(head.substr(0, 16), std::string("SQLite format 3\0", 16));
            EXPECT_EQ(head[18], 2);
            EXPECT_EQ(head[19], 2);
        }
        const std::string copy = dir_.Path() + "/sms-" + c.version + ".db";
        fs::copy_file(Device(kSmsName), copy);
        Db sms(copy);
        EXPECT_EQ(sms.Number("SELECT count(*) FROM pragma_table_info('message')"), c.columns);
        EXPECT_EQ(sms.Number("SELECT count(*) FROM message"), 60);
        const int64_t minDate = sms.Number("SELECT min(date) FROM message");
        EXPECT_EQ(minDate > 100000000000000000LL, c.nanoseconds) << minDate;
        // Dates fall in the years of a modern phone: 2024.
        const int64_t seconds = c.nanoseconds ? minDate / 1000000000 : minDate;
        EXPECT_GT(seconds, 725846400);  // 2024-01-01 in seconds since 2001
        int nullText = 0;
        for (const auto& row : sms.Rows("SELECT text, attributedBody FROM message")) {
            ASSERT_NE(row[1], "\x01NULL");
            EXPECT_EQ(row[1].compare(0, 13, "\x04\x0bstreamtyped"), 0);
            const std::string words = DecodeBody(row[1]);
            EXPECT_FALSE(words.empty());
            if (row[0] == "\x01NULL") {
                ++nullText;
            } else {
                EXPECT_EQ(words, row[0]);
            }
        }
        EXPECT_EQ(nullText > 10, c.bodyOnly) << nullText;
        EXPECT_EQ(nullText == 0, !c.bodyOnly);
        fs::remove(copy);
        const std::string contacts = dir_.Path() + "/ab.db";
        fs::copy_file(Device(kContactsName), contacts);
        EXPECT_EQ(Db(contacts).Number("SELECT count(*) FROM ABPerson"), 12);
        EXPECT_EQ(Db(contacts).Number(
                      "SELECT count(*) FROM pragma_table_info('ABPerson') WHERE name='ImageHash'"),
                  1);
        fs::remove(contacts);
        phone_.reset();
        fs::remove_all(dir_.Path() + "/" + udid_);
    }
}

TEST_F(ModernPhoneTest, SecondBackupRemovesWhatIsGoneAndAnUpgradedPhoneClearsTheOlderLayout) {
    Serve("7.1.2");
    ASSERT_EQ(Backup().errorCode, 0);
    ASSERT_TRUE(fs::exists(Device("Manifest.mbdb")));
    ASSERT_TRUE(fs::exists(Device("3d0d7e5fb2ce288813306e4d4636395e047a3d28")));

    // The same phone after an update to iOS 17 (its device values edited between serves).
    phone_->Stop();
    const std::string plistPath = phone_->DeviceDir() + "/device.plist";
    std::string text = testenv::ReadFile(plistPath);
    const std::string from = "<string>7.1.2</string>";
    ASSERT_NE(text.find(from), std::string::npos);
    text.replace(text.find(from), from.size(), "<string>17.5</string>");
    testenv::WriteFile(plistPath, text);
    phone_->Restart();

    HostResult r = Backup();
    ASSERT_EQ(r.errorCode, 0) << r.errorDescription;
    EXPECT_FALSE(fs::exists(Device("Manifest.mbdb")));
    EXPECT_FALSE(fs::exists(Device("3d0d7e5fb2ce288813306e4d4636395e047a3d28")));
    EXPECT_TRUE(fs::exists(Device(kSmsName)));
    EXPECT_TRUE(fs::exists(Device("Manifest.db")));

    const std::string gone = "Media/DCIM/100APPLE/IMG_0001.JPG";
    const std::string goneId = Sha1Hex("CameraRollDomain-" + gone);
    ASSERT_TRUE(fs::exists(Device(goneId.substr(0, 2) + "/" + goneId)));
    fs::remove(phone_->FilePath("CameraRollDomain", gone));
    testenv::WriteFile(phone_->FilePath("HomeDomain", "Library/Notes/new.txt"), "new note");
    r = Backup();
    ASSERT_EQ(r.errorCode, 0);
    EXPECT_FALSE(fs::exists(Device(goneId.substr(0, 2) + "/" + goneId)));
    const std::string newId = Sha1Hex("HomeDomain-Library/Notes/new.txt");
    EXPECT_EQ(testenv::ReadFile(Device(newId.substr(0, 2) + "/" + newId)), "new note");
    EXPECT_TRUE(HasEvent("backup previous finished"));
    size_t stored = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir_.Path() + "/" + udid_)) {
        stored += e.is_regular_file() && e.path().filename().string().size() == 40 ? 1 : 0;
    }
    EXPECT_EQ(stored, PhoneFiles(*phone_).size());
}

TEST_F(ModernPhoneTest, WholeRestoreAppliesTheBackupAndRefusesDamagedOnes) {
    Serve("16.4");
    ASSERT_EQ(Backup().errorCode, 0);
    const auto before = PhoneFiles(*phone_);
    const std::string sms = phone_->FilePath("HomeDomain", "Library/SMS/sms.db");
    testenv::WriteFile(sms, "changed after the backup");
    testenv::WriteFile(phone_->FilePath("HomeDomain", "Library/added-later.txt"), "x");
    HostResult r = Restore();
    EXPECT_TRUE(r.disconnected) << r.errorDescription;
    EXPECT_EQ(PhoneFiles(*phone_), before);
    EXPECT_EQ(r.messages[0], "DLMessageDownloadFiles");
    EXPECT_EQ(r.filesSent, before.size() + 2);  // Manifest.plist, Manifest.db, every file

    // A stored file that does not match its MBFile's Digest.
    const std::string stored = testenv::ReadFile(Device(kSmsName));
    testenv::WriteFile(Device(kSmsName), stored + "tampered");
    r = Restore();
    EXPECT_EQ(r.errorCode, 205);
    EXPECT_EQ(PhoneFiles(*phone_), before);
    testenv::WriteFile(Device(kSmsName), stored);

    // A row whose relativePath leaves its domain (its fileID made to match).
    const std::string manifestPath = Device("Manifest.db");
    const std::string original = testenv::ReadFile(manifestPath);
    {
        sqlite3* raw = nullptr;
        ASSERT_EQ(sqlite3_open(manifestPath.c_str(), &raw), SQLITE_OK);
        platform::SqlitePtr db(raw);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(raw, "SELECT file FROM Files WHERE relativePath='Library/SMS/sms.db'",
                           -1, &s, nullptr);
        platform::SqliteStmtPtr stmt(s);
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
        std::string file(static_cast<const char*>(sqlite3_column_blob(s, 0)),
                         static_cast<size_t>(sqlite3_column_bytes(s, 0)));
        stmt.reset();
        const std::string evil = "../../../../../../sms.db";
        Plist archive = ParseBytes(file);
        plist_t objects = plist_dict_get_item(archive.get(), "$objects");
        for (uint32_t i = 0; i < plist_array_get_size(objects); ++i) {
            if (StringOf(plist_array_get_item(objects, i)) == "Library/SMS/sms.db") {
                plist_set_string_val(plist_array_get_item(objects, i), evil.c_str());
            }
        }
        char* bin = nullptr;
        uint32_t n = 0;
        plist_to_bin(archive.get(), &bin, &n);
        const std::string sql = "UPDATE Files SET relativePath='" + evil + "', fileID='" +
                                Sha1Hex("HomeDomain-" + evil) +
                                "', file=? WHERE relativePath='Library/SMS/sms.db'";
        sqlite3_prepare_v2(raw, sql.c_str(), -1, &s, nullptr);
        sqlite3_bind_blob(s, 1, bin, static_cast<int>(n), SQLITE_TRANSIENT);
        EXPECT_EQ(sqlite3_step(s), SQLITE_DONE);
        sqlite3_finalize(s);
        free(bin);
    }
    r = Restore();
    EXPECT_EQ(r.errorCode, 205);
    EXPECT_FALSE(fs::exists(phone_->DeviceDir() + "/sms.db"));
    EXPECT_EQ(PhoneFiles(*phone_), before);

    // A Manifest.db that is no database.
    testenv::WriteFile(manifestPath, original.substr(0, 100) + std::string(4096, 'x'));
    r = Restore();
    EXPECT_EQ(r.errorCode, 204);
    EXPECT_EQ(PhoneFiles(*phone_), before);
}

TEST_F(ModernPhoneTest, BackupWaitsForThePasscodeAndAnswersDeviceLockedWithoutIt) {
    Serve("17.5", {"passcode-after=2"});
    const auto start = std::chrono::steady_clock::now();
    HostResult r = Backup();
    EXPECT_EQ(r.errorCode, 0) << r.errorDescription;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(HasEvent("passcode asked"));
    EXPECT_TRUE(HasEvent("passcode entered"));

    // Never entered: silent for longer than the library waits for a message (30 s), then
    // "Device locked"; the connection stays open for a computer that waits through the silence.
    phone_->Restart({"passcode-never", "passcode-limit=32"});
    r = Request("Backup", nullptr, true);
    EXPECT_EQ(r.errorCode, 208);
    EXPECT_EQ(r.errorDescription, "Device locked");
    EXPECT_GE(r.timeouts, 1);
    EXPECT_EQ(r.messages, std::vector<std::string>{"DLMessageProcessMessage"});
    EXPECT_TRUE(HasEvent("passcode timeout"));

    // Before 16.1 a phone never asks.
    phone_.reset();
    Serve("16.0", {"passcode-never", "passcode-limit=1"});
    EXPECT_EQ(Backup().errorCode, 0);
    EXPECT_FALSE(HasEvent("passcode asked"));
}

TEST_F(ModernPhoneTest, TheOlderGenerationKeepsItsLayout) {
    Serve("7.1.2", {"passcode-never", "passcode-limit=1"});
    ASSERT_EQ(Backup().errorCode, 0);
    EXPECT_TRUE(fs::exists(Device("Manifest.mbdb")));
    EXPECT_FALSE(fs::exists(Device("Manifest.db")));
    EXPECT_TRUE(fs::exists(Device("3d0d7e5fb2ce288813306e4d4636395e047a3d28")));
    EXPECT_FALSE(fs::exists(Device("3d")));
    const std::string copy = dir_.Path() + "/old.db";
    fs::copy_file(Device("3d0d7e5fb2ce288813306e4d4636395e047a3d28"), copy);
    Db sms(copy);
    EXPECT_EQ(sms.Number("SELECT count(*) FROM pragma_table_info('message')"), 38);
    EXPECT_EQ(sms.Number("SELECT count(*) FROM message WHERE attributedBody IS NOT NULL"), 0);
    EXPECT_LT(sms.Number("SELECT max(date) FROM message"), 1000000000);
}

TEST_F(ModernPhoneTest, WriteBackupOfAModernPhoneHasTheSameLayout) {
    Serve("18.1");
    phone_->Stop();
    devsim::WriteBackupOptions o;
    o.date = 1714557600;
    std::string error;
    ASSERT_TRUE(devsim::WriteBackup(phone_->DeviceDir(), dir_.Path(), o, error)) << error;
    for (const char* f :
         {"Manifest.db", "Manifest.plist", "Status.plist", "Info.plist", kSmsName, kContactsName}) {
        EXPECT_TRUE(fs::exists(Device(f))) << f;
    }
    EXPECT_FALSE(fs::exists(Device("Manifest.mbdb")));
    Db manifest(Device("Manifest.db"));
    EXPECT_EQ(manifest.Number("SELECT count(*) FROM Files WHERE flags=1"),
              static_cast<int64_t>(PhoneFiles(*phone_).size()));
    Plist info = ParseBytes(testenv::ReadFile(Device("Info.plist")));
    EXPECT_EQ(StringOf(plist_dict_get_item(info.get(), "Product Version")), "18.1");
}

TEST(ModernMakeDeviceTest, VersionsFromTenToEighteenAndTheOlderOnesAreTheOnlyOnes) {
    testenv::TempDir dir("devsim-versions");
    int n = 0;
    for (const char* v : {"9.3.5", "19.0", "8", "17.5 ", "17.x", "", "7.0", "10.-1"}) {
        devsim::MakeDeviceOptions o;
        o.productVersion = v;
        o.messages = 0;
        o.mediaMb = 0;
        std::string error;
        EXPECT_FALSE(devsim::MakeDevice(dir.Path() + "/p" + std::to_string(n++), o, error)) << v;
        EXPECT_NE(error.find("unsupported product version"), std::string::npos) << v;
    }
    struct Case {
        const char *version, *build, *type;
    };
    for (const Case c : {Case{"10", "14A79", "iPhone9,1"}, Case{"13.7", "17H79", "iPhone12,1"},
                         Case{"17.5", "21F79", "iPhone15,2"}, Case{"18.1.1", "22B90", "iPhone15,2"},
                         Case{"7.1.1", "11D201", "iPhone6,1"}}) {
        devsim::MakeDeviceOptions o;
        o.productVersion = c.version;
        o.messages = 4;
        o.mediaMb = 0;
        std::string error;
        const std::string folder = dir.Path() + "/p" + std::to_string(n++);
        ASSERT_TRUE(devsim::MakeDevice(folder, o, error)) << c.version << ": " << error;
        std::unique_ptr<devsim::DeviceState> state = devsim::DeviceState::Load(folder, error);
        ASSERT_TRUE(state);
        EXPECT_EQ(state->ValueString("ProductVersion"), c.version);
        EXPECT_EQ(state->ValueString("BuildVersion"), c.build) << c.version;
        EXPECT_EQ(state->ValueString("ProductType"), c.type) << c.version;
    }
}

}  // namespace
}  // namespace devsimtest
