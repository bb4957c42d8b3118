// Repeat backups end to end against the simulated phone: a whole backup that starts from the
// phone's earlier one moves only what changed, ends as a fresh full backup would, shares every
// unchanged file with the earlier one on the disk, and never changes an earlier backup — not when
// it succeeds, not when it is cancelled or refused, not when the volume has no hard links.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "devsim/FileChanges.h"
#include "platform/Files.h"
#include "platform/Sha1.h"
#include "platform/Volumes.h"
#include "store/Catalogue.h"
#include "store/DataCategory.h"
#include "tests/restore/RestoreFixture.h"

namespace restoretest {
using Lines = std::vector<std::string>;
}

namespace restoretest {
namespace {

namespace fs = std::filesystem;
using tolvane::Full;
using tolvane::SeedOutcome;

// Every file below a folder: relative path → SHA-1 of its bytes.
std::map<std::string, std::string> Digests(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) {
            out[fs::relative(e.path(), root).generic_string()] =
                platform::HexLower(platform::Sha1Of(testenv::ReadFile(e.path().string())));
        }
    }
    return out;
}

// The hashed files of a device folder (not the manifests, Status.plist or Info.plist, whose dates
// differ from run to run).
std::map<std::string, std::string> StoredDigests(const std::string& device) {
    std::map<std::string, std::string> out = Digests(device);
    for (const char* n :
         {"Manifest.mbdb", "Manifest.db", "Manifest.plist", "Status.plist", "Info.plist"}) {
        out.erase(n);
    }
    // What a staging folder may still hold (a dated Status.plist) is no file of the backup.
    for (auto it = out.begin(); it != out.end();) {
        it = it->first.rfind("Snapshot/", 0) == 0 ? out.erase(it) : std::next(it);
    }
    return out;
}

// The names whose digests differ between two listings, or that only one holds.
Lines DifferingNames(const std::map<std::string, std::string>& a,
                     const std::map<std::string, std::string>& b) {
    Lines out;
    for (const auto& [name, digest] : a) {
        const auto it = b.find(name);
        if (it == b.end() || it->second != digest) {
            out.push_back(name);
        }
    }
    for (const auto& [name, digest] : b) {
        if (a.count(name) == 0) {
            out.push_back(name);
        }
    }
    return out;
}

// The user and application data of the phone: what a whole restore puts back (it keeps the
// phone's system files).
PhoneFiles UserFiles(const testenv::SimulatedPhone& phone) {
    PhoneFiles all = ReadPhoneFiles(phone);
    PhoneFiles out;
    for (auto& [key, bytes] : all) {
        if (key.rfind("HomeDomain/", 0) == 0 || key.rfind("MediaDomain/", 0) == 0 ||
            key.rfind("CameraRollDomain/", 0) == 0 || key.rfind("AppDomain-", 0) == 0) {
            out.emplace(key, std::move(bytes));
        }
    }
    return out;
}

// "backup sent <files> <bytes> kept <files>": the last one's sent files, or -1.
int64_t LastSentFiles(const testenv::SimulatedPhone& phone) {
    int64_t files = -1;
    for (const std::string& e : phone.Events()) {
        if (e.rfind("backup sent ", 0) == 0) {
            std::istringstream(e.substr(12)) >> files;
        }
    }
    return files;
}

class RepeatBackup : public RestoreTest {
  protected:
    void StartBigPhone(const std::vector<std::string>& faults = {}) {
        testenv::PhoneOptions options;
        options.mediaMb = 3;
        options.apps = 60;  // a few hundred files, so that 1 % is a handful
        StartPhone(options, faults);
    }
    devsim::FileChangeCounts Change(double share, uint64_t round) {
        devsim::FileChangeCounts counts;
        std::string error;
        EXPECT_TRUE(
            devsim::ChangeFiles(phone_->DeviceDir() + "/files", share, round, counts, error))
            << error;
        return counts;
    }
    std::string Device(const std::string& backup) const { return backup + "/" + udid_; }
    std::vector<tolvane::BackupEntry> Catalogue() const {
        std::vector<tolvane::BackupEntry> entries;
        tolvane::ListOwnBackups(base_, entries);
        return entries;
    }
    // A full backup of the phone into a folder of its own, with no earlier backup to start from.
    std::string FreshBackup() {
        const std::string saved = base_;
        base_ = home_.Home() + "/Fresh";
        const std::string folder = OwnBackup(Full);
        base_ = saved;
        EXPECT_EQ(engine_.LastSeed().mode, SeedOutcome::Mode::None);
        return folder;
    }
};

