// Repeat backups into a folder that holds the phone's earlier backup: only new and changed files
// cross the link, removed ones are asked to be deleted, and the folder ends as a full backup into
// an empty folder would leave it — for both generations, plain and encrypted. Also the changes
// that model a week of use.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "devsim/FileChanges.h"
#include "tests/devsim/HostLoop.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

namespace fs = std::filesystem;

// Every regular file below `root`: relative path → contents.
std::map<std::string, std::string> FilesBelow(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) {
            out[fs::relative(e.path(), root).string()] = testenv::ReadFile(e.path().string());
        }
    }
    return out;
}

// The stored files of a backup folder: everything but the manifests and Status.plist, whose
// dates and keys differ from run to run.
std::map<std::string, std::string> StoredFiles(const std::string& deviceFolder) {
    std::map<std::string, std::string> out = FilesBelow(deviceFolder);
    for (const char* n : {"Manifest.mbdb", "Manifest.db", "Manifest.plist", "Status.plist"}) {
        out.erase(n);
    }
    return out;
}

// The numbers of the last "backup sent <files> <bytes> kept <files>" line.
struct Sent {
    uint64_t files = 0;
    uint64_t bytes = 0;
    uint64_t kept = 0;
    bool found = false;
};
Sent LastSent(const std::vector<std::string>& events) {
    Sent s;
    for (const std::string& e : events) {
        if (e.rfind("backup sent ", 0) == 0) {
            std::istringstream in(e.substr(12));
            std::string word;
            in >> s.files >> s.bytes >> word >> s.kept;
            s.found = word == "kept";
        }
    }
    return s;
}

struct Generation {
    const char* version;  // "" the older one
    const char* password;
};

class RepeatBackupTest : public ::testing::TestWithParam<Generation> {
  protected:
    void SetUp() override {
        testenv::PhoneOptions o;
        o.messages = 20;
        o.contacts = 8;
        o.mediaMb = 2;
        o.apps = 6;
        o.productVersion = GetParam().version;
        o.backupPassword = GetParam().password;
        o.backupRounds = 10;
        phone_ = std::make_unique<testenv::SimulatedPhone>(o);
        udid_ = phone_->Udid();
    }
    HostResult Request(const char* request, plist_t options, const std::string& folder) {
        BackupConnection c = OpenBackupConnection();
        EXPECT_TRUE(c.client);
        if (!c.client) {
            return HostResult{};
        }
        EXPECT_TRUE(SendRequest(c.client.get(), request, udid_, "", options));
        HostOptions host;
        host.folder = folder;
        return RunHostLoop(c.client.get(), host);
    }
    HostResult Backup(const std::string& folder) {
        fs::create_directories(folder);
        return Request("Backup", nullptr, folder);
    }
    devsim::FileChangeCounts Change(double share, uint64_t round) {
        devsim::FileChangeCounts counts;
        std::string error;
        EXPECT_TRUE(
            devsim::ChangeFiles(phone_->DeviceDir() + "/files", share, round, counts, error))
            << error;
        return counts;
    }

    testenv::IsolatedHome home_;
    testenv::TempDir dir_{"devsim-repeat"};
    std::unique_ptr<testenv::SimulatedPhone> phone_;
    std::string udid_;
};

