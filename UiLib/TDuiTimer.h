// A periodic timer bound to a member function. The function runs on the timer's own thread (like
// a multimedia timer), so it must take the locks it needs.
//
// Stop never waits: it may be called from any thread, under any lock, also from the tick itself.
// Once it has returned no further tick starts; a tick already running goes on to its end (a tick
// that must not act after a stop checks IsRunning under the lock its stopper held). Wait blocks
// until no tick runs; call it outside the locks a tick takes, before freeing what the tick uses.
// Ticks never overlap, and Start after Stop runs the timer again.
//
// Tests fire ticks by hand: FireForTesting runs one tick on the timer thread now and waits for it;
// SetManualForTesting(true) keeps every timer of the process from ticking on its own, and
// FireAllForTesting ticks every running timer once (for timers hidden inside windows).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace UiLib {

class DuiTimerCore {
  public:
    explicit DuiTimerCore(std::function<void()> tick);
    // Stops the timer and waits for a running tick (unless called from the tick itself).
    ~DuiTimerCore();
    DuiTimerCore(const DuiTimerCore&) = delete;
    DuiTimerCore& operator=(const DuiTimerCore&) = delete;

    // Starts (or restarts) the timer; the first tick comes one period later.
    void Start(std::chrono::milliseconds period);
    void Stop();
    bool IsRunning() const;
    // Blocks until no tick is running; returns at once on the timer's own thread.
    void Wait() const;
    // Runs one tick now on the timer thread and waits until it has ended. False when the timer
    // is stopped (a stopped timer does not tick) or the tick did not end within `timeout`.
    bool FireForTesting(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // How many ticks have ended since construction.
    uint64_t TickCount() const;

    static void SetManualForTesting(bool manual);
    static bool IsManualForTesting();
    // Fires every running timer of the process once; returns how many ticked.
    static int FireAllForTesting(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    struct State;  // shared with the timer thread (TDuiTimer.cpp)

  private:
    static void Run(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
    std::thread thread_;
};

template <class T>
class TDuiTimer {
  public:
    using Method = void (T::*)();

    TDuiTimer(T* object, Method method, std::chrono::milliseconds period)
        : period_(period), core_([object, method] { (object->*method)(); }) {}

    void Start() { core_.Start(period_); }
    void Start(std::chrono::milliseconds period) {
        period_ = period;
        core_.Start(period_);
    }
    void Stop() { core_.Stop(); }
    bool IsRunning() const { return core_.IsRunning(); }
    void Wait() const { core_.Wait(); }
    std::chrono::milliseconds Period() const { return period_; }
    bool FireForTesting(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return core_.FireForTesting(timeout);
    }
    uint64_t TickCount() const { return core_.TickCount(); }

  private:
    std::chrono::milliseconds period_;
    DuiTimerCore core_;
};

}  // namespace UiLib
