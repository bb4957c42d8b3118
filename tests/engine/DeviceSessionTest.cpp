// The device session against the simulated phone: connecting, the queries, the sync lock and its
// notifications, the encryption flag, and the password step.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/BackupEngine.h"
#include "tests/engine/EngineTestAccess.h"
#include "tests/support/SimulatedPhone.h"
#include "tests/support/TestEnv.h"

using namespace tolvane;
using testenv::IsolatedHome;
using testenv::PhoneOptions;
using testenv::ScopedEnv;
using testenv::SimulatedPhone;
using testenv::TempDir;

namespace {

const char kWillStart[] = "com.apple.itunes-mobdev.syncWillStart";
const char kLockRequest[] = "com.apple.itunes-mobdev.syncLockRequest";
const char kDidStart[] = "com.apple.itunes-mobdev.syncDidStart";
const char kDidFinish[] = "com.apple.itunes-mobdev.syncDidFinish";

using Names = std::vector<std::string>;

int Count(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& line : lines) {
        n += line.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return n;
}

TEST(DeviceSession, WithoutAPhoneThereIsNoSession) {
    IsolatedHome home;
    TempDir dir;
    ScopedEnv socket("USBMUXD_SOCKET_ADDRESS", "UNIX:" + dir.Path() + "/nobody.sock");
    BackupEngine engine;
    uint8_t willEncrypt = 7;
    EXPECT_EQ(engine.ConnectDevice(&willEncrypt), platform::kResultDeviceGone);
    EXPECT_EQ(engine.FailureOf(platform::kResultDeviceGone), platform::Failure::NoDevice);
    EXPECT_EQ(willEncrypt, 7);
    std::string value;
    EXPECT_EQ(engine.GetDeviceName(value), platform::kResultMissing);
    EXPECT_EQ(engine.GetProductVersion(value), platform::kResultMissing);
    EXPECT_EQ(engine.GetDeviceClass(value), platform::kResultMissing);
    EXPECT_FALSE(engine.IsDevicePresent());
    EXPECT_EQ(engine.CloseDevice(), 0);
}

TEST(DeviceSession, ConnectsTakesTheLockAndReadsTheDeviceValues) {
    IsolatedHome home;
    PhoneOptions options;
    options.name = "Zoë's iPhone";
    SimulatedPhone phone(options);
    BackupEngine engine;
    uint8_t willEncrypt = 7;
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    EXPECT_EQ(willEncrypt, 0);
    EXPECT_FALSE(engine.WillEncrypt());
    EXPECT_EQ(engine.Udid(), phone.Udid());
    EXPECT_EQ(engine.Udid().size(), 40u);
    EXPECT_EQ(engine.CachedDeviceName(), "Zoë's iPhone");
    EXPECT_EQ(engine.CachedDeviceClass(), "iPhone");
    EXPECT_EQ(engine.CachedProductVersion(), "7.1.2");
    EXPECT_TRUE(engine.HasBackupService());
    EXPECT_NE(EngineTestAccess::Session(engine).Afc(), nullptr);
    EXPECT_TRUE(engine.HoldsSyncLock());
    EXPECT_TRUE(engine.IsDevicePresent());
    std::string name;
    EXPECT_EQ(engine.GetDeviceName(name), 0);
    EXPECT_EQ(name, "Zoë's iPhone");
    EXPECT_EQ(phone.Notifications(), (Names{kWillStart, kLockRequest, kDidStart}));
    EXPECT_EQ(Count(phone.Events(), "lock acquired"), 1);

    EXPECT_EQ(engine.CloseDevice(), 0);
    EXPECT_FALSE(engine.HoldsSyncLock());
    EXPECT_FALSE(engine.IsDevicePresent());
    EXPECT_EQ(phone.Notifications(), (Names{kWillStart, kLockRequest, kDidStart, kDidFinish}));
    EXPECT_EQ(Count(phone.Events(), "lock released"), 1);

    // The caller's reconnect (CloseDevice, ConnectDevice) gives a new session with the lock.
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    EXPECT_TRUE(engine.HoldsSyncLock());
    EXPECT_EQ(Count(phone.Events(), "lock acquired"), 2);
}

TEST(DeviceSession, UnpluggedPhoneIsNoLongerPresent) {
    IsolatedHome home;
    SimulatedPhone phone;
    BackupEngine engine;
    uint8_t willEncrypt = 0;
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    phone.Stop();
    EXPECT_FALSE(engine.IsDevicePresent());
    EXPECT_EQ(engine.CloseDevice(), 0);  // nothing left to release on a gone phone; no hang
}

TEST(DeviceSession, LockHeldForAWhileIsTakenOnceFree) {
    IsolatedHome home;
    SimulatedPhone phone({}, {"lock-held=3"});
    BackupEngine engine;
    uint8_t willEncrypt = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::seconds(2));
    EXPECT_TRUE(engine.HoldsSyncLock());
    EXPECT_GE(Count(phone.Events(), "lock busy"), 1);
    EXPECT_EQ(Count(phone.Events(), "lock acquired"), 1);
    EXPECT_EQ(phone.Notifications(), (Names{kWillStart, kLockRequest, kDidStart}));
}