TEST_F(RepeatBackup, SecondBackupMovesOnlyTheChangesAndSharesEverythingElse) {
    StartBigPhone();
    const std::string first = OwnBackup(Full);
    const int64_t all = LastSentFiles(*phone_);
    ASSERT_GT(all, 200);
    const auto firstDigests = Digests(first);

    const devsim::FileChangeCounts changed = Change(0.01, 11);
    ASSERT_GT(changed.Total(), 0u);
    const std::string second = OwnBackup(Full);
    ASSERT_NE(second, first);
    EXPECT_EQ(engine_.LastSeed().mode, SeedOutcome::Mode::Linked);
    EXPECT_EQ(engine_.LastSeed().from, first);
    // Only the changed and added files crossed the link.
    EXPECT_EQ(LastSentFiles(*phone_), static_cast<int64_t>(changed.changed + changed.added));

    // The first backup is byte for byte what it was.
    EXPECT_EQ(Digests(first), firstDigests);

    // Every file the two hold alike is one file on the disk; every changed one is its own.
    const auto a = StoredDigests(Device(first));
    const auto b = StoredDigests(Device(second));
    size_t shared = 0;
    size_t own = 0;
    for (const auto& [name, digest] : b) {
        const auto idB = platform::IdentityOf(Device(second) + "/" + name);
        ASSERT_TRUE(idB);
        const auto it = a.find(name);
        if (it != a.end() && it->second == digest) {
            const auto idA = platform::IdentityOf(Device(first) + "/" + name);
            ASSERT_TRUE(idA);
            EXPECT_EQ(idA->inode, idB->inode) << name;
            ++shared;
        } else {
            EXPECT_EQ(idB->links, 1u) << name;
            ++own;
        }
    }
    EXPECT_EQ(own, changed.changed + changed.added);
    EXPECT_EQ(shared + changed.changed + changed.removed, a.size());

    // The catalogue lists both; the second added only the changed files' bytes.
    std::vector<tolvane::BackupEntry> entries = Catalogue();
    ASSERT_EQ(entries.size(), 2u);
    tolvane::MeasureBackupSpace(entries);
    EXPECT_EQ(entries[0].folder, second);
    EXPECT_EQ(entries[1].newData, entries[1].size);
    EXPECT_GT(entries[0].newData, 0u);
    EXPECT_LT(entries[0].newData * 20, entries[0].size);  // under 5 %

    // A fresh full backup of the phone as it is now holds the same files.
    const std::string fresh = FreshBackup();
    EXPECT_EQ(DifferingNames(StoredDigests(Device(fresh)), b), Lines{});

    // Without the first backup the second is still whole.
    ASSERT_EQ(platform::RemoveFolderTree(first), 0);
    EXPECT_EQ(StoredDigests(Device(second)), b);
    const PhoneFiles now = UserFiles(*phone_);
    Change(0.3, 12);
    ASSERT_EQ(Restore(Full, second), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(now, UserFiles(*phone_)), Lines{});
    EXPECT_EQ(Differences(UserFiles(*phone_), now), Lines{});
}

