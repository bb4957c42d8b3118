// SHA-1 digests (OpenSSL's EVP interface), streamed so that a file of any size costs one buffer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

using Sha1Digest = std::array<uint8_t, 20>;

class Sha1 {
  public:
    Sha1();
    ~Sha1();
    Sha1(const Sha1&) = delete;
    Sha1& operator=(const Sha1&) = delete;
    void Update(const void* data, size_t size);
    void Update(std::string_view data) { Update(data.data(), data.size()); }
    Sha1Digest Final();  // the object can be reused afterwards for a new digest

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

Sha1Digest Sha1Of(std::string_view data);

// The digest of a whole file read in 64 KiB pieces: 0, or the system error code when the file
// cannot be opened or read.
int32_t Sha1OfFile(const std::string& path, Sha1Digest& digest);

// Lower- or upper-case hexadecimal of bytes.
std::string HexLower(const uint8_t* data, size_t size);
std::string HexUpper(const uint8_t* data, size_t size);
inline std::string HexLower(const Sha1Digest& d) {
    return HexLower(d.data(), d.size());
}
inline std::string HexUpper(const Sha1Digest& d) {
    return HexUpper(d.data(), d.size());
}

}  // namespace platform
