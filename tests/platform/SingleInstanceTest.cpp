#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/SingleInstance.h"
#include "tests/support/TestEnv.h"

using namespace platform;

TEST(SingleInstance, SecondHolderSeesTheFirstAndCanAskItToShow) {
    testenv::IsolatedHome home;
    SingleInstance first("Tolvane_test");
    ASSERT_FALSE(first.IsAnotherInstanceRunning());
    std::atomic<int> shown{0};
    first.ListenForShowRequests([&] { ++shown; });

    // flock is per open file, so a second object in this process behaves like a second process.
    SingleInstance second("Tolvane_test");
    EXPECT_TRUE(second.IsAnotherInstanceRunning());
    EXPECT_TRUE(second.AskFirstInstanceToShow());
    EXPECT_EQ(shown.load(), 1);
}

TEST(SingleInstance, LockIsFreedWhenTheHolderEnds) {
    testenv::IsolatedHome home;
    {
        SingleInstance first("Tolvane_test");
        ASSERT_FALSE(first.IsAnotherInstanceRunning());
    }
    SingleInstance again("Tolvane_test");
    EXPECT_FALSE(again.IsAnotherInstanceRunning());
    // Nobody listens: asking fails quickly instead of hanging.
    SingleInstance other("Tolvane_other");
    EXPECT_FALSE(other.AskFirstInstanceToShow());
}

TEST(SingleInstance, AnotherProcessIsSeen) {
    testenv::IsolatedHome home;
    SingleInstance first("Tolvane_test");
    ASSERT_FALSE(first.IsAnotherInstanceRunning());
    const pid_t pid = fork();
    if (pid == 0) {
        SingleInstance child("Tolvane_test");
        _exit(child.IsAnotherInstanceRunning() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
