#include "devsim/Connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "devsim/RateLimiter.h"

namespace devsim {

Connection::Connection(int fd) : fd_(fd) {}

Connection::~Connection() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool Connection::SendRaw(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = send(fd_, p, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool Connection::SendAll(const void* data, size_t size) {
    if (limiter_ == nullptr) {
        return SendRaw(data, size);
    }
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const size_t piece = std::min<uint64_t>(size, limiter_->Burst());
        limiter_->Acquire(piece);
        if (!SendRaw(p, piece)) {
            return false;
        }
        p += piece;
        size -= piece;
    }
    return true;
}

bool Connection::SendV(iovec* parts, int count) {
    if (limiter_ != nullptr) {
        for (int i = 0; i < count; ++i) {
            if (!SendAll(parts[i].iov_base, parts[i].iov_len)) {
                return false;
            }
        }
        return true;
    }
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = parts;
        msg.msg_iovlen = static_cast<size_t>(count);
        ssize_t n = sendmsg(fd_, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        // Skip what went out, leaving the rest of a partly sent buffer at the front.
        while (count > 0 && static_cast<size_t>(n) >= parts->iov_len) {
            n -= static_cast<ssize_t>(parts->iov_len);
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<char*>(parts->iov_base) + n;
            parts->iov_len -= static_cast<size_t>(n);
        }
    }
    return true;
}

long Connection::RecvSome(void* data, size_t size) {
    if (limiter_ != nullptr) {
        size = std::min<uint64_t>(size, limiter_->Burst());
    }
    for (;;) {
        const ssize_t n = recv(fd_, data, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n > 0 && limiter_ != nullptr) {
            limiter_->Acquire(static_cast<uint64_t>(n));
        }
        return n < 0 ? -1 : static_cast<long>(n);
    }
}

bool Connection::RecvAll(void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const long n = RecvSome(p, size);
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void Connection::DrainUntilClosed() {
    std::vector<char> sink(64 * 1024);
    for (;;) {
        const ssize_t n = recv(fd_, sink.data(), sink.size(), 0);
        if (n == 0 || (n < 0 && errno != EINTR)) {
            return;
        }
    }
}

bool Connection::PeerClosed() const {
    pollfd p{fd_, POLLRDHUP, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void Connection::Shutdown() {
    shutDown_.store(true);
    shutdown(fd_, SHUT_RDWR);
}

}  // namespace devsim
