// Backups of the simulated phone, end to end: the folders and files they leave, the catalogue, the
// sync lock, and what a failed run (cancelled, unplugged, refused, hostile) leaves behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>

#include "engine/BackupEngine.h"
#include "engine/MessageLoop.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Sha1.h"
#include "platform/Strings.h"
#include "store/Catalogue.h"
#include "tests/engine/EngineTestAccess.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::FilesUnder;
using testenv::IsolatedHome;
using testenv::PhoneOptions;
using testenv::ReadFile;
using testenv::SimulatedPhone;
namespace fs = std::filesystem;

namespace {

const char kWillStart[] = "com.apple.itunes-mobdev.syncWillStart";
const char kLockRequest[] = "com.apple.itunes-mobdev.syncLockRequest";
const char kDidStart[] = "com.apple.itunes-mobdev.syncDidStart";
const char kDidFinish[] = "com.apple.itunes-mobdev.syncDidFinish";
using Names = std::vector<std::string>;

struct ProgressLog {
    std::vector<std::pair<int32_t, int32_t>> calls;
    int32_t stopAt = -1;
};

int32_t Record(void* userData, int32_t percent, int32_t isBackup) {
    auto* log = static_cast<ProgressLog*>(userData);
    log->calls.emplace_back(percent, isBackup);
    return static_cast<int32_t>(log->calls.size()) - 1 == log->stopAt ? 2 : 0;
}

// Every file of the phone: hashed backup name -> its path in the phone's folder.
std::map<std::string, std::string> PhoneFiles(const SimulatedPhone& phone) {
    std::map<std::string, std::string> files;
    const fs::path root = phone.DeviceDir() + "/files";
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const fs::path rel = fs::relative(entry.path(), root);
        const std::string domain = rel.begin()->string();
        const std::string path = fs::relative(rel, domain).generic_string();
        files[platform::HexLower(platform::Sha1Of(domain + "-" + path))] = entry.path().string();
    }
    return files;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

platform::PlistPtr ReadPlist(const std::string& path) {
    const std::string text = ReadFile(path);
    plist_t node = nullptr;
    plist_from_memory(text.data(), static_cast<uint32_t>(text.size()), &node);
    return platform::PlistPtr(node);
}

std::string StringAt(plist_t dict, const char* key) {
    return platform::PlistString(dict != nullptr ? plist_dict_get_item(dict, key) : nullptr);
}

std::vector<BackupEntry> Catalogue(const std::string& base) {
    std::vector<BackupEntry> entries;
    ListOwnBackups(base, entries);
    return entries;
}

class BackupRunTest : public ::testing::Test {
  protected:
    void Connect(SimulatedPhone& phone) {
        uint8_t willEncrypt = 0;
        ASSERT_EQ(engine_.ConnectDevice(&willEncrypt), 0);
        udid_ = phone.Udid();
    }
    int32_t Backup(uint32_t categories, const char* password = nullptr) {
        engine_.SetCategories(categories);
        engine_.SetProgressCallback(Record);
        engine_.SetCallbackUserData(&progress_);
        engine_.SetProgressScale(100);
        return engine_.RunBackup(base_, password);
    }
    std::string WorkDeviceFolder() const { return BackupEngine::TempBackupFolder() + "/" + udid_; }

