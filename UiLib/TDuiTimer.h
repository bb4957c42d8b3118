// A periodic timer bound to a member function. The function runs on the timer's own thread (like
// a multimedia timer), so it must take the locks it needs; Stop waits for a call in progress.
#pragma once

#include <chrono>

#include "platform/Timer.h"

namespace UiLib {

template <class T>
class TDuiTimer {
  public:
    using Method = void (T::*)();

    TDuiTimer(T* object, Method method, std::chrono::milliseconds period)
        : object_(object), method_(method), period_(period) {}
    TDuiTimer(const TDuiTimer&) = delete;
    TDuiTimer& operator=(const TDuiTimer&) = delete;
    ~TDuiTimer() { Stop(); }

    // Starts (or restarts) the timer; the first call comes one period later.
    void Start() {
        T* object = object_;
        Method method = method_;
        timer_.Start(period_, [object, method] { (object->*method)(); });
    }
    void Start(std::chrono::milliseconds period) {
        period_ = period;
        Start();
    }
    void Stop() { timer_.Stop(); }
    bool IsRunning() const { return timer_.IsRunning(); }
    std::chrono::milliseconds Period() const { return period_; }

  private:
    T* object_;
    Method method_;
    std::chrono::milliseconds period_;
    platform::PeriodicTimer timer_;
};

}  // namespace UiLib
