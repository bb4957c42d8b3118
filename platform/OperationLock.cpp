#include "platform/OperationLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Interrupt.h"

namespace platform {

namespace {

std::mutex gMutex;  // guards the two below
int gFd = -1;
int gDepth = 0;

}  // namespace

std::string OperationLockPath() {
    return JoinPath(AppDataFolder(), "tolvane-operation.lock");
}

OperationLock::OperationLock(const std::function<void()>& onWait,
                             const std::function<bool()>& giveUp) {
    std::unique_lock lock(gMutex);
    if (gDepth > 0) {
        ++gDepth;
        held_ = true;
        return;
    }
    const std::string path = OperationLockPath();
    CreateFolderWithParents(AppDataFolder());
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        unguarded_ = true;
        return;
    }
    bool told = false;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            break;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            close(fd);
            unguarded_ = true;
            return;
        }
        if (!told) {
            told = true;
            if (onWait) {
                onWait();
            }
        }
        if (giveUp && giveUp()) {
            close(fd);
            return;
        }
        // Others of this process wait on the mutex meanwhile; they would wait on the file too.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    gFd = fd;
    gDepth = 1;
    held_ = true;
}

OperationLock::OperationLock()
    : OperationLock(
          [] {
              std::printf("%s\n", kOperationWaitText);
              std::fflush(stdout);
          },
          [] { return InterruptRequested(); }) {}

OperationLock::~OperationLock() {
    if (!held_) {
        return;
    }
    std::lock_guard lock(gMutex);
    if (--gDepth == 0) {
        flock(gFd, LOCK_UN);
        close(gFd);
        gFd = -1;
    }
}

}  // namespace platform