    IsolatedHome home_;
    std::string base_ = home_.Home() + "/Backups";
    BackupEngine engine_;
    ProgressLog progress_;
    std::string udid_;
};

TEST_F(BackupRunTest, FullBackupHoldsEveryFileOfThePhoneAndIsCatalogued) {
    PhoneOptions options;
    options.name = "Zoë's iPhone";
    options.mediaMb = 3;
    SimulatedPhone phone(options);
    Connect(phone);
    // An older backup, so that "listed first" means something.
    testenv::WriteFile(base_ + "/2001-01-01-00-00-00/fileinfo",
                       "8\r\n2001-01-01-00-00-00\r\nOld(iPhone 6.1)");

    ASSERT_EQ(Backup(Full), 0) << engine_.GetLastErrorText();
    const std::string folder = engine_.LastBackupFolder();
    ASSERT_EQ(platform::ParentPath(folder), base_);
    const std::string stamp = platform::BaseName(folder);
    const std::string device = folder + "/" + udid_;
    EXPECT_EQ(Entries(folder), (std::vector<std::string>{udid_, "fileinfo"}));

    // Every file of the phone, byte for byte, under its hashed name.
    const auto files = PhoneFiles(phone);
    ASSERT_GT(files.size(), 10u);
    for (const auto& [hashed, source] : files) {
        ASSERT_TRUE(platform::FileExists(device + "/" + hashed)) << source;
        EXPECT_EQ(ReadFile(device + "/" + hashed), ReadFile(source)) << source;
    }
    for (const char* name : {"Manifest.mbdb", "Manifest.plist", "Status.plist", "Info.plist"}) {
        EXPECT_TRUE(platform::FileExists(device + "/" + name)) << name;
    }
    for (const std::string& f : FilesUnder(device)) {
        EXPECT_EQ(f.find(".tolvane-receiving"), std::string::npos) << f;
    }

    platform::PlistPtr info = ReadPlist(device + "/Info.plist");
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(StringAt(info.get(), "Device Name"), "Zoë's iPhone");
    EXPECT_EQ(StringAt(info.get(), "Display Name"), "Zoë's iPhone");
    EXPECT_EQ(StringAt(info.get(), "Target Identifier"), udid_);
    EXPECT_EQ(StringAt(info.get(), "Unique Identifier"), platform::AsciiUpper(udid_));
    EXPECT_EQ(StringAt(info.get(), "Product Version"), "7.1.2");
    EXPECT_EQ(StringAt(info.get(), "Build Version"), "11D257");
    EXPECT_FALSE(StringAt(info.get(), "ICCID").empty());
    EXPECT_FALSE(StringAt(info.get(), "IMEI").empty());
    EXPECT_FALSE(StringAt(info.get(), "Phone Number").empty());
    EXPECT_EQ(ReadFile(phone.DeviceDir() + "/media/Books/iBooksData2.plist").size(), [&] {
        char* raw = nullptr;
        uint64_t n = 0;
        plist_get_data_val(plist_dict_get_item(info.get(), "iBooks Data 2"), &raw, &n);
        free(raw);
        return n;
    }());
    // Only the readable, non-empty files of the phone's iTunes folder.
    plist_t itunesFiles = plist_dict_get_item(info.get(), "iTunes Files");
    ASSERT_NE(itunesFiles, nullptr);
    size_t nonEmpty = 0;
    for (const auto& entry :
         fs::directory_iterator(phone.DeviceDir() + "/media/iTunes_Control/iTunes")) {
        nonEmpty += entry.file_size() > 0 ? 1 : 0;
    }
    EXPECT_EQ(plist_dict_get_size(itunesFiles), nonEmpty);

    EXPECT_EQ(ReadFile(folder + "/fileinfo"), "8\r\n" + stamp + "\r\nZoë's iPhone(iPhone 7.1.2)");
    const std::vector<BackupEntry> listed = Catalogue(base_);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].folder, folder);
    EXPECT_EQ(listed[0].categories, 8);
    EXPECT_EQ(listed[0].encrypted, 0);

    ASSERT_FALSE(progress_.calls.empty());
    for (const auto& [percent, isBackup] : progress_.calls) {
        EXPECT_EQ(isBackup, 1);
        EXPECT_GE(percent, 0);
        EXPECT_LE(percent, 100);
    }
    EXPECT_TRUE(FilesUnder(WorkDeviceFolder()).empty());

    // The lock was taken at connection and released by the run, once.
    EXPECT_EQ(phone.Notifications(), (Names{kWillStart, kLockRequest, kDidStart, kDidFinish}));
    engine_.CloseDevice();
    EXPECT_EQ(phone.Notifications(), (Names{kWillStart, kLockRequest, kDidStart, kDidFinish}));
}

TEST_F(BackupRunTest, InfoPlistLeavesOutWhatAPhoneWithoutCellularLacks) {
    PhoneOptions options;
    options.extraArgs = {"--no-cellular"};
    SimulatedPhone phone(options);
    Connect(phone);
    ASSERT_EQ(Backup(Full), 0) << engine_.GetLastErrorText();
    platform::PlistPtr info = ReadPlist(engine_.LastBackupFolder() + "/" + udid_ + "/Info.plist");
    ASSERT_NE(info, nullptr);
    for (const char* absent : {"ICCID", "IMEI", "Phone Number"}) {
        EXPECT_EQ(plist_dict_get_item(info.get(), absent), nullptr) << absent;
    }
    EXPECT_EQ(StringAt(info.get(), "GUID"), "---");
}

