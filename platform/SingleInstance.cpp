#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
        if (stopPipe_[1] >= 0) {
            const char byte = 0;
            [[maybe_unused]] ssize_t n = write(stopPipe_[1], &byte, 1);
        }
        listener_.join();
    }
    for (int fd : {stopPipe_[0], stopPipe_[1]}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (listenFd_ >= 0) {
        close(listenFd_);
        unlink(SocketPath().c_str());
    }
    if (lockFd_ >= 0) {
        close(lockFd_);  // releases the lock
    }
}

std::string SingleInstance::LockPath() const {
    return RuntimeFolder() + "/" + name_ + ".lock";
}

std::string SingleInstance::SocketPath() const {
    return RuntimeFolder() + "/" + name_ + ".sock";
}

bool SingleInstance::IsAnotherInstanceRunning() {
    if (lockFd_ >= 0) {
        return false;
    }
    const int fd = open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return errno == EWOULDBLOCK;
    }
    lockFd_ = fd;
    return false;
}

void SingleInstance::ListenForShowRequests(std::function<void()> onShow) {
    if (lockFd_ < 0 || listener_.joinable()) {
        return;
    }
    sockaddr_un addr{};
    const std::string path = SocketPath();
    if (!FillAddress(path, addr)) {
        return;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    unlink(path.c_str());  // a socket left by a crashed first instance; we hold the lock now
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0 ||
        pipe2(stopPipe_, O_CLOEXEC) != 0) {
        close(fd);
        return;
    }
    listenFd_ = fd;
    listener_ = std::thread([this, onShow = std::move(onShow)] {
        for (;;) {
            pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            const int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                continue;
            }
            char buf[16];
            const ssize_t n = read(client, buf, sizeof buf);
            if (n >= 4 && std::memcmp(buf, "show", 4) == 0) {
                onShow();
                [[maybe_unused]] ssize_t w = write(client, "ok", 2);
            }
            close(client);
        }
    });
}

bool SingleInstance::AskFirstInstanceToShow() {
    sockaddr_un addr{};
    if (!FillAddress(SocketPath(), addr)) {
        return false;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    bool ok = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        send(fd, "show", 4, MSG_NOSIGNAL) == 4) {
        pollfd pfd{fd, POLLIN, 0};
        char buf[2];
        ok = poll(&pfd, 1, 2000) == 1 && read(fd, buf, 2) == 2;
    }
    close(fd);
    return ok;
}

}  // namespace platform
