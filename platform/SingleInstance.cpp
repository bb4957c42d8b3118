#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Files.h"
#include "platform/Folders.h"

namespace platform {
namespace {

bool FillAddress(const std::string& path, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

SingleInstance::SingleInstance(std::string name) : name_(std::move(name)) {}

SingleInstance::~SingleInstance() {
    if (listener_.joinable()) {
        const char byte = 0;
        if (WriteAll(stopWrite_.get(), &byte, 1) != 0) {
            std::fprintf(stderr, "SingleInstance: cannot stop the listener\n");
        }
        listener_.join();
    }
    if (listenFd_.get() >= 0) {
        listenFd_.Reset();
        unlink(SocketPath().c_str());
    }
    // Closing the lock file (lockFd_ goes last, as a member) releases the lock.
}

std::string SingleInstance::LockPath() const {
    return RuntimeFolder() + "/" + name_ + ".lock";
}

std::string SingleInstance::SocketPath() const {
    return RuntimeFolder() + "/" + name_ + ".sock";
}

bool SingleInstance::IsAnotherInstanceRunning() {
    if (lockFd_.get() >= 0) {
        return false;
    }
    UniqueFd fd(open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        return false;
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK;
    }
    lockFd_.Reset(fd.Release());
    return false;
}

void SingleInstance::ListenForShowRequests(std::function<void()> onShow) {
    if (lockFd_.get() < 0 || listener_.joinable()) {
        return;
    }
    sockaddr_un addr{};
    const std::string path = SocketPath();
    if (!FillAddress(path, addr)) {
        return;
    }
    UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        return;
    }
    unlink(path.c_str());  // a socket left by a crashed first instance; we hold the lock now
    int stop[2] = {-1, -1};
    if (bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd.get(), 4) != 0 || pipe2(stop, O_CLOEXEC) != 0) {
        return;
    }
    stopRead_.Reset(stop[0]);
    stopWrite_.Reset(stop[1]);
    listenFd_.Reset(fd.Release());
    listener_ = std::thread([this, onShow = std::move(onShow)] {
        for (;;) {
            pollfd fds[2] = {{listenFd_.get(), POLLIN, 0}, {stopRead_.get(), POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            const UniqueFd client(accept4(listenFd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client.get() < 0) {
                continue;
            }
            char buf[16];
            const ssize_t n = read(client.get(), buf, sizeof buf);
            if (n >= 4 && std::memcmp(buf, "show", 4) == 0) {
                onShow();
                // A later instance that has stopped waiting for the answer is no fault of ours.
                (void)WriteAll(client.get(), "ok", 2);
            }
        }
    });
}

bool SingleInstance::AskFirstInstanceToShow() {
    sockaddr_un addr{};
    if (!FillAddress(SocketPath(), addr)) {
        return false;
    }
    const UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        return false;
    }
    bool ok = false;
    if (connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        send(fd.get(), "show", 4, MSG_NOSIGNAL) == 4) {
        pollfd pfd{fd.get(), POLLIN, 0};
        char buf[2];
        ok = poll(&pfd, 1, 2000) == 1 && read(fd.get(), buf, 2) == 2;
    }
    return ok;
}

}  // namespace platform