TEST_F(BackupRunTest, CategoryBackupsKeepOnlyTheDatabases) {
    SimulatedPhone phone;
    Connect(phone);
    const std::string sms = ReadFile(phone.FilePath("HomeDomain", "Library/SMS/sms.db"));
    const std::string contacts =
        ReadFile(phone.FilePath("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"));

    ASSERT_EQ(Backup(Sms | Contacts), 0) << engine_.GetLastErrorText();
    const std::string both = engine_.LastBackupFolder();
    EXPECT_EQ(Entries(both), (std::vector<std::string>{"content", "fileinfo", "sms"}));
    EXPECT_EQ(ReadFile(both + "/sms"), sms);
    EXPECT_EQ(ReadFile(both + "/content"), contacts);
    EXPECT_EQ(ReadFile(both + "/fileinfo").substr(0, 3), "6\r\n");
    EXPECT_TRUE(FilesUnder(WorkDeviceFolder()).empty());

    engine_.CloseDevice();
    Connect(phone);
    ASSERT_EQ(Backup(Contacts), 0) << engine_.GetLastErrorText();
    const std::string one = engine_.LastBackupFolder();
    EXPECT_NE(one, both);
    EXPECT_EQ(Entries(one), (std::vector<std::string>{"content", "fileinfo"}));
    EXPECT_EQ(ReadFile(one + "/content"), contacts);
    EXPECT_TRUE(FilesUnder(WorkDeviceFolder()).empty());
    EXPECT_EQ(Catalogue(base_).size(), 2u);
}

TEST_F(BackupRunTest, EncryptingPhoneNeedsItsPassword) {
    PhoneOptions options;
    options.backupPassword = "open sesame";
    SimulatedPhone phone(options);
    Connect(phone);
    ASSERT_TRUE(engine_.WillEncrypt());

    EXPECT_EQ(Backup(Full, "wrong"), -207);
    EXPECT_TRUE(phone.WillEncrypt());
    EXPECT_TRUE(Catalogue(base_).empty());
    EXPECT_TRUE(Entries(base_).empty());  // no folder was made for the refused run

    engine_.CloseDevice();
    Connect(phone);
    ASSERT_EQ(Backup(Full, "open sesame"), 0) << engine_.GetLastErrorText();
    // The backup itself is plain, and the phone has its password back afterwards.
    EXPECT_TRUE(phone.WillEncrypt());
    EXPECT_TRUE(engine_.WillEncrypt());
    EXPECT_FALSE(engine_.BackupPasswordOwed());
    const std::vector<BackupEntry> listed = Catalogue(base_);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].encrypted, 0);
}

TEST_F(BackupRunTest, CancelledRunLeavesNoFilesAndNoCatalogueEntry) {
    PhoneOptions options;
    options.mediaMb = 4;
    SimulatedPhone phone(options);
    Connect(phone);
    progress_.stopAt = 1;
    EXPECT_EQ(Backup(Full), platform::kResultCancelled);
    EXPECT_TRUE(Catalogue(base_).empty());
    // Not even the run's timestamped folder stays.
    EXPECT_EQ(Entries(base_), std::vector<std::string>{});
    EXPECT_EQ(phone.Notifications().back(), kDidFinish);
    engine_.CloseDevice();

    // The phone is usable again after the abandoned conversation.
    Connect(phone);
    progress_ = {};
    EXPECT_EQ(Backup(Sms), 0) << engine_.GetLastErrorText();
}

// The phone sends its files in long lists with no message between them: the figures go on while
// a list comes, and a cancel asked then is taken within a second, not at the list's end.
struct FiguresLog {
    std::vector<uint64_t> bytes;
    uint64_t stopAfter = 0;
    std::chrono::steady_clock::time_point askedAt{};
};

int32_t RecordFigures(void* userData, const ProgressDetails& details, int32_t) {
    auto* log = static_cast<FiguresLog*>(userData);
    log->bytes.push_back(details.bytes);
    if (details.bytes >= log->stopAfter &&
        log->askedAt == std::chrono::steady_clock::time_point{}) {
        log->askedAt = std::chrono::steady_clock::now();
        return 2;
    }
    return 0;
}

