// The advisory locks of the AFC media area (flock semantics): per path, one exclusive holder or
// any number of shared holders. A holder is one open AFC file handle. The sync lock fault puts
// "another program" among the holders of the sync lock file.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "devsim/Faults.h"

namespace devsim {

inline constexpr char kSyncLockPath[] = "/com.apple.itunes.lock_sync";

class AfcLocks {
  public:
    explicit AfcLocks(const Faults& faults);

    enum class Result { Locked, WouldBlock, Cancelled };

    // A new holder identity for an open file handle.
    uint64_t NewOwner();

    // Takes the lock on `path` (a normalised media path such as "/com.apple.itunes.lock_sync").
    // Without `wait` a held lock gives WouldBlock at once; with it the call waits until the lock
    // is free or `cancelled` returns true (checked at least every 100 ms).
    Result Lock(const std::string& path, uint64_t owner, bool exclusive, bool wait,
                const std::function<bool()>& cancelled);
    // Drops whatever `owner` holds on `path`.
    void Unlock(const std::string& path, uint64_t owner);

    // Wakes waiting callers so that they look at their cancel condition again.
    void Wake();

  private:
    struct Entry {
        uint64_t exclusive = 0;
        std::set<uint64_t> shared;
    };
    bool HeldByOtherProgramLocked(const std::string& path);
    bool CanTakeLocked(const std::string& path, uint64_t owner, bool exclusive);

    const bool heldForever_;
    const std::optional<uint64_t> heldSeconds_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Entry> entries_;
    uint64_t nextOwner_ = 1;
    std::optional<std::chrono::steady_clock::time_point> otherReleasesAt_;
};

}  // namespace devsim
