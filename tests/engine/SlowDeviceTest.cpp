// End-to-end cases that wait on the real timeouts (label "slow").
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "engine/BackupEngine.h"
#include "platform/Strings.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::IsolatedHome;
using testenv::SimulatedPhone;

namespace {

TEST(SlowDeviceSession, LockHeldForEverIsGivenUpAfterAHundredSeconds) {
    IsolatedHome home;
    SimulatedPhone phone({}, {"lock-held=forever"});
    BackupEngine engine;
    uint8_t willEncrypt = 7;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::seconds(98));
    EXPECT_EQ(willEncrypt, 0);
    int busy = 0;
    for (const std::string& line : phone.Events()) {
        busy += line.rfind("lock busy", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(busy, 50);
    const std::vector<std::string> names = phone.Notifications();
    EXPECT_EQ(std::count(names.begin(), names.end(), "com.apple.itunes-mobdev.syncDidStart"), 0);
}

}  // namespace

namespace {

struct Stopwatch {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
};

std::vector<std::string> FilesUnder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            names.push_back(entry.path().string());
        }
    }
    return names;
}

TEST(SlowBackup, PhoneUnpluggedBetweenMessagesIsGoneAfterTheChecks) {
    IsolatedHome home;
    testenv::PhoneOptions options;
    options.mediaMb = 2;
    SimulatedPhone phone(options, {"unplug-after-messages=12"});
    BackupEngine engine;
    uint8_t willEncrypt = 0;
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    engine.SetCategories(Full);
    const std::string base = home.Home() + "/Backups";
    Stopwatch watch;
    EXPECT_EQ(engine.RunBackup(base, nullptr), platform::kResultDeviceGone);
    // Six checks 2 s apart; an unplugged phone fails each at once.
    EXPECT_GE(watch.Seconds(), 10.0);
    EXPECT_LT(watch.Seconds(), 20.0);
    EXPECT_TRUE(FilesUnder(base).empty());
    EXPECT_EQ(engine.CloseDevice(), 0);
}

int32_t CancelAfterTwentySeconds(void* userData, int32_t, int32_t) {
    return static_cast<Stopwatch*>(userData)->Seconds() > 20.0 ? 2 : 0;
}

TEST(SlowBackup, SilentPhoneCanStillBeCancelled) {
    IsolatedHome home;
    SimulatedPhone phone({}, {"silent-after-messages=8"});
    BackupEngine engine;
    uint8_t willEncrypt = 0;
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    Stopwatch watch;
    engine.SetCategories(Full);
    engine.SetProgressCallback(CancelAfterTwentySeconds);
    engine.SetCallbackUserData(&watch);
    const std::string base = home.Home() + "/Backups";
    EXPECT_EQ(engine.RunBackup(base, nullptr), platform::kResultCancelled);
    EXPECT_EQ(engine.FailureOf(platform::kResultCancelled), platform::Failure::Cancelled);
    // The library waits 30 s for a message, then the loop 2 s before it asks again.
    EXPECT_LT(watch.Seconds(), 80.0);
    EXPECT_TRUE(FilesUnder(base).empty());
}

}  // namespace

namespace {

// A phone stopped (SIGSTOP) in the middle of a run, with the default silence bound: the time from
// the stop to the error, printed, is the bound plus one of the library's receives and well under
// two minutes — for a backup and for a restore.
struct Freezer {
    SimulatedPhone* phone = nullptr;
    bool frozen = false;
    std::chrono::steady_clock::time_point at{};
};

int32_t FreezeAtFirstProgress(void* userData, int32_t, int32_t) {
    auto* f = static_cast<Freezer*>(userData);
    if (!f->frozen) {
        f->frozen = true;
        f->at = std::chrono::steady_clock::now();
        f->phone->Freeze();
    }
    return 0;
}

TEST(SlowBackup, StoppedPhoneIsGivenUpWithinTheDefaultBound) {
    IsolatedHome home;
    testenv::PhoneOptions options;
    options.mediaMb = 6;
    SimulatedPhone phone(options);
    const std::string base = home.Home() + "/Backups";
    std::string backup;
    {
        BackupEngine engine;
        uint8_t willEncrypt = 0;
        ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
        engine.SetCategories(Full);
        ASSERT_EQ(engine.RunBackup(base, nullptr), 0);
        backup = engine.LastBackupFolder();
    }
    phone.Restart({"rate=1"});
    for (const bool restore : {false, true}) {
        SCOPED_TRACE(restore ? "restore" : "backup");
        BackupEngine engine;
        uint8_t willEncrypt = 0;
        ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
        engine.SetCategories(Full);
        Freezer freezer;
        freezer.phone = &phone;
        engine.SetProgressCallback(FreezeAtFirstProgress);
        engine.SetCallbackUserData(&freezer);
        const int32_t result = restore ? engine.RunRestore(nullptr, backup, nullptr, false)
                                       : engine.RunBackup(base, nullptr);
        const auto end = std::chrono::steady_clock::now();
        ASSERT_TRUE(freezer.frozen);
        const double seconds = std::chrono::duration<double>(end - freezer.at).count();
        std::printf(
            "stopped phone (%s): the error came %.1f s after the stop (bound %lld s)\n",
            restore ? "restore" : "backup", seconds,
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::seconds>(kDefaultSilenceLimit).count()));
        EXPECT_EQ(result, platform::kResultDeviceGone);
        EXPECT_EQ(engine.FailureOf(result), platform::Failure::DeviceGone);
        EXPECT_GE(seconds, 40.0);  // the bound ends it, not something sooner
        EXPECT_LT(seconds, 90.0);
        const auto closing = std::chrono::steady_clock::now();
        engine.CloseDevice();
        EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(5));
        phone.Thaw();
        phone.Restart({"rate=1"});
    }
    EXPECT_EQ(FilesUnder(base).size(), FilesUnder(backup).size());  // the failed backup left none
}

}  // namespace
