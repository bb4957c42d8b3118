// The periodic timer bound to a member: stopping never waits (from any thread, under a lock its
// tick needs, from the tick itself), no tick starts after Stop has returned, it starts again, and
// tests tick it by hand. Run under ThreadSanitizer too (the tsan preset).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "UiLib/TDuiTimer.h"

namespace UiLib {
namespace {

using namespace std::chrono_literals;

template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class Ticker {
  public:
    std::atomic<int> ticks{0};
    void OnTick() { ++ticks; }
};

TEST(DuiTimer, CallsTheBoundMemberUntilStoppedAndStartsAgain) {
    Ticker t;
    TDuiTimer<Ticker> timer(&t, &Ticker::OnTick, 5ms);
    EXPECT_FALSE(timer.IsRunning());
    timer.Start();
    EXPECT_TRUE(WaitFor([&] { return t.ticks >= 3; }));
    timer.Stop();
    timer.Wait();
    const int after = t.ticks;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(t.ticks, after);
    EXPECT_FALSE(timer.IsRunning());
    timer.Start(1ms);
    EXPECT_TRUE(WaitFor([&] { return t.ticks > after; }));
    EXPECT_EQ(timer.Period(), 1ms);
}

// The close of the main window: the device lock is held while the timer is stopped, and the tick
// that is running waits for that lock.
class LockedTick {
  public:
    std::mutex deviceLock;
    std::atomic<bool> entered{false};
    std::atomic<int> acted{0};
    std::atomic<int> ended{0};
    TDuiTimer<LockedTick>* timer = nullptr;
    void OnTick() {
        entered = true;
        std::lock_guard lock(deviceLock);
        if (timer->IsRunning()) {  // stopped while this tick waited: do nothing
            ++acted;
        }
        ++ended;
    }
};

TEST(DuiTimer, StopUnderALockTheRunningTickWaitsForReturnsAtOnce) {
    LockedTick owner;
    TDuiTimer<LockedTick> timer(&owner, &LockedTick::OnTick, 1ms);
    owner.timer = &timer;
    {
        std::unique_lock lock(owner.deviceLock);
        timer.Start();
        ASSERT_TRUE(WaitFor([&] { return owner.entered.load(); }));
        const auto before = std::chrono::steady_clock::now();
        timer.Stop();  // the tick is blocked on the lock held here
        EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
        EXPECT_EQ(owner.ended, 0);
    }
    timer.Wait();  // outside the lock: the running tick ends
    EXPECT_EQ(owner.ended, 1);
    EXPECT_EQ(owner.acted, 0);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(owner.ended, 1);  // and none after it
}

class CountingTick {
  public:
    std::atomic<int> started{0};
    void OnTick() {
        ++started;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
};

TEST(DuiTimer, NoTickStartsOnceStopHasReturned) {
    CountingTick owner;
    TDuiTimer<CountingTick> timer(&owner, &CountingTick::OnTick, 1ms);
    for (int round = 0; round < 80; ++round) {
        timer.Start();
        std::this_thread::sleep_for(std::chrono::microseconds(300 + 37 * (round % 40)));
        timer.Stop();
        const int atStop = owner.started;  // a tick running now was counted when it began
        timer.Wait();
        std::this_thread::sleep_for(std::chrono::microseconds(1500));
        ASSERT_EQ(owner.started, atStop) << "round " << round;
    }
    EXPECT_GT(owner.started, 0);
}

// A tick that stops its own timer, and one that destroys it.
class SelfStopping {
  public:
    std::atomic<int> ticks{0};
    std::unique_ptr<TDuiTimer<SelfStopping>> timer;
    bool destroy = false;
    void OnTick() {
        if (destroy) {
            timer.reset();
            ++ticks;
        } else {
            ++ticks;
            timer->Stop();
            timer->Wait();  // on the timer's own thread: returns at once
        }
    }
};

TEST(DuiTimer, ATickMayStopOrDestroyItsOwnTimer) {
    SelfStopping stopper;
    stopper.timer = std::make_unique<TDuiTimer<SelfStopping>>(&stopper, &SelfStopping::OnTick, 1ms);
    stopper.timer->Start();
    ASSERT_TRUE(WaitFor([&] { return stopper.ticks == 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(stopper.ticks, 1);
    EXPECT_FALSE(stopper.timer->IsRunning());

    SelfStopping destroyer;
    destroyer.destroy = true;
    destroyer.timer =
        std::make_unique<TDuiTimer<SelfStopping>>(&destroyer, &SelfStopping::OnTick, 1ms);
    destroyer.timer->Start();
    ASSERT_TRUE(WaitFor([&] { return destroyer.ticks == 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(destroyer.ticks, 1);
}

class ThreadRecorder {
  public:
    std::atomic<int> ticks{0};
    std::thread::id thread;
    void OnTick() {
        thread = std::this_thread::get_id();
        ++ticks;
    }
};

TEST(DuiTimer, TestsFireTicksByHandOnTheTimerThread) {
    ThreadRecorder owner;
    TDuiTimer<ThreadRecorder> timer(&owner, &ThreadRecorder::OnTick, 1h);
    EXPECT_FALSE(timer.FireForTesting());  // not started: no tick
    EXPECT_EQ(owner.ticks, 0);
    timer.Start();
    EXPECT_TRUE(timer.FireForTesting());
    EXPECT_EQ(owner.ticks, 1);  // it has run when the call returns
    EXPECT_NE(owner.thread, std::this_thread::get_id());
    EXPECT_EQ(timer.TickCount(), 1u);
    timer.Stop();
    EXPECT_FALSE(timer.FireForTesting());
    EXPECT_EQ(owner.ticks, 1);
}

TEST(DuiTimer, ManualModeStopsTimersTickingOnTheirOwn) {
    Ticker a;
    Ticker b;
    TDuiTimer<Ticker> ta(&a, &Ticker::OnTick, 1ms);
    TDuiTimer<Ticker> tb(&b, &Ticker::OnTick, 1ms);
    DuiTimerCore::SetManualForTesting(true);
    ta.Start();
    tb.Start();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(a.ticks + b.ticks, 0);
    tb.Stop();
    EXPECT_EQ(DuiTimerCore::FireAllForTesting(), 1);  // only the running one
    EXPECT_EQ(a.ticks, 1);
    EXPECT_EQ(b.ticks, 0);
    DuiTimerCore::SetManualForTesting(false);
    EXPECT_TRUE(WaitFor([&] { return a.ticks > 3; }));
    EXPECT_EQ(b.ticks, 0);
}

}  // namespace
}  // namespace UiLib
