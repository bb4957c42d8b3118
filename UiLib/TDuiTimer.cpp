#include "UiLib/TDuiTimer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace UiLib {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> manualMode{false};

struct FireRequest {
    bool served = false;
    bool dropped = false;
};

}  // namespace

// Shared by the owner and the timer thread, so that a thread detached by a destructor running on
// it still has its state.
//
// Invariants (under `mutex`): a tick starts only while `running` (checked and `ticking` set in
// one critical section), so after Stop has left its critical section no tick starts; `ticking`
// is true exactly while the tick function runs; `fires` holds requests only while `running`.
struct DuiTimerCore::State {
    std::function<void()> tick;
    mutable std::mutex mutex;
    std::condition_variable wake;          // the timer thread waits here
    mutable std::condition_variable done;  // Wait and FireForTesting wait here
    bool running = false;
    bool quit = false;
    bool ticking = false;
    std::chrono::milliseconds period{1};
    Clock::time_point next;
    std::deque<std::shared_ptr<FireRequest>> fires;
    uint64_t ticksEnded = 0;
    std::thread::id thread;

    // Queues a tick by hand; null when the timer is stopped. Called with `mutex` held.
    std::shared_ptr<FireRequest> QueueFire() {
        if (!running) {
            return nullptr;
        }
        auto request = std::make_shared<FireRequest>();
        fires.push_back(request);
        wake.notify_all();
        return request;
    }
    // Waits until the request was served or dropped. True when it ticked.
    bool WaitFire(std::unique_lock<std::mutex>& lock, const std::shared_ptr<FireRequest>& request,
                  std::chrono::milliseconds timeout) const {
        done.wait_for(lock, timeout, [&] { return request->served || request->dropped; });
        return request->served;
    }
};

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<std::weak_ptr<DuiTimerCore::State>> states;
};

Registry& Timers() {
    static Registry* registry = new Registry();  // outlives timers of static objects
    return *registry;
}

}  // namespace

DuiTimerCore::DuiTimerCore(std::function<void()> tick) : state_(std::make_shared<State>()) {
    state_->tick = std::move(tick);
    std::lock_guard lock(Timers().mutex);
    std::erase_if(Timers().states, [](const auto& w) { return w.expired(); });
    Timers().states.push_back(state_);
}

DuiTimerCore::~DuiTimerCore() {
    {
        std::lock_guard lock(state_->mutex);
        state_->quit = true;
        state_->running = false;
        for (auto& f : state_->fires) {
            f->dropped = true;
        }
        state_->fires.clear();
        state_->wake.notify_all();
        state_->done.notify_all();
    }
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();  // destroyed by its own tick: the thread ends when the tick returns
        } else {
            thread_.join();
        }
    }
}

void DuiTimerCore::Start(std::chrono::milliseconds period) {
    std::lock_guard lock(state_->mutex);
    state_->running = true;
    state_->period = std::max(period, std::chrono::milliseconds(1));
    state_->next = Clock::now() + state_->period;
    if (!thread_.joinable()) {
        thread_ = std::thread(&DuiTimerCore::Run, state_);
        state_->thread = thread_.get_id();
    }
    state_->wake.notify_all();
}

void DuiTimerCore::Stop() {
    std::lock_guard lock(state_->mutex);
    state_->running = false;
    for (auto& f : state_->fires) {
        f->dropped = true;
    }
    state_->fires.clear();
    state_->wake.notify_all();
    state_->done.notify_all();
}

bool DuiTimerCore::IsRunning() const {
    std::lock_guard lock(state_->mutex);
    return state_->running;
}

void DuiTimerCore::Wait() const {
    std::unique_lock lock(state_->mutex);
    if (state_->thread == std::this_thread::get_id()) {
        return;
    }
    state_->done.wait(lock, [this] { return !state_->ticking; });
}

bool DuiTimerCore::FireForTesting(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    if (state_->thread == std::this_thread::get_id()) {
        return false;  // a tick cannot wait for another tick of its own timer
    }
    std::shared_ptr<FireRequest> request = state_->QueueFire();
    return request != nullptr && state_->WaitFire(lock, request, timeout);
}

uint64_t DuiTimerCore::TickCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->ticksEnded;
}

void DuiTimerCore::SetManualForTesting(bool manual) {
    manualMode.store(manual);
    // Wake every timer thread under its own lock, so none sleeps on the old mode.
    std::lock_guard registry(Timers().mutex);
    for (const auto& w : Timers().states) {
        if (auto s = w.lock()) {
            std::lock_guard lock(s->mutex);
            s->next = Clock::now() + s->period;
            s->wake.notify_all();
        }
    }
}

bool DuiTimerCore::IsManualForTesting() {
    return manualMode.load();
}

int DuiTimerCore::FireAllForTesting(std::chrono::milliseconds timeout) {
    std::vector<std::shared_ptr<State>> states;
    {
        std::lock_guard registry(Timers().mutex);
        for (const auto& w : Timers().states) {
            if (auto s = w.lock()) {
                states.push_back(std::move(s));
            }
        }
    }
    std::vector<std::pair<std::shared_ptr<State>, std::shared_ptr<FireRequest>>> queued;
    for (auto& s : states) {
        std::lock_guard lock(s->mutex);
        if (s->thread == std::this_thread::get_id()) {
            continue;
        }
        if (auto request = s->QueueFire()) {
            queued.emplace_back(s, std::move(request));
        }
    }
    int ticked = 0;
    for (auto& [s, request] : queued) {
        std::unique_lock lock(s->mutex);
        if (s->WaitFire(lock, request, timeout)) {
            ++ticked;
        }
    }
    return ticked;
}

void DuiTimerCore::Run(std::shared_ptr<State> s) {
    std::unique_lock lock(s->mutex);
    for (;;) {
        if (s->quit) {
            return;
        }
        std::shared_ptr<FireRequest> fire;
        bool due = false;
        const bool manual = manualMode.load();
        if (s->running) {
            if (!s->fires.empty()) {
                fire = std::move(s->fires.front());
                s->fires.pop_front();
                due = true;
            } else if (!manual && Clock::now() >= s->next) {
                due = true;
                s->next += s->period;
                const auto now = Clock::now();
                if (s->next <= now) {
                    s->next = now + s->period;  // a slow tick: no burst to catch up
                }
            }
        }
        if (!due) {
            if (s->running && !manual) {
                s->wake.wait_until(lock, s->next);
            } else {
                s->wake.wait(lock);
            }
            continue;
        }
        s->ticking = true;
        lock.unlock();
        s->tick();
        lock.lock();
        s->ticking = false;
        ++s->ticksEnded;
        if (fire) {
            fire->served = true;
        }
        s->done.notify_all();
    }
}

}  // namespace UiLib
