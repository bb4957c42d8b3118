// A token bucket that holds a link to a given byte rate. Callers take tokens for the bytes they
// are about to move; when the bucket is in debt they sleep until it is paid off, so the average
// rate over any stretch longer than the bucket stays at the cap.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

namespace devsim {

class RateLimiter {
  public:
    explicit RateLimiter(double bytesPerSecond);
    RateLimiter(const RateLimiter&) = delete;
    RateLimiter& operator=(const RateLimiter&) = delete;

    // Takes `bytes` tokens, sleeping while the bucket is in debt.
    void Acquire(uint64_t bytes);

    double BytesPerSecond() const { return rate_; }
    // The largest piece a caller should move between two Acquire calls.
    uint64_t Burst() const { return burst_; }

  private:
    using Clock = std::chrono::steady_clock;
    const double rate_;
    const uint64_t burst_;
    std::mutex mutex_;
    double tokens_;
    Clock::time_point last_;
};

}  // namespace devsim
