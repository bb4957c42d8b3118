#include "devsim/AfcLocks.h"

namespace devsim {

AfcLocks::AfcLocks(const Faults& faults)
    : heldForever_(faults.lockHeldForever), heldSeconds_(faults.lockHeldSeconds) {}

uint64_t AfcLocks::NewOwner() {
    std::lock_guard<std::mutex> lock(mutex_);
    return nextOwner_++;
}

bool AfcLocks::HeldByOtherProgramLocked(const std::string& path) {
    if (path != kSyncLockPath) {
        return false;
    }
    if (heldForever_) {
        return true;
    }
    if (!heldSeconds_) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    // The other program's hold is counted from the first time anyone asks for the lock, so a
    // test sees the same number of refusals however long it took to get there.
    if (!otherReleasesAt_) {
        otherReleasesAt_ = now + std::chrono::seconds(*heldSeconds_);
    }
    return now < *otherReleasesAt_;
}

bool AfcLocks::CanTakeLocked(const std::string& path, uint64_t owner, bool exclusive) {
    if (HeldByOtherProgramLocked(path)) {
        return false;
    }
    const Entry& e = entries_[path];
    if (e.exclusive != 0 && e.exclusive != owner) {
        return false;
    }
    if (exclusive) {
        for (uint64_t s : e.shared) {
            if (s != owner) {
                return false;
            }
        }
    }
    return true;
}

AfcLocks::Result AfcLocks::Lock(const std::string& path, uint64_t owner, bool exclusive, bool wait,
                                const std::function<bool()>& cancelled) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!CanTakeLocked(path, owner, exclusive)) {
        if (!wait) {
            return Result::WouldBlock;
        }
        if (cancelled && cancelled()) {
            return Result::Cancelled;
        }
        changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
    Entry& e = entries_[path];
    // A holder may convert between shared and exclusive, as flock allows.
    e.shared.erase(owner);
    if (exclusive) {
        e.exclusive = owner;
    } else {
        if (e.exclusive == owner) {
            e.exclusive = 0;
        }
        e.shared.insert(owner);
    }
    return Result::Locked;
}

void AfcLocks::Unlock(const std::string& path, uint64_t owner) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = entries_.find(path);
        if (it == entries_.end()) {
            return;
        }
        if (it->second.exclusive == owner) {
            it->second.exclusive = 0;
        }
        it->second.shared.erase(owner);
        if (it->second.exclusive == 0 && it->second.shared.empty()) {
            entries_.erase(it);
        }
    }
    changed_.notify_all();
}

void AfcLocks::Wake() {
    changed_.notify_all();
}

}  // namespace devsim
