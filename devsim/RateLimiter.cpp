#include "devsim/RateLimiter.h"

#include <algorithm>
#include <thread>

namespace devsim {

RateLimiter::RateLimiter(double bytesPerSecond)
    : rate_(bytesPerSecond),
      // About 20 ms worth of bytes, at least 16 KiB: small enough that the cap holds over short
      // stretches, large enough that a fast cap does not sleep for every block.
      burst_(std::max<uint64_t>(16 * 1024, static_cast<uint64_t>(bytesPerSecond / 50))),
      tokens_(static_cast<double>(burst_)),
      last_(Clock::now()) {}

void RateLimiter::Acquire(uint64_t bytes) {
    double debt = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const Clock::time_point now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - last_).count();
        last_ = now;
        tokens_ = std::min(static_cast<double>(burst_), tokens_ + elapsed * rate_);
        tokens_ -= static_cast<double>(bytes);
        if (tokens_ < 0) {
            debt = -tokens_;
        }
    }
    if (debt > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(debt / rate_));
    }
}

}  // namespace devsim
