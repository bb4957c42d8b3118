// The media area's lock table (flock semantics, the sync-lock fault) and AFC path jailing.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "devsim/AfcLocks.h"
#include "devsim/AfcService.h"

namespace devsim {
namespace {

TEST(AfcLocksTest, ExclusiveAndSharedFollowFlock) {
    AfcLocks locks{Faults{}};
    const uint64_t a = locks.NewOwner();
    const uint64_t b = locks.NewOwner();
    const std::string path = "/x";
    EXPECT_EQ(locks.Lock(path, a, true, false, nullptr), AfcLocks::Result::Locked);
    // Taking it again is no conflict for the holder itself.
    EXPECT_EQ(locks.Lock(path, a, true, false, nullptr), AfcLocks::Result::Locked);
    EXPECT_EQ(locks.Lock(path, b, true, false, nullptr), AfcLocks::Result::WouldBlock);
    EXPECT_EQ(locks.Lock(path, b, false, false, nullptr), AfcLocks::Result::WouldBlock);
    // Another path is independent.
    EXPECT_EQ(locks.Lock("/y", b, true, false, nullptr), AfcLocks::Result::Locked);
    locks.Unlock(path, a);
    EXPECT_EQ(locks.Lock(path, b, false, false, nullptr), AfcLocks::Result::Locked);
    EXPECT_EQ(locks.Lock(path, a, false, false, nullptr), AfcLocks::Result::Locked);
    // Two shared holders keep an exclusive request out until both are gone.
    EXPECT_EQ(locks.Lock(path, a, true, false, nullptr), AfcLocks::Result::WouldBlock);
    locks.Unlock(path, b);
    EXPECT_EQ(locks.Lock(path, a, true, false, nullptr), AfcLocks::Result::Locked);
}

TEST(AfcLocksTest, WaitingLockGetsItWhenReleasedOrIsCancelled) {
    AfcLocks locks{Faults{}};
    const uint64_t a = locks.NewOwner();
    const uint64_t b = locks.NewOwner();
    ASSERT_EQ(locks.Lock("/x", a, true, false, nullptr), AfcLocks::Result::Locked);
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        locks.Unlock("/x", a);
    });
    EXPECT_EQ(locks.Lock("/x", b, true, true, [] { return false; }), AfcLocks::Result::Locked);
    releaser.join();
    EXPECT_EQ(locks.Lock("/x", a, true, true, [] { return true; }), AfcLocks::Result::Cancelled);
}

TEST(AfcLocksTest, OtherProgramHoldsOnlyTheSyncLock) {
    Faults forever;
    forever.lockHeldForever = true;
    AfcLocks locks{forever};
    const uint64_t a = locks.NewOwner();
    EXPECT_EQ(locks.Lock(kSyncLockPath, a, true, false, nullptr), AfcLocks::Result::WouldBlock);
    EXPECT_EQ(locks.Lock(kSyncLockPath, a, false, false, nullptr), AfcLocks::Result::WouldBlock);
    EXPECT_EQ(locks.Lock("/Books/iBooksData2.plist", a, true, false, nullptr),
              AfcLocks::Result::Locked);

    Faults briefly;
    briefly.lockHeldSeconds = 0;  // released as soon as asked for
    AfcLocks released{briefly};
    EXPECT_EQ(released.Lock(kSyncLockPath, released.NewOwner(), true, false, nullptr),
              AfcLocks::Result::Locked);
}

TEST(AfcPathTest, PathsStayInsideTheMediaArea) {
    EXPECT_EQ(NormalizeAfcPath("/Books/iBooksData2.plist"), "/Books/iBooksData2.plist");
    EXPECT_EQ(NormalizeAfcPath("Books//./iBooksData2.plist"), "/Books/iBooksData2.plist");
    EXPECT_EQ(NormalizeAfcPath("/../../etc/passwd"), "/etc/passwd");
    EXPECT_EQ(NormalizeAfcPath("/a/b/../../../c"), "/c");
    EXPECT_EQ(NormalizeAfcPath(""), "/");
    EXPECT_EQ(NormalizeAfcPath("/.."), "/");
}

}  // namespace
}  // namespace devsim
