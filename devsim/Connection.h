// One stream socket of the simulator: a usbmux client connection, which after a `Connect` carries
// the bytes of one device service. Sends and receives are all-or-nothing; a connection that was
// shut down (by the peer, an unplug or the server's stop) makes every later call fail.
#pragma once

#include <sys/uio.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace devsim {

class RateLimiter;

class Connection {
  public:
    explicit Connection(int fd);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends every byte; false when the connection failed.
    bool SendAll(const void* data, size_t size);
    // Sends the buffers in order as one stream (one system call when it can).
    bool SendV(iovec* parts, int count);
    // Receives exactly `size` bytes; false at the end of the stream or on failure.
    bool RecvAll(void* data, size_t size);
    // Receives up to `size` bytes: the count, 0 at the end of the stream, -1 on failure.
    long RecvSome(void* data, size_t size);

    // Waits until the peer closes the connection or it is shut down, dropping what arrives.
    void DrainUntilClosed();

    // True when the peer has closed its end (checked without waiting).
    bool PeerClosed() const;

    // Ends both directions; blocked calls on other threads return at once.
    void Shutdown();
    bool IsShutDown() const { return shutDown_.load(); }

    // Every later byte, in both directions, passes through `limiter` (nullptr: no cap).
    void SetRateLimiter(RateLimiter* limiter) { limiter_ = limiter; }

    int Fd() const { return fd_; }

  private:
    bool SendRaw(const void* data, size_t size);
    int fd_;
    std::atomic<bool> shutDown_{false};
    RateLimiter* limiter_ = nullptr;
};

}  // namespace devsim
