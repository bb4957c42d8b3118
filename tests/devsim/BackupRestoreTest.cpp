// Backup and Restore driven by the phone against a computer that answers from a folder: the
// backup folder's layout and manifest, incremental backups, restores with their options and
// their refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/Files.h"
#include "platform/Sha1.h"
#include "tests/devsim/HostLoop.h"
#include "tests/devsim/ManifestReader.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

namespace fs = std::filesystem;

constexpr char kSmsName[] = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
constexpr char kContactsName[] = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";

std::string Sha1Hex(const std::string& s) {
    return platform::HexLower(platform::Sha1Of(s));
}

std::string Raw(const platform::Sha1Digest& d) {
    return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

// Every file of the phone's tree: "<Domain>/<path>" → contents.
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

class BackupRestoreTest : public ::testing::Test {
  protected:
    void Serve(std::vector<std::string> faults = {}, std::string password = "") {
        testenv::PhoneOptions o;
        o.messages = 30;
        o.contacts = 12;
        o.mediaMb = 1;
        o.apps = 2;
        o.backupPassword = std::move(password);
        phone_ = std::make_unique<testenv::SimulatedPhone>(o, faults);
        udid_ = phone_->Udid();
    }
    HostResult Request(const char* request, plist_t options, const HostOptions& host,
                       const std::string& source = "") {
        BackupConnection c = OpenBackupConnection();
        EXPECT_TRUE(c.client);
        if (!c.client) {
            return HostResult{};
        }
        EXPECT_TRUE(SendRequest(c.client.get(), request, udid_, source, options));
        return RunHostLoop(c.client.get(), host);
    }
    HostResult Backup(const std::string& folder) {
        HostOptions host;
        host.folder = folder;
        return Request("Backup", nullptr, host);
    }
    HostResult Restore(const std::string& folder, bool system, const char* password = nullptr) {
        Plist options(plist_new_dict());
        plist_dict_set_item(options.get(), "RestoreSystemFiles", plist_new_bool(system));
        plist_dict_set_item(options.get(), "RestoreDontCopyBackup", plist_new_bool(1));
        plist_dict_set_item(options.get(), "RestorePreserveSettings", plist_new_bool(1));
        if (password != nullptr) {
            plist_dict_set_item(options.get(), "Password", plist_new_string(password));
        }
        HostOptions host;
        host.folder = folder;
        return Request("Restore", options.get(), host);
    }
    std::string Device(const std::string& file) const {
        return dir_.Path() + "/" + udid_ + "/" + file;
    }

    testenv::IsolatedHome home_;
    testenv::TempDir dir_{"devsim-backup"};
    std::unique_ptr<testenv::SimulatedPhone> phone_;
    std::string udid_;
};

TEST_F(BackupRestoreTest, BackupHoldsEveryFileUnderItsHashedNameWithAManifest) {
    Serve();
    const HostResult r = Backup(dir_.Path());
    ASSERT_TRUE(r.ended);
    EXPECT_FALSE(r.disconnected);
    EXPECT_EQ(r.errorCode, 0);
    EXPECT_TRUE(r.refused.empty());

    // The two databases under the names every reader of backups knows, in the WAL journal mode
    // the phone keeps them in.
    EXPECT_EQ(testenv::ReadFile(Device(kSmsName)),
              testenv::ReadFile(phone_->FilePath("HomeDomain", "Library/SMS/sms.db")));
    for (const char* name : {kSmsName, kContactsName}) {
        const std::string header = testenv::ReadFile(Device(name)).substr(0, 20);
        ASSERT_EQ(header.size(), 20u);
        EXPECT_EQ(header.substr(18), std::string("\x02\x02", 2)) << name;
    }
    EXPECT_EQ(testenv::ReadFile(Device(kContactsName)),
              testenv::ReadFile(
                  phone_->FilePath("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb")));
    const auto files = PhoneFiles(*phone_);
    for (const auto& [where, contents] : files) {
        const size_t slash = where.find('/');
        const std::string name = Sha1Hex(where.substr(0, slash) + "-" + where.substr(slash + 1));
        EXPECT_EQ(testenv::ReadFile(Device(name)), contents) << where;
    }

    // The manifest: one record per file and folder, digests of the contents.
    std::vector<Record> records;
    std::string version;
    ASSERT_TRUE(ParseManifest(testenv::ReadFile(Device("Manifest.mbdb")), records, &version));
    EXPECT_EQ(version, std::string("\x05\x00", 2));
    size_t fileRecords = 0;
    bool sawFolder = false;
    bool sawProperties = false;
    for (const Record& rec : records) {
        if ((rec.mode & 0xF000) == 0x4000) {
            sawFolder = true;
            EXPECT_TRUE(rec.digest.empty());
            continue;
        }
        ASSERT_EQ(rec.mode & 0xF000, 0x8000) << rec.path;
        ++fileRecords;
        const std::string contents = files.at(rec.domain + "/" + rec.path);
        EXPECT_EQ(rec.digest, Raw(platform::Sha1Of(contents))) << rec.path;
        EXPECT_EQ(rec.size, contents.size());
        EXPECT_TRUE(rec.key.empty());
        sawProperties = sawProperties || rec.propertyCount > 0;
        if (rec.path == "Library/SMS/sms.db") {
            EXPECT_EQ(rec.protection, 3);
        }
    }
    EXPECT_EQ(fileRecords, files.size());
    EXPECT_TRUE(sawFolder);
    EXPECT_TRUE(sawProperties);

    Plist status;
    {
        const std::string text = testenv::ReadFile(Device("Status.plist"));
        plist_t node = nullptr;
        plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &node);
        status.reset(node);
    }
    EXPECT_EQ(StringOf(plist_dict_get_item(status.get(), "SnapshotState")), "finished");
    EXPECT_FALSE(fs::exists(Device("Snapshot")));
    const std::string manifestPlist = testenv::ReadFile(Device("Manifest.plist"));
    EXPECT_NE(manifestPlist.find("<key>IsEncrypted</key>\n\t<false/>"), std::string::npos);
    EXPECT_NE(manifestPlist.find("org.example.weather"), std::string::npos);

    // Progress rises from a small first figure to near 100, never above.
    ASSERT_FALSE(r.progress.empty());
    EXPECT_GT(r.progress.front(), 0.0);
    EXPECT_LT(r.progress.front(), 5.0);
    EXPECT_TRUE(std::is_sorted(r.progress.begin(), r.progress.end()));
    EXPECT_GE(r.progress.back(), 90.0);
    EXPECT_LE(r.progress.back(), 100.0);
    const std::vector<std::string> events = phone_->Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "backup finished 0"), events.end());
}