TEST_F(BackupRunTest, FiguresGoOnDuringAListOfFilesAndACancelThenIsTakenAtOnce) {
    PhoneOptions options;
    options.mediaMb = 16;
    SimulatedPhone phone(options, {"rate=2"});  // 8 s of pictures
    Connect(phone);
    FiguresLog log;
    log.stopAfter = 4'000'000;
    engine_.SetCategories(Full);
    engine_.SetDetailedProgressCallback(RecordFigures);
    engine_.SetCallbackUserData(&log);
    engine_.SetProgressScale(100);
    EXPECT_EQ(engine_.RunBackup(base_, nullptr), platform::kResultCancelled);
    const auto ended = std::chrono::steady_clock::now();
    engine_.SetDetailedProgressCallback(nullptr);
    ASSERT_NE(log.askedAt, std::chrono::steady_clock::time_point{}) << "never asked";
    EXPECT_LT(ended - log.askedAt, std::chrono::seconds(2))
        << "the rest of the list was waited for";
    // Between 1 MB and the cancel (about 1.5 s at the link's rate) the figures moved on.
    const auto during = std::count_if(log.bytes.begin(), log.bytes.end(),
                                      [](uint64_t b) { return b > 1'000'000 && b < 4'000'000; });
    EXPECT_GE(during, 2) << "figures seen: " << log.bytes.size();
    EXPECT_TRUE(Catalogue(base_).empty());
    EXPECT_EQ(Entries(base_), std::vector<std::string>{});
}

TEST_F(BackupRunTest, UnpluggedPhoneEndsTheRunWithinSeconds) {
    PhoneOptions options;
    options.mediaMb = 4;
    SimulatedPhone phone(options, {"unplug-after-bytes=1500000"});
    Connect(phone);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Backup(Full), platform::kResultDeviceGone);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(30));  // about 12 s of presence checks
    EXPECT_TRUE(Catalogue(base_).empty());
    EXPECT_EQ(Entries(base_), std::vector<std::string>{});
    EXPECT_EQ(engine_.CloseDevice(), 0);
}

TEST_F(BackupRunTest, PhoneThatHangsUpHalfWayIsNeverAFinishedBackup) {
    // Early (only Info.plist and Status.plist "new" are there) and late (the files have moved
    // into place, the snapshot is not marked finished): neither is a backup.
    for (const char* fault : {"disconnect-after-messages=8", "disconnect-after-messages=13"}) {
        SCOPED_TRACE(fault);
        IsolatedHome home;
        const std::string base = home.Home() + "/Backups";
        SimulatedPhone phone({}, {fault});
        uint8_t willEncrypt = 0;
        ASSERT_EQ(engine_.ConnectDevice(&willEncrypt), 0);
        engine_.SetCategories(Full);
        const int32_t result = engine_.RunBackup(base, nullptr);
        // Late, the reply to the phone's last request may fail first and give its own code.
        EXPECT_NE(result, 0);
        if (std::string(fault).ends_with("=8")) {
            EXPECT_EQ(result, platform::kResultDeviceGone);
            EXPECT_EQ(engine_.FailureOf(result), platform::Failure::EndedEarly);
        }
        const std::vector<std::string> events = phone.Events();
        EXPECT_NE(std::find(events.begin(), events.end(), "disconnect after-messages"),
                  events.end());
        EXPECT_TRUE(Catalogue(base).empty());
        // Nothing of the run stays: no fileinfo, no files, not its timestamped folder.
        EXPECT_EQ(Entries(base), std::vector<std::string>{});
        EXPECT_EQ(phone.Notifications().back(), kDidFinish);
        engine_.CloseDevice();
    }
}

