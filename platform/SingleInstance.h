// Keeps the application to one running instance: an exclusive lock on a file in the runtime
// folder, plus a unix socket there on which the first instance is asked to show itself.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/Handles.h"

namespace platform {

class SingleInstance {
  public:
    // `name` names the lock file and the socket inside RuntimeFolder().
    explicit SingleInstance(std::string name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock. True when another process holds it already. When the lock file cannot be
    // made at all, start-up goes on as for a first instance (false).
    bool IsAnotherInstanceRunning();

    // First instance: calls `onShow` (on a listener thread) whenever a later instance asks.
    void ListenForShowRequests(std::function<void()> onShow);

    // Later instance: asks the first one to show itself. False when nobody answered.
    bool AskFirstInstanceToShow();

    std::string LockPath() const;
    std::string SocketPath() const;

  private:
    std::string name_;
    UniqueFd lockFd_;  // held: the lock is ours
    UniqueFd listenFd_;
    UniqueFd stopRead_;  // a byte on the stop pipe ends the listener
    UniqueFd stopWrite_;
    std::thread listener_;
};

}  // namespace platform