TEST_F(BackupRestoreTest, SecondBackupReplacesWhatThePhoneNoLongerHas) {
    Serve();
    ASSERT_EQ(Backup(dir_.Path()).errorCode, 0);
    const std::string gone = "Media/DCIM/100APPLE/IMG_0001.JPG";
    const std::string goneName = Sha1Hex("CameraRollDomain-" + gone);
    ASSERT_TRUE(fs::exists(Device(goneName)));
    fs::remove(phone_->FilePath("CameraRollDomain", gone));
    testenv::WriteFile(phone_->FilePath("HomeDomain", "Library/Notes/new.txt"), "new note");

    const HostResult r = Backup(dir_.Path());
    EXPECT_EQ(r.errorCode, 0);
    EXPECT_FALSE(fs::exists(Device(goneName)));
    EXPECT_EQ(testenv::ReadFile(Device(Sha1Hex("HomeDomain-Library/Notes/new.txt"))), "new note");
    // The phone looked at the previous backup's state first, then at its two manifests.
    EXPECT_EQ(std::count(r.messages.begin(), r.messages.end(), "DLMessageDownloadFiles"), 3);
    const std::vector<std::string> events = phone_->Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "backup previous finished"), events.end());
    // The folder holds the manifests, Status.plist and the files, nothing else.
    size_t hashed = 0;
    for (const auto& e : fs::directory_iterator(dir_.Path() + "/" + udid_)) {
        const std::string n = e.path().filename();
        hashed += n.size() == 40 ? 1 : 0;
        EXPECT_TRUE(n.size() == 40 || n == "Manifest.mbdb" || n == "Manifest.plist" ||
                    n == "Status.plist")
            << n;
    }
    EXPECT_EQ(hashed, PhoneFiles(*phone_).size());
}

TEST_F(BackupRestoreTest, BackupIsRefusedWhenTheComputerHasNoRoom) {
    Serve();
    HostOptions host;
    host.folder = dir_.Path();
    host.freeSpace = 4096;
    const HostResult r = Request("Backup", nullptr, host);
    EXPECT_EQ(r.errorCode, 105);
    EXPECT_NE(r.errorDescription.find("free disk space"), std::string::npos);
    EXPECT_EQ(r.filesReceived, 0u);
    // It looks at what the folder holds first: only what it has to send needs room.
    EXPECT_EQ(r.messages,
              (std::vector<std::string>{"DLMessageCreateDirectory", "DLContentsOfDirectory",
                                        "DLMessageGetFreeDiskSpace", "DLMessageProcessMessage"}));
}

