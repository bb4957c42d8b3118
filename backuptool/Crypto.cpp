// The SHA-256 block function and its context are used directly below; OpenSSL 3 marks them
// deprecated in favour of EVP, whose per-call overhead makes the newer keybags' ten million rounds
// take about four times as long. Must come before the first OpenSSL header.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "backuptool/Crypto.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <array>
#include <climits>
#include <cstring>

namespace backuptool {
namespace {

constexpr size_t kShaBlock = 64;
constexpr size_t kSha256Size = 32;

void StoreBigEndian(uint32_t v, unsigned char* out) {
    out[0] = static_cast<unsigned char>(v >> 24);
    out[1] = static_cast<unsigned char>(v >> 16);
    out[2] = static_cast<unsigned char>(v >> 8);
    out[3] = static_cast<unsigned char>(v);
}

// Clears a context or buffer of key material on every way out.
template <typename T>
struct Cleansed {
    T value{};
    ~Cleansed() { OPENSSL_cleanse(&value, sizeof value); }
};

}  // namespace

bool DerivePasswordKeySha256(std::string_view password, std::string_view salt, uint32_t iterations,
                             std::string& key, const DeriveProgress& progress) {
    if (salt.empty() || iterations == 0) {
        return false;
    }
    // HMAC-SHA256 with the password as key (RFC 2104): a key longer than a block is hashed first.
    Cleansed<std::array<unsigned char, kShaBlock>> hmacKey;
    if (password.size() > kShaBlock) {
        SHA256(reinterpret_cast<const unsigned char*>(password.data()), password.size(),
               hmacKey.value.data());
    } else {
        std::memcpy(hmacKey.value.data(), password.data(), password.size());
    }
    Cleansed<SHA256_CTX> inner;
    Cleansed<SHA256_CTX> outer;
    Cleansed<SHA256_CTX> work;
    {
        Cleansed<std::array<unsigned char, kShaBlock>> pad;
        for (size_t i = 0; i < kShaBlock; ++i) {
            pad.value[i] = hmacKey.value[i] ^ 0x36;
        }
        SHA256_Init(&inner.value);
        SHA256_Update(&inner.value, pad.value.data(), kShaBlock);
        for (size_t i = 0; i < kShaBlock; ++i) {
            pad.value[i] = hmacKey.value[i] ^ 0x5c;
        }
        SHA256_Init(&outer.value);
        SHA256_Update(&outer.value, pad.value.data(), kShaBlock);
    }

    // U1 = HMAC(password, salt || INT(1)); 32 bytes are one SHA-256 output, so one block of
    // PBKDF2 is all there is.
    Cleansed<std::array<unsigned char, kSha256Size>> digest;
    const unsigned char blockIndex[4] = {0, 0, 0, 1};
    work.value = inner.value;
    SHA256_Update(&work.value, salt.data(), salt.size());
    SHA256_Update(&work.value, blockIndex, sizeof blockIndex);
    SHA256_Final(digest.value.data(), &work.value);
    work.value = outer.value;
    SHA256_Update(&work.value, digest.value.data(), kSha256Size);
    SHA256_Final(digest.value.data(), &work.value);

    // Every later U is HMAC(password, U before it): the 32-byte message with its SHA-256 padding
    // fills exactly one block after the 64-byte key block, so each round is two block functions
    // on copies of the prepared states.
    Cleansed<std::array<unsigned char, kShaBlock>> message;
    std::memcpy(message.value.data(), digest.value.data(), kSha256Size);
    message.value[kSha256Size] = 0x80;
    message.value[kShaBlock - 2] = 0x03;  // the length: (64 + 32) * 8 = 768 bits
    Cleansed<std::array<uint32_t, 8>> sum;
    for (size_t j = 0; j < 8; ++j) {
        const unsigned char* b = digest.value.data() + 4 * j;
        sum.value[j] = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
                       static_cast<uint32_t>(b[2]) << 8 | static_cast<uint32_t>(b[3]);
    }
    const uint32_t step = iterations / 100 > 0 ? iterations / 100 : iterations;
    for (uint32_t round = 1; round < iterations; ++round) {
        work.value = inner.value;
        SHA256_Transform(&work.value, message.value.data());
        for (size_t j = 0; j < 8; ++j) {
            StoreBigEndian(work.value.h[j], message.value.data() + 4 * j);
        }
        work.value = outer.value;
        SHA256_Transform(&work.value, message.value.data());
        for (size_t j = 0; j < 8; ++j) {
            StoreBigEndian(work.value.h[j], message.value.data() + 4 * j);
            sum.value[j] ^= work.value.h[j];
        }
        if (progress && (round + 1) % step == 0 && round + 1 < iterations) {
            progress(round + 1, iterations);
        }
    }
    key.assign(kAesKeySize, '\0');
    for (size_t j = 0; j < 8; ++j) {
        StoreBigEndian(sum.value[j], reinterpret_cast<unsigned char*>(key.data()) + 4 * j);
    }
    if (progress) {
        progress(iterations, iterations);
    }
    return true;
}
bool DerivePasswordKey(std::string_view password, std::string_view salt, uint32_t iterations,
                       std::string& key) {
    if (salt.empty() || iterations == 0 || iterations > INT_MAX || password.size() > INT_MAX ||
        salt.size() > INT_MAX) {
        return false;
    }
    key.assign(kAesKeySize, '\0');
    const int ok = PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                                     reinterpret_cast<const unsigned char*>(salt.data()),
                                     static_cast<int>(salt.size()), static_cast<int>(iterations),
                                     EVP_sha1(), static_cast<int>(key.size()),
                                     reinterpret_cast<unsigned char*>(key.data()));
    if (ok != 1) {
        Wipe(key);
        return false;
    }
    return true;
}

