// A periodic timer on its own thread: the stand-in for the system's multimedia timer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

class PeriodicTimer {
  public:
    using Callback = std::function<void()>;

    PeriodicTimer() = default;
    ~PeriodicTimer();  // stops the timer
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;

    // Calls `callback` every `period` on the timer thread until Stop. Starting a running timer
    // restarts it with the new period and callback. The first call comes one period after Start.
    void Start(std::chrono::milliseconds period, Callback callback);

    // Stops the timer and waits for a call in progress to return, unless Stop is called from the
    // callback itself (then the timer ends after that call).
    void Stop();

    bool IsRunning() const;

  private:
    void Run(std::chrono::milliseconds period, Callback callback, unsigned generation);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
    unsigned generation_ = 0;  // changes at every Start and Stop; a thread runs while it matches
    bool running_ = false;
};

}  // namespace platform