TEST_F(BackupRestoreTest, RestoreBringsBackUserAndAppDataAndSystemFilesOnlyWhenAsked) {
    Serve();
    ASSERT_EQ(Backup(dir_.Path()).errorCode, 0);
    const auto before = PhoneFiles(*phone_);
    const std::string sms = phone_->FilePath("HomeDomain", "Library/SMS/sms.db");
    const std::string app =
        phone_->FilePath("AppDomain-com.example.notebook", "Documents/notes.txt");
    const std::string system =
        phone_->FilePath("SystemPreferencesDomain", "SystemConfiguration/preferences.plist");
    testenv::WriteFile(sms, "changed after the backup");
    testenv::WriteFile(app, "changed app data");
    testenv::WriteFile(system, "changed system file");
    testenv::WriteFile(phone_->FilePath("HomeDomain", "Library/added-later.txt"), "x");

    HostResult r = Restore(dir_.Path(), false);
    EXPECT_TRUE(r.ended);
    EXPECT_TRUE(r.disconnected);
    EXPECT_EQ(r.errorCode, -1);
    EXPECT_EQ(testenv::ReadFile(sms), before.at("HomeDomain/Library/SMS/sms.db"));
    EXPECT_EQ(testenv::ReadFile(app),
              before.at("AppDomain-com.example.notebook/Documents/notes.txt"));
    EXPECT_EQ(testenv::ReadFile(system), "changed system file");
    EXPECT_FALSE(fs::exists(phone_->FilePath("HomeDomain", "Library/added-later.txt")));
    EXPECT_FALSE(fs::exists(phone_->DeviceDir() + "/.restore-new"));
    EXPECT_FALSE(fs::exists(phone_->DeviceDir() + "/.restore-old"));
    // The phone asked for the manifests and then for the files, and never wrote to the backup.
    ASSERT_GE(r.messages.size(), 3u);
    EXPECT_EQ(r.messages[0], "DLMessageDownloadFiles");
    EXPECT_EQ(r.messages.back(), "DLMessageDisconnect");
    EXPECT_EQ(r.filesSent, before.size() + 2);
    EXPECT_EQ(r.filesReceived, 0u);

    r = Restore(dir_.Path(), true);
    EXPECT_TRUE(r.disconnected);
    EXPECT_EQ(testenv::ReadFile(system),
              before.at("SystemPreferencesDomain/SystemConfiguration/preferences.plist"));
    EXPECT_EQ(PhoneFiles(*phone_), before);
}

TEST_F(BackupRestoreTest, RestoreLeavesApplicationsOutsideTheManifestAlone) {
    Serve();
    ASSERT_EQ(Backup(dir_.Path()).errorCode, 0);
    // As a restore by category prepares it: application records stripped, a new sms.db patched in.
    const std::string manifestPath = Device("Manifest.mbdb");
    const std::string original = testenv::ReadFile(manifestPath);
    std::vector<Record> records;
    ASSERT_TRUE(ParseManifest(original, records, nullptr));
    std::vector<Record> kept;
    const std::string newSms = testenv::ReadFile(
        phone_->FilePath("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"));
    for (Record rec : records) {
        if (rec.domain.rfind("AppDomain", 0) == 0) {
            continue;
        }
        if (rec.path == "Library/SMS/sms.db") {
            SetDigest(rec, Raw(platform::Sha1Of(newSms)));
        }
        kept.push_back(rec);
    }
    ASSERT_LT(kept.size(), records.size());
    testenv::WriteFile(manifestPath, JoinManifest(original, kept));
    testenv::WriteFile(Device(kSmsName), newSms);

    const std::string app =
        phone_->FilePath("AppDomain-com.example.notebook", "Documents/notes.txt");
    testenv::WriteFile(app, "app data after the backup");
    const HostResult r = Restore(dir_.Path(), true);
    EXPECT_TRUE(r.disconnected) << r.errorDescription;
    EXPECT_EQ(testenv::ReadFile(app), "app data after the backup");
    EXPECT_EQ(testenv::ReadFile(phone_->FilePath("HomeDomain", "Library/SMS/sms.db")), newSms);
}

