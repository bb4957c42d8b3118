#include "platform/Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
// Lock-free atomics are async-signal-safe.
std::atomic<int> gSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnSignal(int sig) {
    int none = 0;
    if (!gSignal.compare_exchange_strong(none, sig)) {
        _exit(128 + sig);  // asked twice: the user does not want to wait for the clean-up
    }
}

}  // namespace

InterruptFlag::InterruptFlag() {
    gSignal.store(0);
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals) {
        sigaction(sig, &action, nullptr);
    }
}

InterruptFlag::~InterruptFlag() {
    for (int sig : kSignals) {
        signal(sig, SIG_DFL);
    }
}

bool InterruptRequested() {
    return gSignal.load() != 0;
}

int InterruptSignal() {
    return gSignal.load();
}

void RequestInterrupt(int sig) {
    int none = 0;
    gSignal.compare_exchange_strong(none, sig);
}

void SetInterruptForTesting(bool on) {
    gSignal.store(on ? SIGINT : 0);
}

}  // namespace platform
