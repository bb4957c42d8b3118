#include "UiLib/UiLock.h"

#include <vector>

namespace UiLib {
namespace {

std::recursive_mutex& Mutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

thread_local int depth = 0;
thread_local std::vector<std::function<void()>>* deferred = nullptr;

}  // namespace

UiGuard::UiGuard() {
    Mutex().lock();
    ++depth;
}

UiGuard::~UiGuard() {
    --depth;
    Mutex().unlock();
    if (depth == 0 && deferred != nullptr) {
        // Handlers may raise further notifications; they run in order until none are left.
        while (deferred != nullptr && !deferred->empty()) {
            std::vector<std::function<void()>> batch;
            batch.swap(*deferred);
            for (auto& fn : batch) {
                fn();
            }
        }
        delete deferred;
        deferred = nullptr;
    }
}

bool UiGuard::Held() {
    return depth > 0;
}

void UiGuard::RunUnlocked(std::function<void()> fn) {
    if (depth == 0) {
        fn();
        return;
    }
    if (deferred == nullptr) {
        deferred = new std::vector<std::function<void()>>();
    }
    deferred->push_back(std::move(fn));
}

}  // namespace UiLib
