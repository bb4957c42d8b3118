#include "platform/Termination.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::atomic<int>& value, int expected) {
    for (int i = 0; i < 200 && value.load() != expected; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    return value.load() == expected;
}

TEST(TerminationRequests, ASignalReachesTheCallbackOnItsThreadAndTheDefaultComesBack) {
    std::atomic<int> calls{0};
    std::thread::id caller;
    {
        platform::TerminationRequests requests([&] {
            caller = std::this_thread::get_id();
            ++calls;
        });
        ASSERT_EQ(raise(SIGTERM), 0);  // the process goes on
        ASSERT_TRUE(WaitFor(calls, 1));
        EXPECT_NE(caller, std::this_thread::get_id());
    }
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    // A new object starts counting again: its first request is a first one too.
    platform::TerminationRequests again([&] { ++calls; });
    ASSERT_EQ(raise(SIGHUP), 0);
    EXPECT_TRUE(WaitFor(calls, 2));
}

TEST(TerminationRequests, ASecondRequestEndsTheProcessAtOnce) {
    EXPECT_EXIT(
        {
            platform::TerminationRequests requests([] {});
            raise(SIGINT);
            raise(SIGINT);
            std::this_thread::sleep_for(5s);
            std::exit(0);
        },
        ::testing::ExitedWithCode(128 + SIGINT), "");
}

}  // namespace
