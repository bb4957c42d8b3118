// The process asked to end from outside (SIGTERM at log-out or shut-down, SIGINT, SIGHUP): the
// application closes its window as if the user had, so the engine cleans up on its way out.
#pragma once

#include <functional>
#include <thread>

#include "platform/Handles.h"

namespace platform {

class TerminationRequests {
  public:
    // From now on the first request calls `onRequest` on a thread of its own; a second request
    // ends the process at once (exit status 128 + the signal), for a program that cannot close.
    // One object at a time per process.
    explicit TerminationRequests(std::function<void()> onRequest);
    // Puts the default handling back.
    ~TerminationRequests();
    TerminationRequests(const TerminationRequests&) = delete;
    TerminationRequests& operator=(const TerminationRequests&) = delete;

  private:
    UniqueFd read_;
    UniqueFd write_;
    std::thread listener_;
};

}  // namespace platform
