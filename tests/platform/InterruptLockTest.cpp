// The interrupt flag of tolvanectl, the lock that keeps operations of different processes apart,
// and the removal of a whole folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Files.h"
#include "platform/Interrupt.h"
#include "platform/OperationLock.h"
#include "tests/support/TestEnv.h"

namespace {

using namespace std::chrono_literals;

// Runs `body` in a child process and returns its exit status (128 + signal when killed).
template <typename Body>
int InChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(InterruptFlag, ASignalRaisesTheFlagAndASecondEndsTheProcess) {
    // The first request only raises the flag; the process goes on and can clean up.
    EXPECT_EQ(
        InChild([] {
            const platform::InterruptFlag flag;
            if (platform::InterruptRequested()) {
                return 1;
            }
            raise(SIGTERM);
            return platform::InterruptRequested() && platform::InterruptSignal() == SIGTERM ? 7 : 2;
        }),
        7);
    // The second ends it at once with 128 + the signal.
    EXPECT_EQ(InChild([] {
                  const platform::InterruptFlag flag;
                  raise(SIGINT);
                  raise(SIGINT);
                  return 3;  // not reached
              }),
              130);
    // Without the object the signals keep their default: the process ends.
    EXPECT_EQ(InChild([] {
                  { const platform::InterruptFlag flag; }
                  raise(SIGHUP);
                  return 4;
              }),
              128 + SIGHUP);
}

TEST(OperationLock, ASecondProcessWaitsUntilTheFirstHasEnded) {
    testenv::IsolatedHome home;
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        const platform::OperationLock lock({}, {});
        char c = lock.Held() ? 'H' : 'N';
        [[maybe_unused]] ssize_t w = write(ready[1], &c, 1);
        [[maybe_unused]] ssize_t r = read(release[0], &c, 1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'H');

    // Given up while the other holds it: told once, not held.
    int waits = 0;
    int asked = 0;
    {
        const platform::OperationLock lock([&] { ++waits; }, [&] { return ++asked >= 3; });
        EXPECT_FALSE(lock.Held());
        EXPECT_TRUE(lock.GaveUp());
    }
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(asked, 3);

    // Waiting: taken once the holder lets go (here: ends), not before.
    std::atomic<bool> held{false};
    std::thread waiter([&] {
        const platform::OperationLock lock({}, {});
        held = lock.Held();
    });
    std::this_thread::sleep_for(600ms);
    EXPECT_FALSE(held.load());
    ASSERT_EQ(write(release[1], "x", 1), 1);
    waiter.join();
    EXPECT_TRUE(held.load());
    waitpid(holder, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) {
        close(fd);
    }
}

TEST(OperationLock, IsCountedWithinAProcessAndFreedWithTheLast) {
    testenv::IsolatedHome home;
    // Another process (a fork shares this one's count, so it asks the file itself).
    auto otherProcessGetsIt = [] {
        return InChild([] {
                   const int fd = open(platform::OperationLockPath().c_str(), O_RDWR);
                   return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1;
               }) == 0;
    };
    {
        const platform::OperationLock outer({}, {});
        ASSERT_TRUE(outer.Held());
        {
            // An operation inside another (a restore that decrypts) does not wait on itself.
            const platform::OperationLock inner({}, [] { return true; });
            EXPECT_TRUE(inner.Held());
        }
        EXPECT_FALSE(otherProcessGetsIt());  // still held after the inner one ended
    }
    EXPECT_TRUE(otherProcessGetsIt());
}

TEST(RemoveFolderTree, RemovesEverythingInsideButNeverFollowsALink) {
    testenv::TempDir dir;
    const std::string outside = dir / "outside";
    testenv::WriteFile(outside + "/keep", "keep");
    const std::string tree = dir / "tree";
    testenv::WriteFile(tree + "/a/b/c/file", "x");
    testenv::WriteFile(tree + "/top", "y");
    ASSERT_EQ(symlink(outside.c_str(), (tree + "/a/link").c_str()), 0);
    EXPECT_EQ(platform::RemoveFolderTree(tree), 0);
    struct stat st {};
    EXPECT_NE(lstat(tree.c_str(), &st), 0);
    EXPECT_EQ(testenv::ReadFile(outside + "/keep"), "keep");
    EXPECT_NE(platform::RemoveFolderTree(tree), 0);  // nothing there any more
}

}  // namespace