// A phone whose backup connection closes, goes silent, or stops altogether (SIGSTOP) is given
// up as gone within the silence limit plus one library receive, and leaves no backup.
TEST_F(BackupRunTest, PhoneThatClosesFallsSilentOrStopsIsGoneWithinTheBound) {
    struct Case {
        const char* name;
        std::vector<std::string> faults;
        bool freeze;
    };
    const Case cases[] = {
        {"closed connection", {"close-after-messages=8"}, false},
        {"silent connection", {"silent-after-messages=9"}, false},
        {"stopped phone", {"rate=2"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        IsolatedHome home;
        const std::string base = home.Home() + "/Backups";
        PhoneOptions options;
        options.mediaMb = 6;
        SimulatedPhone phone(options, c.faults);
        uint8_t willEncrypt = 0;
        ASSERT_EQ(engine_.ConnectDevice(&willEncrypt), 0);
        engine_.SetCategories(Full);
        engine_.SetSilenceLimit(std::chrono::seconds(3));
        struct Watch {
            SimulatedPhone* phone;
            bool freeze;
            bool frozen = false;
            std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
        } watch{&phone, c.freeze};
        engine_.SetCallbackUserData(&watch);
        engine_.SetProgressCallback([](void* data, int32_t, int32_t) -> int32_t {
            auto* w = static_cast<Watch*>(data);
            if (w->freeze && !w->frozen) {
                w->frozen = true;
                w->phone->Freeze();
            }
            // Without a bound the run would never end: stop it so the test can fail.
            return std::chrono::steady_clock::now() - w->start > std::chrono::seconds(90) ? 9 : 0;
        });
        const auto start = std::chrono::steady_clock::now();
        const int32_t result = engine_.RunBackup(base, nullptr);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(result, platform::kResultDeviceGone);
        EXPECT_EQ(engine_.FailureOf(result), platform::Failure::DeviceGone);
        EXPECT_LT(took, std::chrono::seconds(25));
        EXPECT_EQ(watch.frozen, c.freeze);
        EXPECT_TRUE(Catalogue(base).empty());
        const auto closeStart = std::chrono::steady_clock::now();
        engine_.CloseDevice();
        EXPECT_LT(std::chrono::steady_clock::now() - closeStart, std::chrono::seconds(5));
        phone.Thaw();
        engine_.SetSilenceLimit(kDefaultSilenceLimit);
    }
}

TEST_F(BackupRunTest, RefusedBackupGivesThePhoneCodeAndText) {
    SimulatedPhone phone({}, {"fail-backup=105:Not enough free space on the device"});
    Connect(phone);
    EXPECT_EQ(Backup(Full), -105);
    EXPECT_EQ(engine_.GetLastErrorText(), "Not enough free space on the device");
    EXPECT_TRUE(Catalogue(base_).empty());
    EXPECT_EQ(Entries(base_), std::vector<std::string>{});  // the run's folder went with it

    // A category backup that fails leaves the work backup empty and makes no folder.
    engine_.CloseDevice();
    Connect(phone);
    EXPECT_EQ(Backup(Sms | Contacts), -105);
    EXPECT_EQ(Entries(base_), std::vector<std::string>{});
    EXPECT_TRUE(FilesUnder(WorkDeviceFolder()).empty());
}

TEST_F(BackupRunTest, HostileNamesNeverReachOutsideTheBackupFolder) {
    SimulatedPhone phone({}, {"hostile-names"});
    Connect(phone);
    const std::string absolute = "/tmp/tolvane-devsim-hostile-" + udid_;
    ::unlink(absolute.c_str());
    testenv::WriteFile(base_ + "/tolvane-hostile-victim", "victim");
    const int32_t result = Backup(Full);
    // The phone finished, but files it sent could not be stored: the run is not a success.
    EXPECT_NE(result, 0);
    EXPECT_TRUE(Catalogue(base_).empty());
    // Nothing appeared, moved or went; the failed run's own folder is gone.
    const std::vector<std::string> names = Entries(base_);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], "tolvane-hostile-victim");
    EXPECT_EQ(ReadFile(base_ + "/tolvane-hostile-victim"), "victim");
    EXPECT_FALSE(platform::PathExists(absolute));
    std::vector<std::string> answers;
    for (const std::string& line : phone.Events()) {
        if (line.rfind("hostile ", 0) == 0) {
            answers.push_back(line);
        }
    }
    EXPECT_EQ(answers, (std::vector<std::string>{"hostile upload refused", "hostile mkdir -13",
                                                 "hostile move -13", "hostile copy -13",
                                                 "hostile remove -13", "hostile list 0",
                                                 "hostile download refused"}));
    // The phone went on to the end of its backup.
    const std::vector<std::string> events = phone.Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "backup finished 0"), events.end());
}

