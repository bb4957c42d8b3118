#include "platform/Termination.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace platform {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
std::atomic<int> requestFd{-1};
std::atomic<int> requests{0};

// Async-signal-safe: one byte on the pipe, or the end of the process at the second request.
void OnSignal(int sig) {
    if (requests.fetch_add(1) > 0) {
        _exit(128 + sig);
    }
    const int fd = requestFd.load();
    if (fd >= 0) {
        const char byte = 'T';
        [[maybe_unused]] const ssize_t n = write(fd, &byte, 1);
    }
}

}  // namespace

TerminationRequests::TerminationRequests(std::function<void()> onRequest) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return;  // no pipe: the signals keep their default handling
    }
    read_.Reset(fds[0]);
    write_.Reset(fds[1]);
    requests = 0;
    requestFd = write_.get();
    listener_ = std::thread([fd = read_.get(), onRequest = std::move(onRequest)] {
        char byte = 0;
        while (read(fd, &byte, 1) == 1) {
            if (byte == 'S') {
                return;  // the object goes
            }
            onRequest();
        }
    });
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals) {
        sigaction(sig, &action, nullptr);
    }
}

TerminationRequests::~TerminationRequests() {
    if (!listener_.joinable()) {
        return;
    }
    for (int sig : kSignals) {
        signal(sig, SIG_DFL);
    }
    requestFd = -1;
    const char stop = 'S';
    [[maybe_unused]] const ssize_t n = write(write_.get(), &stop, 1);
    listener_.join();
}

}  // namespace platform
