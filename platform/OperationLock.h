// One operation at a time across every process of the program (the window program and each
// tolvanectl): the operations share folders at fixed paths (the work backup, the decryption
// tool's folders, the temporary database copies) and the phone's sync lock, so a second
// operation waits until the first has ended. The lock is an flock on a file in the application
// data folder; it is dropped by the system when its process ends, however it ends.
//
// Within one process the lock is counted: an operation that calls another (a restore that
// decrypts, an import that restores) holds it once.
#pragma once

#include <functional>
#include <string>

namespace platform {

class OperationLock {
  public:
    // Takes the lock, waiting while another process holds it: `onWait` is called once when the
    // wait begins, and `giveUp` (may be empty) is asked every 200 ms; when it returns true the
    // wait ends without the lock. Without a lock file (no folder for it) the operation goes on
    // unguarded, as Held() says.
    OperationLock(const std::function<void()>& onWait, const std::function<bool()>& giveUp);
    // The same with the program's own wait: kOperationWaitText on standard output, given up on
    // an interrupt (Interrupt.h).
    OperationLock();
    ~OperationLock();
    OperationLock(const OperationLock&) = delete;
    OperationLock& operator=(const OperationLock&) = delete;

    // True when this object holds the lock (or this process held it already).
    bool Held() const { return held_; }
    // True when the lock could not even be tried (no lock file).
    bool Unguarded() const { return unguarded_; }
    // True when the wait was given up.
    bool GaveUp() const { return !held_ && !unguarded_; }

  private:
    bool held_ = false;
    bool unguarded_ = false;
};

inline constexpr const char* kOperationWaitText =
    "Another operation of the program is running; waiting for it to end";

// The lock file: AppDataFolder() + "/tolvane-operation.lock".
std::string OperationLockPath();

}  // namespace platform