TEST_F(BackupRunTest, LockHeldBrieflyIsTakenBeforeTheRunAndReleasedAfter) {
    SimulatedPhone phone({}, {"lock-held=3"});
    Connect(phone);
    ASSERT_EQ(Backup(Sms), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(phone.Notifications(), (Names{kWillStart, kLockRequest, kDidStart, kDidFinish}));
    std::vector<std::string> lock;
    for (const std::string& line : phone.Events()) {
        if (line.rfind("lock ", 0) == 0) {
            lock.push_back(line.substr(0, line.find(' ', 5)));
        }
    }
    ASSERT_GE(lock.size(), 3u);
    EXPECT_EQ(lock.front(), "lock busy");
    EXPECT_EQ(lock[lock.size() - 2], "lock acquired");
    EXPECT_EQ(lock.back(), "lock released");
}

}  // namespace

namespace {

TEST_F(BackupRunTest, SecondBackupIntoTheSameFolderBringsItUpToDate) {
    PhoneOptions options;
    options.mediaMb = 2;
    SimulatedPhone phone(options);
    Connect(phone);
    const std::string folder = home_.Home() + "/same";
    platform::CreateFolder(folder);
    ASSERT_EQ(engine_.RequestBackup(folder.c_str()), 0) << engine_.GetLastErrorText();
    const std::string device = folder + "/" + udid_;
    const auto before = PhoneFiles(phone);

    // The phone loses a picture and changes its message database.
    const std::string picture =
        phone.FilePath("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG");
    ASSERT_TRUE(platform::FileExists(picture));
    std::string gone;
    for (const auto& [hashed, source] : before) {
        if (source == picture) {
            gone = hashed;
        }
    }
    ASSERT_FALSE(gone.empty());
    platform::DeleteFile(picture);
    testenv::WriteFile(phone.FilePath("HomeDomain", "Library/SMS/sms.db"), "changed database");

    engine_.CloseDevice();
    Connect(phone);
    ASSERT_EQ(engine_.RequestBackup(folder.c_str()), 0) << engine_.GetLastErrorText();
    EXPECT_FALSE(platform::PathExists(device + "/" + gone));
    for (const auto& [hashed, source] : PhoneFiles(phone)) {
        EXPECT_EQ(ReadFile(device + "/" + hashed), ReadFile(source)) << source;
    }
    EXPECT_FALSE(platform::PathExists(device + "/Snapshot"));
    EXPECT_NE(ReadFile(device + "/Status.plist").find("finished"), std::string::npos);
}

TEST_F(BackupRunTest, TheConversationServesARestoreFromTheBackupFolder) {
    PhoneOptions options;
    options.mediaMb = 2;
    SimulatedPhone phone(options);
    Connect(phone);
    ASSERT_EQ(Backup(Full), 0) << engine_.GetLastErrorText();
    const std::string folder = engine_.LastBackupFolder();
    const std::string picture =
        phone.FilePath("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0002.JPG");
    const std::string contents = ReadFile(picture);
    platform::DeleteFile(picture);

    engine_.CloseDevice();
    Connect(phone);
    platform::PlistPtr restoreOptions(plist_new_dict());
    plist_dict_set_item(restoreOptions.get(), "RestoreSystemFiles", plist_new_bool(0));
    plist_dict_set_item(restoreOptions.get(), "RestoreDontCopyBackup", plist_new_bool(1));
    plist_dict_set_item(restoreOptions.get(), "RestorePreserveSettings", plist_new_bool(1));
    DeviceSession& session = EngineTestAccess::Session(engine_);
    RunContext& run = EngineTestAccess::Run(engine_);
    ASSERT_EQ(mobilebackup2_send_request(session.BackupClient(), "Restore", udid_.c_str(),
                                         udid_.c_str(), restoreOptions.get()),
              MOBILEBACKUP2_E_SUCCESS);
    run.SetBackupPhase(false);
    progress_ = {};
    EXPECT_EQ(RunMessageLoop(folder.c_str(), session, run), 0) << engine_.GetLastErrorText();
    EXPECT_EQ(ReadFile(picture), contents);
    const std::vector<std::string> events = phone.Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "restore finished 0"), events.end());
    ASSERT_FALSE(progress_.calls.empty());
    EXPECT_EQ(progress_.calls.back().second, 0);  // reported as the restore phase
}

}  // namespace
