// End-to-end cases that wait on the real timeouts (label "slow").
#include <gtest/gtest.h>

#include <chrono>

#include "engine/BackupEngine.h"
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