TEST(DeviceSession, LockHeldForEverIsGoneWithoutAfterTheAttempts) {
    IsolatedHome home;
    SimulatedPhone phone({}, {"lock-held=forever"});
    BackupEngine engine;
    engine.SetSyncLockRetry(4, 50);  // the full 50 x 2000 ms wait runs in the slow tests
    uint8_t willEncrypt = 0;
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    EXPECT_EQ(Count(phone.Events(), "lock busy"), 4);
    EXPECT_EQ(Count(phone.Events(), "lock acquired"), 0);
    EXPECT_EQ(phone.Notifications(), (Names{kWillStart, kLockRequest}));
    EXPECT_EQ(engine.CachedDeviceClass(), "iPhone");  // the session goes on
}

TEST(DeviceSession, EncryptionFlagFollowsTheWillEncryptValue) {
    IsolatedHome home;
    {
        PhoneOptions options;
        options.backupPassword = "secret";
        SimulatedPhone phone(options);
        BackupEngine engine;
        uint8_t willEncrypt = 0;
        ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
        EXPECT_EQ(willEncrypt, 1);
        EXPECT_TRUE(engine.WillEncrypt());
    }
    {
        SimulatedPhone phone({}, {"willencrypt=absent"});
        BackupEngine engine;
        uint8_t willEncrypt = 7;
        ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
        EXPECT_EQ(willEncrypt, 0);  // no value: not encrypting
        EXPECT_FALSE(engine.WillEncrypt());
    }
    {
        PhoneOptions options;
        options.backupPassword = "secret";
        SimulatedPhone phone(options, {"willencrypt=fail"});
        BackupEngine engine;
        uint8_t willEncrypt = 7;
        EXPECT_NE(engine.ConnectDevice(&willEncrypt), 0);
        EXPECT_EQ(willEncrypt, 1);  // a failed query leaves the flag set
        EXPECT_TRUE(engine.WillEncrypt());
    }
}

TEST(DeviceSession, ServicesThatAreMissing) {
    IsolatedHome home;
    {
        SimulatedPhone phone({}, {"backup-port-zero"});
        BackupEngine engine;
        uint8_t willEncrypt = 7;
        ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
        EXPECT_EQ(willEncrypt, 7);  // not written: no backup client, no query
        EXPECT_FALSE(engine.HasBackupService());
        EXPECT_FALSE(engine.HoldsSyncLock());
        EXPECT_TRUE(phone.Notifications().empty());
        EXPECT_EQ(engine.CachedDeviceName(), "Test iPhone");
    }
    {
        SimulatedPhone phone({}, {"afc-unavailable"});
        BackupEngine engine;
        uint8_t willEncrypt = 7;
        ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
        EXPECT_EQ(EngineTestAccess::Session(engine).Afc(), nullptr);
        EXPECT_FALSE(engine.HoldsSyncLock());
        EXPECT_EQ(phone.Notifications(), (Names{kWillStart}));  // no lock without AFC
    }
    {
        SimulatedPhone phone({}, {"np-unavailable"});
        BackupEngine engine;
        uint8_t willEncrypt = 7;
        EXPECT_EQ(engine.ConnectDevice(&willEncrypt), platform::kResultDeviceGone);
        // The same -1 as no phone at all, but a phone is there.
        EXPECT_EQ(engine.FailureOf(platform::kResultDeviceGone), platform::Failure::DeviceService);
    }
}

