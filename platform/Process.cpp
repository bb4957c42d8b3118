#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/Errors.h"
#include "platform/Files.h"

extern char** environ;

namespace platform {
std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                  int32_t* error) {
    int32_t ignored = 0;
    int32_t& err = error != nullptr ? *error : ignored;
    err = 0;
    if (argv.empty()) {
        err = kErrorInvalidParameter;
        return nullptr;
    }
    // The parent's ends are close-on-exec, so no later child inherits them.
    int inFds[2] = {-1, -1};
    if (pipe2(inFds, O_CLOEXEC) != 0) {
        err = LastSystemError();
        return nullptr;
    }
    UniqueFd inRead(inFds[0]);
    UniqueFd inWrite(inFds[1]);
    int outFds[2] = {-1, -1};
    if (pipe2(outFds, O_CLOEXEC) != 0) {
        err = LastSystemError();
        return nullptr;
    }
    UniqueFd outRead(outFds[0]);
    UniqueFd outWrite(outFds[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inRead.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDERR_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t empty;
    sigemptyset(&empty);
    posix_spawnattr_setsigmask(&attr, &empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attr, &defaults);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0].c_str(), &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    // The child's ends are the child's now; the parent keeps only its own.
    inRead.Reset();
    outWrite.Reset();
    if (rc != 0) {
        err = SystemErrorFromErrno(rc);
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(
        new ChildProcess(pid, inWrite.Release(), outRead.Release()));
}

ChildProcess::ChildProcess(pid_t pid, int inputFd, int outputFd)
    : pid_(pid), inputFd_(inputFd), outputFd_(outputFd) {}

ChildProcess::~ChildProcess() {
    inputFd_.Reset();
    outputFd_.Reset();
    if (!reaped_) {
        Kill();
        Wait(-1);
    }
}

bool ChildProcess::WriteInput(const std::string& data) {
    if (inputFd_.get() < 0) {
        return false;
    }
    // A child that has gone must not kill us with SIGPIPE: write with MSG-less send is not
    // available on a pipe, so block the signal for this thread while writing.
    sigset_t pipeSet;
    sigset_t old;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    const int32_t written = WriteAll(inputFd_.get(), data);
    const bool ok = written == 0;
    if (written == kErrorBrokenPipe) {
        // Take the pending SIGPIPE so it does not fire once the mask is restored.
        timespec zero{0, 0};
        sigtimedwait(&pipeSet, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

void ChildProcess::CloseInput() {
    inputFd_.Reset();
}

int ChildProcess::Peek(int timeoutMs) {
    if (outputFd_.get() < 0) {
        return -1;
    }
    pollfd pfd{outputFd_.get(), POLLIN, 0};
    int rc;
    do {
        rc = poll(&pfd, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        return -1;
    }
    if (rc == 0) {
        return 0;
    }
    int waiting = 0;
    if (ioctl(outputFd_.get(), FIONREAD, &waiting) != 0) {
        return -1;
    }
    if (waiting == 0 && (pfd.revents & (POLLHUP | POLLERR)) != 0) {
        return -1;  // every writer has closed the pipe and nothing is left
    }
    return waiting;
}

long ChildProcess::Read(char* buffer, size_t size) {
    if (outputFd_.get() < 0) {
        return -1;
    }
    for (;;) {
        const ssize_t n = read(outputFd_.get(), buffer, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return static_cast<long>(n);
    }
}

bool ChildProcess::Wait(int timeoutMs, int* exitCode) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    while (!reaped_) {
        int status = 0;
        const pid_t rc = waitpid(pid_, &status, timeoutMs < 0 ? 0 : WNOHANG);
        if (rc == pid_) {
            reaped_ = true;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (rc < 0 && errno != EINTR) {
            reaped_ = true;  // not our child any more; nothing left to wait for
            exitCode_ = -1;
            break;
        }
        if (timeoutMs >= 0) {
            if (Clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (exitCode != nullptr) {
        *exitCode = exitCode_;
    }
    return true;
}

bool ChildProcess::HasExited() {
    return Wait(0);
}

void ChildProcess::Kill() {
    if (!reaped_) {
        kill(-pid_, SIGKILL);
    }
}

}  // namespace platform