TEST_F(BackupRestoreTest, DamagedOrIncompleteBackupsAreRefusedAndChangeNothing) {
    Serve();
    ASSERT_EQ(Backup(dir_.Path()).errorCode, 0);
    const auto before = PhoneFiles(*phone_);
    const std::string sms = testenv::ReadFile(Device(kSmsName));

    // A file that does not match its record's digest.
    testenv::WriteFile(Device(kSmsName), sms + "tampered");
    HostResult r = Restore(dir_.Path(), true);
    EXPECT_FALSE(r.disconnected);
    EXPECT_EQ(r.errorCode, 205);
    EXPECT_NE(r.errorDescription.find("Library/SMS/sms.db"), std::string::npos);
    EXPECT_EQ(PhoneFiles(*phone_), before);

    // A file that is missing.
    fs::remove(Device(kSmsName));
    r = Restore(dir_.Path(), true);
    EXPECT_EQ(r.errorCode, 204);
    EXPECT_NE(r.errorDescription.find(kSmsName), std::string::npos);
    EXPECT_EQ(PhoneFiles(*phone_), before);
    testenv::WriteFile(Device(kSmsName), sms);

    // A record whose path leaves its domain.
    const std::string manifestPath = Device("Manifest.mbdb");
    const std::string original = testenv::ReadFile(manifestPath);
    std::vector<Record> records;
    ASSERT_TRUE(ParseManifest(original, records, nullptr));
    std::string evil = original;
    const std::string from = "Library/SMS/sms.db";
    const size_t at = evil.find(from);
    ASSERT_NE(at, std::string::npos);
    evil.replace(at, from.size(), "../../../../sms.db");  // same length: the layout holds
    testenv::WriteFile(manifestPath, evil);
    r = Restore(dir_.Path(), true);
    EXPECT_EQ(r.errorCode, 205);
    EXPECT_EQ(PhoneFiles(*phone_), before);

    // No manifest at all.
    fs::remove(manifestPath);
    fs::remove(Device("Manifest.plist"));
    r = Restore(dir_.Path(), true);
    EXPECT_EQ(r.errorCode, 204);
    EXPECT_EQ(r.messages,
              (std::vector<std::string>{"DLMessageDownloadFiles", "DLMessageProcessMessage"}));
    EXPECT_EQ(PhoneFiles(*phone_), before);
}

TEST_F(BackupRestoreTest, OneConnectionCarriesUnlockBackupAndRestoreInTurn) {
    // As a restore by category runs: the password removed, a backup taken, then restored, all
    // on one mobilebackup2 connection.
    Serve({}, "secret");
    BackupConnection c = OpenBackupConnection();
    ASSERT_TRUE(c.client);
    Plist unlock(plist_new_dict());
    plist_dict_set_item(unlock.get(), "TargetIdentifier", plist_new_string(udid_.c_str()));
    plist_dict_set_item(unlock.get(), "OldPassword", plist_new_string("secret"));
    ASSERT_EQ(mobilebackup2_send_message(c.client.get(), "ChangePassword", unlock.get()),
              MOBILEBACKUP2_E_SUCCESS);
    HostOptions host;
    host.folder = dir_.Path();
    EXPECT_EQ(RunHostLoop(c.client.get(), host).errorCode, 0);
    EXPECT_FALSE(phone_->WillEncrypt());

    ASSERT_TRUE(SendRequest(c.client.get(), "Backup", udid_, "", nullptr));
    EXPECT_EQ(RunHostLoop(c.client.get(), host).errorCode, 0);
    // Not encrypted any more: the database is stored as it is.
    const std::string sms = phone_->FilePath("HomeDomain", "Library/SMS/sms.db");
    const std::string original = testenv::ReadFile(sms);
    EXPECT_EQ(testenv::ReadFile(Device(kSmsName)), original);

    testenv::WriteFile(sms, "changed");
    Plist options(plist_new_dict());
    plist_dict_set_item(options.get(), "RestoreSystemFiles", plist_new_bool(1));
    ASSERT_TRUE(SendRequest(c.client.get(), "Restore", udid_, "", options.get()));
    const HostResult r = RunHostLoop(c.client.get(), host);
    EXPECT_TRUE(r.disconnected) << r.errorDescription;
    EXPECT_EQ(testenv::ReadFile(sms), original);
}

TEST_F(BackupRestoreTest, BackupAndRestoreTogetherUseEveryDeviceLinkMessage) {
    Serve();
    std::set<std::string> used;
    for (int i = 0; i < 2; ++i) {
        const HostResult b = Backup(dir_.Path());
        ASSERT_EQ(b.errorCode, 0);
        used.insert(b.messages.begin(), b.messages.end());
    }
    const HostResult r = Restore(dir_.Path(), false);
    ASSERT_TRUE(r.disconnected);
    used.insert(r.messages.begin(), r.messages.end());
    const std::set<std::string> table = {
        "DLMessageDownloadFiles", "DLMessageUploadFiles",     "DLMessageGetFreeDiskSpace",
        "DLContentsOfDirectory",  "DLMessageCreateDirectory", "DLMessageMoveFiles",
        "DLMessageMoveItems",     "DLMessageRemoveFiles",     "DLMessageRemoveItems",
        "DLMessageCopyItem",      "DLMessageDisconnect",      "DLMessageProcessMessage"};
    EXPECT_EQ(used, table);
}

}  // namespace
}  // namespace devsimtest
