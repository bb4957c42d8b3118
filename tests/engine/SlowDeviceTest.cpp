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
