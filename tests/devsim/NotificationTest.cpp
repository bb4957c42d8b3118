// The notification proxy: posted names land in the event log in order, and the client's shutdown
// is answered at once.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/devsim/DeviceClient.h"
#include "tests/support/SimulatedPhone.h"

namespace devsimtest {
namespace {

TEST(NotificationTest, PostedNamesAreRecordedInOrderAcrossSessions) {
    testenv::IsolatedHome home;
    testenv::PhoneOptions o;
    o.messages = 2;
    o.contacts = 1;
    o.mediaMb = 0;
    o.apps = 0;
    testenv::SimulatedPhone phone(o);
    Device device = OpenDevice();
    ASSERT_TRUE(device);
    const std::vector<std::string> names = {
        "com.apple.itunes-mobdev.syncWillStart", "com.apple.itunes-mobdev.syncLockRequest",
        "com.apple.itunes-mobdev.syncDidStart", "com.apple.itunes-mobdev.syncDidFinish"};
    // As the engine posts: a separate lockdown session and proxy client for each name.
    for (const std::string& name : names) {
        Lockdown lockdown = Handshake(device.get());
        ASSERT_TRUE(lockdown);
        Service s = Start(lockdown.get(), "com.apple.mobile.notification_proxy", false);
        ASSERT_TRUE(s);
        np_client_t np = nullptr;
        ASSERT_EQ(np_client_new(device.get(), s.get(), &np), NP_E_SUCCESS);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(np_post_notification(np, name.c_str()), NP_E_SUCCESS);
        np_client_free(np);
        // Without the proxy's answer the library waits for its own timeout of many seconds.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
    EXPECT_EQ(phone.Notifications(), names);
}

}  // namespace
}  // namespace devsimtest
