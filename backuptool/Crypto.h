// The primitives of the backup format, over OpenSSL.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <functional>
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

// Called now and then during a long derivation with the rounds done so far and the total.
using DeriveProgress = std::function<void(uint32_t done, uint32_t total)>;

// PBKDF2-HMAC-SHA256 of the password with the salt and iteration count, 32 bytes: the first step
// of the newer keybags, run millions of times. `progress`, when given, is called about a hundred
// times on the way and once at the end. False for an empty salt or zero iterations.
bool DerivePasswordKeySha256(std::string_view password, std::string_view salt, uint32_t iterations,
                             std::string& key, const DeriveProgress& progress = {});

// AES key unwrap (RFC 3394, default IV) of a 40-byte wrapped key with a 32-byte key. False when
// the sizes are wrong or the integrity check fails, which is what a wrong key gives.
bool UnwrapKey(std::string_view kek, std::string_view wrapped, std::string& key);

// AES-256-CBC decryption with an all-zero IV, without removing padding: the caller cuts the plain
// bytes to their known size or strips the padding (PkcsPaddingLength). Feed whole multiples of 16
// bytes.
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

// The length of the PKCS#7 padding that ends `lastBlock` (16 bytes): 1 to 16, or 0 when the bytes
// are no valid padding, which is what a wrong key or a damaged file gives almost always.
size_t PkcsPaddingLength(const unsigned char* lastBlock);

// Clears key material before its memory is given back.
void Wipe(std::string& secret);

}  // namespace backuptool