TEST_F(RepeatBackup, EachOfThreeSuccessiveBackupsRestoresItsOwnState) {
    StartBigPhone();
    std::vector<std::string> backups;
    std::vector<PhoneFiles> states;
    std::vector<std::map<std::string, std::string>> digests;
    for (uint64_t round = 1; round <= 3; ++round) {
        states.push_back(UserFiles(*phone_));
        backups.push_back(OwnBackup(Full));
        digests.push_back(Digests(backups.back()));
        Change(0.05, round + 20);
    }
    EXPECT_EQ(engine_.LastSeed().from, backups[1]);
    for (size_t i = 0; i < 3; ++i) {
        // Later backups changed nothing in the earlier ones.
        EXPECT_EQ(Digests(backups[i]), digests[i]) << backups[i];
    }
    for (size_t i : {size_t{0}, size_t{2}, size_t{1}}) {
        ASSERT_EQ(Restore(Full, backups[i]), 0) << engine_.GetLastErrorText();
        EXPECT_EQ(Differences(states[i], UserFiles(*phone_)), Lines{}) << i;
        EXPECT_EQ(Differences(UserFiles(*phone_), states[i]), Lines{}) << i;
        Reconnect();
    }
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Digests(backups[i]), digests[i]) << backups[i];
    }
}

TEST_F(RepeatBackup, CancelledRefusedOrUnpluggedRepeatBackupLeavesTheEarlierOneAsItWas) {
    StartBigPhone();
    const std::string first = OwnBackup(Full);
    const auto before = Digests(first);
    Change(0.2, 31);

    // Cancelled at the first progress report.
    engine_.SetCategories(Full);
    engine_.SetProgressCallback(RecordProgress);
    progress_ = {};
    progress_.stopAt = 0;
    engine_.SetCallbackUserData(&progress_);
    EXPECT_EQ(engine_.RunBackup(base_, nullptr), platform::kResultCancelled);
    Reconnect();
    EXPECT_EQ(Catalogue().size(), 1u);
    EXPECT_EQ(std::distance(fs::directory_iterator(base_), fs::directory_iterator{}), 1);
    EXPECT_EQ(Digests(first), before);
    for (const auto& [name, digest] : StoredDigests(Device(first))) {
        EXPECT_EQ(platform::IdentityOf(Device(first) + "/" + name)->links, 1u) << name;
    }

    // Refused by the phone half-way through what it sends.
    phone_->Restart({"fail-backup=104:The phone gave up"});
    Reconnect();
    engine_.SetProgressCallback(nullptr);
    engine_.SetCategories(Full);
    EXPECT_NE(engine_.RunBackup(base_, nullptr), 0);
    Reconnect();
    EXPECT_EQ(Catalogue().size(), 1u);
    EXPECT_EQ(std::distance(fs::directory_iterator(base_), fs::directory_iterator{}), 1);
    EXPECT_EQ(Digests(first), before);

    // Unplugged while it sends.
    engine_.CloseDevice();
    phone_->Restart({"unplug-after-bytes=50000"});
    Connect();
    engine_.SetCategories(Full);
    EXPECT_NE(engine_.RunBackup(base_, nullptr), 0);
    engine_.CloseDevice();
    EXPECT_EQ(Catalogue().size(), 1u);
    EXPECT_EQ(std::distance(fs::directory_iterator(base_), fs::directory_iterator{}), 1);
    EXPECT_EQ(Digests(first), before);

    // The next run builds on the first backup again.
    phone_->Restart();
    Connect();
    const std::string second = OwnBackup(Full);
    EXPECT_EQ(engine_.LastSeed().from, first);
    EXPECT_EQ(Digests(first), before);
    EXPECT_EQ(Catalogue().size(), 2u);
}

// Free space as a test says.
class FixedVolumes : public platform::VolumeSource {
  public:
    explicit FixedVolumes(uint64_t free) : free_(free) {}
    std::vector<std::string> Roots() override { return {"/"}; }
    std::optional<uint64_t> FreeBytesTotal(const std::string&) override { return free_; }
    std::optional<uint64_t> FreeBytesAvailable(const std::string&) override { return free_; }

  private:
    uint64_t free_;
};