bool UnwrapKey(std::string_view kek, std::string_view wrapped, std::string& key) {
    if (kek.size() != kAesKeySize || wrapped.size() != kWrappedKeySize) {
        return false;
    }
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx) {
        return false;
    }
    EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_wrap(), nullptr,
                           reinterpret_cast<const unsigned char*>(kek.data()), nullptr) != 1) {
        return false;
    }
    // The unwrapped key is 8 bytes shorter than its wrapping; the output also needs room for one
    // more block.
    std::string out(wrapped.size() + 16, '\0');
    int length = 0;
    const int ok = EVP_DecryptUpdate(
        ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &length,
        reinterpret_cast<const unsigned char*>(wrapped.data()), static_cast<int>(wrapped.size()));
    if (ok != 1 || length != static_cast<int>(kAesKeySize)) {
        Wipe(out);
        return false;
    }
    int tail = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(out.data()) + length,
                            &tail) != 1 ||
        tail != 0) {
        Wipe(out);
        return false;
    }
    key.assign(out.data(), kAesKeySize);
    Wipe(out);
    return true;
}

CbcDecryptor::CbcDecryptor(std::string_view key) : ctx_(EVP_CIPHER_CTX_new()) {
    if (!ctx_ || key.size() != kAesKeySize) {
        return;
    }
    const unsigned char iv[16] = {};
    ok_ = EVP_DecryptInit_ex(ctx_.get(), EVP_aes_256_cbc(), nullptr,
                             reinterpret_cast<const unsigned char*>(key.data()), iv) == 1 &&
          EVP_CIPHER_CTX_set_padding(ctx_.get(), 0) == 1;
}

bool CbcDecryptor::Update(const unsigned char* in, size_t size, unsigned char* out) {
    if (!ok_ || size % 16 != 0 || size > INT_MAX) {
        return false;
    }
    int length = 0;
    return EVP_DecryptUpdate(ctx_.get(), out, &length, in, static_cast<int>(size)) == 1 &&
           static_cast<size_t>(length) == size;
}

size_t PkcsPaddingLength(const unsigned char* lastBlock) {
    const unsigned char n = lastBlock[15];
    if (n == 0 || n > 16) {
        return 0;
    }
    // Every padding byte is looked at, so that the answer does not hint where a mismatch is.
    unsigned char diff = 0;
    for (size_t i = 16 - n; i < 16; ++i) {
        diff |= static_cast<unsigned char>(lastBlock[i] ^ n);
    }
    return diff == 0 ? n : 0;
}

void Wipe(std::string& secret) {
    if (!secret.empty()) {
        OPENSSL_cleanse(secret.data(), secret.size());
    }
    secret.clear();
}

}  // namespace backuptool
