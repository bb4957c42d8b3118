// The simulator's deterministic random source (SplitMix64): the same seed gives the same phone on
// every machine, which std:: distributions do not promise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devsim {

class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed ^ 0x5DEECE66DULL) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // A number in [0, n); 0 when n is 0.
    uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
    // A number in [lo, hi].
    int64_t Between(int64_t lo, int64_t hi) {
        return lo + static_cast<int64_t>(Below(static_cast<uint64_t>(hi - lo) + 1));
    }
    bool Chance(unsigned percent) { return Below(100) < percent; }

    template <typename T>
    const T& Pick(const std::vector<T>& items) {
        return items[Below(items.size())];
    }

    std::string Bytes(size_t n) {
        std::string out(n, '\0');
        for (size_t i = 0; i < n; i += 8) {
            const uint64_t v = Next();
            for (size_t j = 0; j < 8 && i + j < n; ++j) {
                out[i + j] = static_cast<char>((v >> (8 * j)) & 0xFF);
            }
        }
        return out;
    }
    std::string Hex(size_t digits, bool upper = false) {
        static const char kLower[] = "0123456789abcdef";
        static const char kUpper[] = "0123456789ABCDEF";
        std::string out;
        for (size_t i = 0; i < digits; ++i) {
            out += (upper ? kUpper : kLower)[Below(16)];
        }
        return out;
    }
    std::string Digits(size_t n) {
        std::string out;
        for (size_t i = 0; i < n; ++i) {
            out += static_cast<char>('0' + Below(10));
        }
        return out;
    }
    // An upper-case UUID in 8-4-4-4-12 form (version 4 layout).
    std::string Uuid() {
        return Hex(8, true) + "-" + Hex(4, true) + "-4" + Hex(3, true) + "-" +
               std::string(1, "89AB"[Below(4)]) + Hex(3, true) + "-" + Hex(12, true);
    }

  private:
    uint64_t state_;
};

}  // namespace devsim