TEST(DeviceSession, PasswordStepRemovesTheBackupPassword) {
    IsolatedHome home;
    PhoneOptions options;
    options.backupPassword = "right one";
    SimulatedPhone phone(options);
    BackupEngine engine;
    uint8_t willEncrypt = 0;
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    ASSERT_TRUE(engine.WillEncrypt());
    EXPECT_EQ(engine.UnlockBackupPassword(nullptr), platform::kResultMissing);
    EXPECT_EQ(engine.FailureOf(platform::kResultMissing), platform::Failure::PasswordNeeded);

    const int32_t wrong = engine.UnlockBackupPassword("wrong one");
    EXPECT_EQ(wrong, -207);
    EXPECT_TRUE(engine.WillEncrypt());
    EXPECT_TRUE(phone.WillEncrypt());
    // The conversation released the sync lock.
    EXPECT_FALSE(engine.HoldsSyncLock());
    EXPECT_EQ(phone.Notifications().back(), kDidFinish);

    EXPECT_EQ(engine.UnlockBackupPassword("right one"), 0);
    EXPECT_FALSE(engine.WillEncrypt());
    EXPECT_FALSE(phone.WillEncrypt());
    EXPECT_EQ(Count(phone.Events(), "password removed"), 1);

    // A phone that no longer encrypts is not asked again.
    const size_t events = phone.Events().size();
    EXPECT_EQ(engine.UnlockBackupPassword("anything"), 0);
    EXPECT_EQ(phone.Events().size(), events);
}

// The timer thread asks whether the phone is there while another thread (the password window's)
// asks the same lockdown session; neither may garble the other's question.
TEST(DeviceSession, QueriesFromTwoThreadsTakeTurns) {
    IsolatedHome home;
    SimulatedPhone phone;
    BackupEngine engine;
    uint8_t willEncrypt = 0;
    ASSERT_EQ(engine.ConnectDevice(&willEncrypt), 0);
    constexpr int kRounds = 150;
    std::atomic<int> timerFailures{0};
    std::thread timer([&] {
        for (int i = 0; i < kRounds; ++i) {
            if (!engine.IsDevicePresent()) {
                ++timerFailures;
            }
        }
    });
    int failures = 0;
    for (int i = 0; i < kRounds; ++i) {
        std::string version;
        if (engine.GetProductVersion(version) != 0 || version != "7.1.2") {
            ++failures;
        }
    }
    timer.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(timerFailures.load(), 0);
    EXPECT_EQ(engine.CloseDevice(), 0);
}

}  // namespace

// An unplug during the connection's opening (the version exchange, the ready message, the Hello
// answer) is a clean error every time, never a crash; the test runs each point several times
// because the end races with the library's receive.
TEST(DeviceSession, UnplugWhileTheBackupServiceOpensIsACleanError) {
    IsolatedHome home;
    SimulatedPhone phone;
    for (int messages = 1; messages <= 3; ++messages) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            SCOPED_TRACE(messages);
            phone.Restart({"unplug-after-messages=" + std::to_string(messages)});
            BackupEngine engine;
            uint8_t willEncrypt = 0;
            EXPECT_NE(engine.ConnectDevice(&willEncrypt), 0);
            EXPECT_EQ(engine.CloseDevice(), 0);
        }
    }
    // The same phone, plugged in again, connects.
    phone.Restart();
    BackupEngine engine;
    uint8_t willEncrypt = 0;
    EXPECT_EQ(engine.ConnectDevice(&willEncrypt), 0);
}
