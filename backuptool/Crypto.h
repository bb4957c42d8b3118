// The three primitives of the backup format, over OpenSSL's EVP interface.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace backuptool {

inline constexpr size_t kAesKeySize = 32;
inline constexpr size_t kWrappedKeySize = kAesKeySize + 8;

struct CipherCtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxDeleter>;

// PBKDF2-HMAC-SHA1 of the password with the salt and iteration count, 32 bytes. False when the
// library refuses (an empty salt, zero iterations).
bool DerivePasswordKey(std::string_view password, std::string_view salt, uint32_t iterations,
                       std::string& key);

// AES key unwrap (RFC 3394, default IV) of a 40-byte wrapped key with a 32-byte key. False when
// the sizes are wrong or the integrity check fails, which is what a wrong key gives.
bool UnwrapKey(std::string_view kek, std::string_view wrapped, std::string& key);

// AES-256-CBC decryption with an all-zero IV, without removing padding: the caller cuts the plain
// bytes to their known size. Feed whole multiples of 16 bytes.
class CbcDecryptor {
  public:
    explicit CbcDecryptor(std::string_view key);
    bool Ok() const { return ok_; }
    // Decrypts `size` bytes from `in` into `out` (room for `size` bytes); false on failure.
    bool Update(const unsigned char* in, size_t size, unsigned char* out);

  private:
    CipherCtxPtr ctx_;
    bool ok_ = false;
};

// Clears key material before its memory is given back.
void Wipe(std::string& secret);

}  // namespace backuptool