TEST_P(RepeatBackupTest, SecondBackupSendsOnlyWhatChangedAndEndsAsAFullOne) {
    const std::string repeat = dir_.Path() + "/repeat";
    ASSERT_EQ(Backup(repeat).errorCode, 0);
    const Sent first = LastSent(phone_->Events());
    ASSERT_TRUE(first.found);
    EXPECT_EQ(first.kept, 0u);
    ASSERT_GT(first.files, 20u);

    const devsim::FileChangeCounts changed = Change(0.2, 7);
    ASSERT_GT(changed.changed, 0u);
    const HostResult second = Backup(repeat);
    ASSERT_EQ(second.errorCode, 0) << second.errorDescription;
    const Sent sent = LastSent(phone_->Events());
    ASSERT_TRUE(sent.found);
    // Changed and added files go out; removed ones are not in the phone any more.
    EXPECT_EQ(sent.files, changed.changed + changed.added);
    EXPECT_EQ(sent.kept, first.files - changed.changed - changed.removed);
    EXPECT_LT(sent.bytes, first.bytes);

    // A fresh backup of the same phone into an empty folder holds the same files, byte for byte.
    const std::string fresh = dir_.Path() + "/fresh";
    ASSERT_EQ(Backup(fresh).errorCode, 0);
    EXPECT_EQ(LastSent(phone_->Events()).files, sent.files + sent.kept);
    const auto repeated = StoredFiles(repeat + "/" + udid_);
    const auto full = StoredFiles(fresh + "/" + udid_);
    if (std::string(GetParam().password).empty()) {
        EXPECT_EQ(repeated, full);
    } else {
        // Files carry their own keys, so only the names can be compared; the restore below
        // checks the contents.
        ASSERT_EQ(repeated.size(), full.size());
        for (auto a = repeated.begin(), b = full.begin(); a != repeated.end(); ++a, ++b) {
            EXPECT_EQ(a->first, b->first);
        }
    }
    EXPECT_FALSE(fs::exists(repeat + "/" + udid_ + "/Snapshot"));
}

TEST_P(RepeatBackupTest, RestoreOfTheRepeatBackupPutsBackItsState) {
    const std::string folder = dir_.Path() + "/b";
    ASSERT_EQ(Backup(folder).errorCode, 0);
    Change(0.25, 3);
    ASSERT_EQ(Backup(folder).errorCode, 0);
    ASSERT_GT(LastSent(phone_->Events()).kept, 0u);
    const auto state = FilesBelow(phone_->DeviceDir() + "/files");
    Change(0.5, 4);
    ASSERT_NE(FilesBelow(phone_->DeviceDir() + "/files"), state);

    Plist options(plist_new_dict());
    plist_dict_set_item(options.get(), "RestoreSystemFiles", plist_new_bool(1));
    if (!std::string(GetParam().password).empty()) {
        plist_dict_set_item(options.get(), "Password", plist_new_string(GetParam().password));
    }
    const HostResult r = Request("Restore", options.get(), folder);
    EXPECT_TRUE(r.disconnected) << r.errorCode << " " << r.errorDescription;
    // Added files are dropped from the domains a restore replaces; every file comes back.
    EXPECT_EQ(FilesBelow(phone_->DeviceDir() + "/files"), state);
}

TEST_P(RepeatBackupTest, UnfinishedEarlierBackupIsNotBuiltOn) {
    const std::string folder = dir_.Path() + "/b";
    ASSERT_EQ(Backup(folder).errorCode, 0);
    const uint64_t all = LastSent(phone_->Events()).files;
    // A snapshot that never finished cannot vouch for its files.
    const std::string status = folder + "/" + udid_ + "/Status.plist";
    std::string text = testenv::ReadFile(status);
    const size_t at = text.find("<string>finished</string>");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 25, "<string>new</string>");
    testenv::WriteFile(status, text);
    ASSERT_EQ(Backup(folder).errorCode, 0);
    EXPECT_EQ(LastSent(phone_->Events()).files, all);
    EXPECT_EQ(LastSent(phone_->Events()).kept, 0u);
}

TEST_P(RepeatBackupTest, AFileDeletedFromTheEarlierBackupIsSentAgain) {
    const std::string folder = dir_.Path() + "/b";
    ASSERT_EQ(Backup(folder).errorCode, 0);
    const uint64_t all = LastSent(phone_->Events()).files;
    const std::string device = folder + "/" + udid_;
    const auto before = StoredFiles(device);
    const std::string victim = before.rbegin()->first;
    fs::remove(device + "/" + victim);
    ASSERT_EQ(Backup(folder).errorCode, 0);
    EXPECT_EQ(LastSent(phone_->Events()).files, 1u);
    EXPECT_EQ(LastSent(phone_->Events()).kept, all - 1);
    if (std::string(GetParam().password).empty()) {
        EXPECT_EQ(StoredFiles(device), before);
    } else {
        EXPECT_TRUE(fs::exists(device + "/" + victim));
    }
}

