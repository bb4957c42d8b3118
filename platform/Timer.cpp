#include "platform/Timer.h"

namespace platform {

PeriodicTimer::~PeriodicTimer() {
    Stop();
}

void PeriodicTimer::Start(std::chrono::milliseconds period, Callback callback) {
    Stop();
    std::lock_guard lock(mutex_);
    ++generation_;
    running_ = true;
    thread_ = std::thread(&PeriodicTimer::Run, this, period, std::move(callback), generation_);
}

void PeriodicTimer::Stop() {
    std::thread old;
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        running_ = false;
        old = std::move(thread_);
    }
    wake_.notify_all();
    if (old.joinable()) {
        if (old.get_id() == std::this_thread::get_id()) {
            old.detach();  // called from the callback: the thread ends when the callback returns
        } else {
            old.join();
        }
    }
}

bool PeriodicTimer::IsRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

void PeriodicTimer::Run(std::chrono::milliseconds period, Callback callback, unsigned generation) {
    auto next = std::chrono::steady_clock::now() + period;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (wake_.wait_until(lock, next, [&] { return generation_ != generation; })) {
            return;
        }
        lock.unlock();
        callback();
        lock.lock();
        if (generation_ != generation) {
            return;
        }
        next += period;
        const auto now = std::chrono::steady_clock::now();
        if (next < now) {
            next = now;  // a slow callback: do not fire a burst to catch up
        }
    }
}

}  // namespace platform
