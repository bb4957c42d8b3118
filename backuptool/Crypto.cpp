#include "backuptool/Crypto.h"

#include <openssl/crypto.h>

#include <climits>

namespace backuptool {
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

void Wipe(std::string& secret) {
    if (!secret.empty()) {
        OPENSSL_cleanse(secret.data(), secret.size());
    }
    secret.clear();
}

}  // namespace backuptool
