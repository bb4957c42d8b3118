// The one lock that guards every control tree of the process.
//
// Worker threads may change controls (texts, values, visibility, items) while the user interface
// thread lays out and paints; both take this lock. Notifications raised while the lock is held are
// not delivered at once: they wait until the thread's outermost guard is released, so handlers
// never run under the lock (a handler may take its own locks, show a modal window, or change
// controls without ordering problems against workers that hold their locks and then change a
// control).
#pragma once

#include <functional>
#include <mutex>

namespace UiLib {

class UiGuard {
  public:
    UiGuard();
    ~UiGuard();
    UiGuard(const UiGuard&) = delete;
    UiGuard& operator=(const UiGuard&) = delete;

    // True when the calling thread holds the lock.
    static bool Held();
    // Runs `fn` now when the lock is not held by this thread, else when its outermost guard ends.
    static void RunUnlocked(std::function<void()> fn);
};

}  // namespace UiLib