INSTANTIATE_TEST_SUITE_P(Generations, RepeatBackupTest,
                         ::testing::Values(Generation{"", ""}, Generation{"17.5", ""},
                                           Generation{"", "secret"}, Generation{"17.5", "secret"}),
                         [](const auto& info) {
                             return std::string(*info.param.version ? "Modern" : "Older") +
                                    (*info.param.password ? "Encrypted" : "Plain");
                         });

TEST(ChangeShareTest, ServedPhoneChangesItsFilesAfterEachFinishedBackup) {
    testenv::IsolatedHome home;
    testenv::TempDir dir("devsim-change-share");
    testenv::PhoneOptions o;
    o.apps = 20;
    testenv::SimulatedPhone phone(o, {"change-share=10%"});
    auto backup = [&] {
        BackupConnection c = OpenBackupConnection();
        EXPECT_TRUE(c.client);
        EXPECT_TRUE(SendRequest(c.client.get(), "Backup", phone.Udid(), "", nullptr));
        HostOptions host;
        host.folder = dir.Path();
        return RunHostLoop(c.client.get(), host);
    };
    ASSERT_EQ(backup().errorCode, 0);
    const std::vector<std::string> events = phone.Events();
    ASSERT_FALSE(events.empty());
    // "changed <n> added <a> removed <r>" after the backup's end.
    uint64_t changed = 0;
    uint64_t added = 0;
    uint64_t removed = 0;
    bool found = false;
    for (const std::string& e : events) {
        if (e.rfind("changed ", 0) == 0) {
            std::string w1, w2, w3;
            std::istringstream(e) >> w1 >> changed >> w2 >> added >> w3 >> removed;
            found = w2 == "added" && w3 == "removed";
        }
    }
    ASSERT_TRUE(found);
    const uint64_t all = LastSent(events).files;
    // A tenth of the files, the two databases left out.
    EXPECT_NEAR(static_cast<double>(changed + added + removed), 0.1 * static_cast<double>(all),
                1.5);
    EXPECT_GT(changed, 0u);
    ASSERT_EQ(backup().errorCode, 0);
    EXPECT_EQ(LastSent(phone.Events()).files, changed + added);
}

TEST(FileChangesTest, ShareIsParsedAsAPercentOrAFraction) {
    double s = -1;
    EXPECT_TRUE(devsim::ParseShare("1%", s));
    EXPECT_DOUBLE_EQ(s, 0.01);
    EXPECT_TRUE(devsim::ParseShare("0.25", s));
    EXPECT_DOUBLE_EQ(s, 0.25);
    for (const char* bad : {"", "%", "abc", "150%", "-1%", "1.5", "nan"}) {
        EXPECT_FALSE(devsim::ParseShare(bad, s)) << bad;
    }
}

TEST(FileChangesTest, ChangesTheShareAndLeavesTheDatabasesAlone) {
    testenv::TempDir dir("devsim-changes");
    const std::string root = dir.Path() + "/files";
    for (int i = 0; i < 200; ++i) {
        testenv::WriteFile(root + "/MediaDomain/f" + std::to_string(i),
                           std::string(100, 'a' + i % 26));
    }
    testenv::WriteFile(root + "/HomeDomain/Library/SMS/sms.db", "database");
    const auto before = FilesBelow(root);
    devsim::FileChangeCounts counts;
    std::string error;
    ASSERT_TRUE(devsim::ChangeFiles(root, 0.1, 5, counts, error)) << error;
    EXPECT_EQ(counts.Total(), 20u);  // 10 % of the 200 files besides the database
    const auto after = FilesBelow(root);
    EXPECT_EQ(after.at("HomeDomain/Library/SMS/sms.db"), "database");
    uint64_t differing = 0;
    for (const auto& [name, bytes] : before) {
        auto it = after.find(name);
        differing += it == after.end() || it->second != bytes ? 1 : 0;
    }
    EXPECT_EQ(differing, counts.changed + counts.removed);
    EXPECT_EQ(after.size(), before.size() + counts.added - counts.removed);

    // Nothing to change: nothing changes.
    devsim::FileChangeCounts none;
    ASSERT_TRUE(devsim::ChangeFiles(root, 0, 6, none, error));
    EXPECT_EQ(none.Total(), 0u);
    EXPECT_EQ(FilesBelow(root), after);
}

}  // namespace
}  // namespace devsimtest