TEST_F(RepeatBackup, VolumeWithoutHardLinksCopiesWhenThereIsRoomAndStillGivesACorrectBackup) {
    StartBigPhone();
    const std::string first = OwnBackup(Full);
    const auto before = Digests(first);
    const uint64_t firstSize = [&] {
        uint64_t total = 0;
        for (const auto& e : fs::recursive_directory_iterator(first)) {
            total += e.is_regular_file() ? e.file_size() : 0;
        }
        return total;
    }();
    platform::SetHardLinksRefusedForTesting(true);
    const devsim::FileChangeCounts changed = Change(0.02, 41);

    const std::string second = OwnBackup(Full);
    EXPECT_EQ(engine_.LastSeed().mode, SeedOutcome::Mode::Copied);
    EXPECT_EQ(LastSentFiles(*phone_), static_cast<int64_t>(changed.changed + changed.added));
    for (const auto& [name, digest] : StoredDigests(Device(second))) {
        EXPECT_EQ(platform::IdentityOf(Device(second) + "/" + name)->links, 1u) << name;
    }
    const auto b = StoredDigests(Device(second));

    // Too little room for a copy to pay: the phone sends everything.
    FixedVolumes tight(firstSize * 3 / 2);
    platform::SetVolumeSourceForTesting(&tight);
    const std::string third = OwnBackup(Full);
    platform::SetVolumeSourceForTesting(nullptr);
    platform::SetHardLinksRefusedForTesting(false);
    EXPECT_EQ(engine_.LastSeed().mode, SeedOutcome::Mode::None);
    EXPECT_GT(LastSentFiles(*phone_), 200);

    const std::string fresh = FreshBackup();
    EXPECT_EQ(DifferingNames(b, StoredDigests(Device(fresh))), Lines{});
    EXPECT_EQ(DifferingNames(StoredDigests(Device(third)), b), Lines{});
    EXPECT_EQ(Digests(first), before);
}

TEST_F(RepeatBackup, EncryptedPhoneBuildsOnItsEarlierBackupAndBothRestore) {
    testenv::PhoneOptions options;
    options.mediaMb = 2;
    options.apps = 30;
    options.backupPassword = "pass";
    StartPhone(options);
    const std::string first = OwnBackup(Full, "pass");
    const auto before = Digests(first);
    const PhoneFiles state0 = UserFiles(*phone_);
    const devsim::FileChangeCounts changed = Change(0.03, 51);
    const PhoneFiles state1 = UserFiles(*phone_);
    const std::string second = OwnBackup(Full, "pass");
    EXPECT_EQ(engine_.LastSeed().mode, SeedOutcome::Mode::Linked);
    EXPECT_EQ(LastSentFiles(*phone_), static_cast<int64_t>(changed.changed + changed.added));
    EXPECT_EQ(Digests(first), before);

    ASSERT_EQ(Restore(Full, first, false, "pass", "pass"), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(state0, UserFiles(*phone_)), Lines{});
    Reconnect();
    ASSERT_EQ(Restore(Full, second, false, "pass", "pass"), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(state1, UserFiles(*phone_)), Lines{});
    EXPECT_EQ(Differences(UserFiles(*phone_), state1), Lines{});
    EXPECT_EQ(Digests(first), before);
}

TEST_F(RepeatBackup, ModernPhoneBuildsOnItsEarlierBackup) {
    testenv::PhoneOptions options;
    options.mediaMb = 2;
    options.apps = 30;
    options.productVersion = "17.5";
    StartPhone(options);
    const std::string first = OwnBackup(Full);
    const auto before = Digests(first);
    const PhoneFiles state0 = UserFiles(*phone_);
    const devsim::FileChangeCounts changed = Change(0.03, 61);
    const PhoneFiles state1 = UserFiles(*phone_);
    const std::string second = OwnBackup(Full);
    EXPECT_EQ(engine_.LastSeed().mode, SeedOutcome::Mode::Linked);
    EXPECT_EQ(LastSentFiles(*phone_), static_cast<int64_t>(changed.changed + changed.added));
    EXPECT_EQ(Digests(first), before);
    const auto b = StoredDigests(Device(second));
    EXPECT_EQ(DifferingNames(StoredDigests(Device(FreshBackup())), b), Lines{});

    // Each backup puts back its own state, the earlier one untouched by the later.
    ASSERT_EQ(Restore(Full, first), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(state0, UserFiles(*phone_)), Lines{});
    Reconnect();
    ASSERT_EQ(Restore(Full, second), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(Differences(state1, UserFiles(*phone_)), Lines{});
    EXPECT_EQ(Digests(first), before);
}

}  // namespace
}  // namespace restoretest
