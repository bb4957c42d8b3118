// Another process of the program, as far as the operation lock goes: a child that holds the
// lock until the test releases it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/OperationLock.h"

namespace uitest {

// Another process that holds the operation lock until it is released (or the test ends).
class LockHolder {
  public:
    LockHolder() {
        const std::string path = platform::OperationLockPath();
        platform::CreateFolderWithParents(platform::AppDataFolder());
        int ready[2];
        int release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) {
            ADD_FAILURE() << "pipe";
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            // Only calls that are safe in the child of a process with threads.
            close(ready[0]);
            close(release[1]);
            const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0 || flock(fd, LOCK_EX) != 0) {
                _exit(1);
            }
            char c = 'x';
            if (write(ready[1], &c, 1) != 1) {
                _exit(1);
            }
            while (read(release[0], &c, 1) > 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        release_ = release[1];
        char c = 0;
        held_ = read(ready[0], &c, 1) == 1;
        close(ready[0]);
    }
    ~LockHolder() { Release(); }
    bool Held() const { return held_; }
    void Release() {
        if (release_ >= 0) {
            close(release_);
            release_ = -1;
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }

  private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool held_ = false;
};

}  // namespace uitest
