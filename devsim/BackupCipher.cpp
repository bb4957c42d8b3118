#include "devsim/BackupCipher.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

#include "devsim/Random.h"

namespace devsim {
namespace {

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

const unsigned char kZeroIv[16] = {};

void PutTag(std::string& out, const char* tag, const std::string& value) {
    out.append(tag, 4);
    const uint32_t n = static_cast<uint32_t>(value.size());
    const char len[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                         static_cast<char>(n >> 8), static_cast<char>(n)};
    out.append(len, 4);
    out += value;
}

std::string Be32(uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
}

uint32_t ReadBe32(const std::string& s) {
    uint32_t v = 0;
    for (char c : s) {
        v = (v << 8) | static_cast<uint8_t>(c);
    }
    return v;
}

bool WrapOrUnwrap(bool wrap, const std::string& kek, const std::string& in, std::string& out) {
    if (kek.size() != 32 || in.size() % 8 != 0 || in.size() < (wrap ? 16u : 24u)) {
        return false;
    }
    CtxPtr ctx(EVP_CIPHER_CTX_new());
    EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    const auto* k = reinterpret_cast<const unsigned char*>(kek.data());
    if ((wrap ? EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_wrap(), nullptr, k, nullptr)
              : EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_wrap(), nullptr, k, nullptr)) != 1) {
        return false;
    }
    std::string buf(in.size() + 16, '\0');
    int n = 0;
    int m = 0;
    auto* o = reinterpret_cast<unsigned char*>(buf.data());
    const auto* i = reinterpret_cast<const unsigned char*>(in.data());
    const int len = static_cast<int>(in.size());
    if ((wrap ? EVP_EncryptUpdate(ctx.get(), o, &n, i, len)
              : EVP_DecryptUpdate(ctx.get(), o, &n, i, len)) != 1 ||
        (wrap ? EVP_EncryptFinal_ex(ctx.get(), o + n, &m)
              : EVP_DecryptFinal_ex(ctx.get(), o + n, &m)) != 1) {
        return false;
    }
    buf.resize(static_cast<size_t>(n + m));
    out = buf;
    return true;
}

// Encrypts another source on the fly, under a file key of its own.
class EncryptingSource : public FileSource {
  public:
    EncryptingSource(std::unique_ptr<FileSource> plain, std::string fileKey, uint8_t cls)
        : plain_(std::move(plain)),
          key_(std::move(fileKey)),
          class_(cls),
          ctx_(EVP_CIPHER_CTX_new()) {
        EVP_EncryptInit_ex(ctx_.get(), EVP_aes_256_cbc(), nullptr,
                           reinterpret_cast<const unsigned char*>(key_.data()), kZeroIv);
    }
    long Next(char* buffer, size_t capacity) override {
        // At most `capacity - 16` plain bytes at a time, so the output always fits.
        if (finished_ || capacity < 32) {
            return 0;
        }
        plainBuffer_.resize(capacity - 16);
        auto* o = reinterpret_cast<unsigned char*>(buffer);
        for (;;) {
            const long n = plain_->Next(plainBuffer_.data(), plainBuffer_.size());
            if (n < 0) {
                return -1;
            }
            int out = 0;
            if (n == 0) {
                // The last block with its padding: always 16 bytes.
                EVP_EncryptFinal_ex(ctx_.get(), o, &out);
                finished_ = true;
                return out;
            }
            EVP_EncryptUpdate(ctx_.get(), o, &out,
                              reinterpret_cast<const unsigned char*>(plainBuffer_.data()),
                              static_cast<int>(n));
            if (out > 0) {
                return out;
            }
            // Fewer than 16 bytes so far: all of them wait in the cipher for more.
        }
    }
    const std::string& Key() const { return key_; }
    uint8_t Class() const { return class_; }

  private:
    std::unique_ptr<FileSource> plain_;
    std::string key_;
    uint8_t class_;
    CtxPtr ctx_;
    std::string plainBuffer_;
    bool finished_ = false;
};

}  // namespace

bool AesWrap(const std::string& kek, const std::string& key, std::string& wrapped) {
    return WrapOrUnwrap(true, kek, key, wrapped);
}

bool AesUnwrap(const std::string& kek, const std::string& wrapped, std::string& key) {
    return WrapOrUnwrap(false, kek, wrapped, key);
}

std::string PasswordKey(const std::string& password, const std::string& salt, uint32_t iterations) {
    std::string key(32, '\0');
    PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()),
                           reinterpret_cast<const unsigned char*>(salt.data()),
                           static_cast<int>(salt.size()), static_cast<int>(iterations), 32,
                           reinterpret_cast<unsigned char*>(key.data()));
    return key;
}

std::string PasswordKeySha256(const std::string& password, const std::string& salt,
                              uint32_t iterations) {
    std::string key(32, '\0');
    PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                      reinterpret_cast<const unsigned char*>(salt.data()),
                      static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(), 32,
                      reinterpret_cast<unsigned char*>(key.data()));
    return key;
}

BackupCipher::~BackupCipher() = default;

namespace {

// The keybag of either kind: the header, then one wrapped key per protection class. A non-zero
// `rounds` makes the newer kind (VERS 4 with DPWT, DPIC and DPSL; class keys of KTYP 1) and
// derives the password key in two steps.
void MakeKeybag(const std::string& password, Random& random, uint32_t rounds, uint32_t iterations,
                std::string& bag, std::map<uint32_t, std::string>& keys) {
    const std::string salt = random.Bytes(20);
    const std::string doubleSalt = rounds != 0 ? random.Bytes(20) : std::string();
    const std::string passwordKey =
        rounds != 0 ? PasswordKey(PasswordKeySha256(password, doubleSalt, rounds), salt, iterations)
                    : PasswordKey(password, salt, iterations);
    PutTag(bag, "VERS", Be32(rounds != 0 ? 4 : 3));
    PutTag(bag, "TYPE", Be32(1));
    PutTag(bag, "UUID", random.Bytes(16));
    PutTag(bag, "HMCK", random.Bytes(40));
    PutTag(bag, "WRAP", Be32(0));
    PutTag(bag, "SALT", salt);
    PutTag(bag, "ITER", Be32(iterations));
    if (rounds != 0) {
        PutTag(bag, "DPWT", Be32(1));
        PutTag(bag, "DPIC", Be32(rounds));
        PutTag(bag, "DPSL", doubleSalt);
    }
    for (uint32_t cls = 1; cls <= 11; ++cls) {
        const std::string classKey = random.Bytes(32);
        std::string wrapped;
        AesWrap(passwordKey, classKey, wrapped);
        PutTag(bag, "UUID", random.Bytes(16));
        PutTag(bag, "CLAS", Be32(cls));
        PutTag(bag, "WRAP", Be32(2));
        PutTag(bag, "KTYP", Be32(rounds != 0 ? 1 : 0));
        PutTag(bag, "WPKY", wrapped);
        keys[cls] = classKey;
    }
}

}  // namespace

std::unique_ptr<BackupCipher> BackupCipher::CreateModern(const std::string& password,
                                                         Random& random, uint32_t rounds,
                                                         uint32_t iterations) {
    return Make(password, random, std::max<uint32_t>(rounds, 1), iterations);
}

std::unique_ptr<BackupCipher> BackupCipher::Create(const std::string& password, Random& random,
                                                   uint32_t iterations) {
    return Make(password, random, 0, iterations);
}

std::unique_ptr<BackupCipher> BackupCipher::Make(const std::string& password, Random& random,
                                                 uint32_t rounds, uint32_t iterations) {
    std::unique_ptr<BackupCipher> c(new BackupCipher());
    c->random_ = &random;
    MakeKeybag(password, random, rounds, iterations, c->keybag_, c->classKeys_);
    return c;
}

bool ParseKeybag(const std::string& keybag, KeybagContents& contents, std::string& error) {
    bool inHeader = true;
    bool sawHeaderUuid = false;
    uint32_t currentClass = 0;
    size_t pos = 0;
    while (pos < keybag.size()) {
        if (keybag.size() - pos < 8) {
            error = "the keybag is cut short";
            return false;
        }
        const std::string tag = keybag.substr(pos, 4);
        const uint32_t len = ReadBe32(keybag.substr(pos + 4, 4));
        if (keybag.size() - pos - 8 < len) {
            error = "the keybag is cut short";
            return false;
        }
        const std::string value = keybag.substr(pos + 8, len);
        pos += 8 + len;
        if (tag == "UUID") {
            // The first UUID belongs to the bag; every later one starts a class key.
            if (sawHeaderUuid) {
                inHeader = false;
                currentClass = 0;
            }
            sawHeaderUuid = true;
        } else if (inHeader && tag == "SALT") {
            contents.salt = value;
        } else if (inHeader && tag == "ITER" && len == 4) {
            contents.iterations = ReadBe32(value);
        } else if (inHeader && tag == "DPSL") {
            contents.doubleSalt = value;
        } else if (inHeader && tag == "DPIC" && len == 4) {
            contents.doubleRounds = ReadBe32(value);
        } else if (!inHeader && tag == "CLAS" && len == 4) {
            currentClass = ReadBe32(value);
        } else if (!inHeader && tag == "WPKY" && currentClass != 0) {
            contents.wrappedKeys[currentClass] = value;
        }
    }
    if (contents.salt.empty() || contents.iterations == 0 || contents.wrappedKeys.empty()) {
        error = "the keybag has no salt, iteration count or class keys";
        return false;
    }
    if (contents.iterations > kMaxIterations || contents.doubleRounds > kMaxIterations) {
        error = "the keybag asks for too many iterations";
        return false;
    }
    if (contents.doubleSalt.empty() != (contents.doubleRounds == 0)) {
        error = "the keybag has only one of DPSL and DPIC";
        return false;
    }
    return true;
}

std::unique_ptr<BackupCipher> BackupCipher::Open(const std::string& keybag,
                                                 const std::string& password, std::string& error) {
    KeybagContents bag;
    if (!ParseKeybag(keybag, bag, error)) {
        return nullptr;
    }
    const std::string passwordKey =
        bag.doubleRounds == 0
            ? PasswordKey(password, bag.salt, bag.iterations)
            : PasswordKey(PasswordKeySha256(password, bag.doubleSalt, bag.doubleRounds), bag.salt,
                          bag.iterations);
    std::unique_ptr<BackupCipher> c(new BackupCipher());
    for (const auto& [cls, wrapped] : bag.wrappedKeys) {
        std::string key;
        if (!AesUnwrap(passwordKey, wrapped, key)) {
            error = "wrong password";
            return nullptr;
        }
        c->classKeys_[cls] = key;
    }
    c->keybag_ = keybag;
    return c;
}

std::unique_ptr<FileSource> BackupCipher::Encrypting(std::unique_ptr<FileSource> plain,
                                                     uint8_t protectionClass) {
    return std::make_unique<EncryptingSource>(std::move(plain), random_->Bytes(32),
                                              protectionClass);
}

std::string BackupCipher::RecordKey(FileSource& encrypting) const {
    const auto& e = static_cast<EncryptingSource&>(encrypting);
    std::string wrapped;
    auto it = classKeys_.find(e.Class());
    if (it == classKeys_.end() || !AesWrap(it->second, e.Key(), wrapped)) {
        return {};
    }
    const uint32_t cls = e.Class();
    std::string out{static_cast<char>(cls), static_cast<char>(cls >> 8),
                    static_cast<char>(cls >> 16), static_cast<char>(cls >> 24)};
    return out + wrapped;
}

bool BackupCipher::FileKey(const std::string& recordKey, std::string& fileKey) const {
    if (recordKey.size() != 44) {
        return false;
    }
    uint32_t cls = 0;
    for (int i = 3; i >= 0; --i) {
        cls = (cls << 8) | static_cast<uint8_t>(recordKey[static_cast<size_t>(i)]);
    }
    auto it = classKeys_.find(cls);
    return it != classKeys_.end() && AesUnwrap(it->second, recordKey.substr(4), fileKey) &&
           fileKey.size() == 32;
}

struct FileDecryptor::Impl {
    CtxPtr ctx{EVP_CIPHER_CTX_new()};
};

FileDecryptor::FileDecryptor(const std::string& fileKey) : impl_(std::make_unique<Impl>()) {
    EVP_DecryptInit_ex(impl_->ctx.get(), EVP_aes_256_cbc(), nullptr,
                       reinterpret_cast<const unsigned char*>(fileKey.data()), kZeroIv);
}

FileDecryptor::~FileDecryptor() = default;

bool FileDecryptor::Update(const char* data, size_t size, std::string& out) {
    const size_t start = out.size();
    out.resize(start + size + 16);
    int n = 0;
    if (EVP_DecryptUpdate(impl_->ctx.get(), reinterpret_cast<unsigned char*>(&out[start]), &n,
                          reinterpret_cast<const unsigned char*>(data),
                          static_cast<int>(size)) != 1) {
        out.resize(start);
        return false;
    }
    out.resize(start + static_cast<size_t>(n));
    return true;
}

bool FileDecryptor::Final(std::string& out) {
    const size_t start = out.size();
    out.resize(start + 16);
    int n = 0;
    const bool ok = EVP_DecryptFinal_ex(impl_->ctx.get(),
                                        reinterpret_cast<unsigned char*>(&out[start]), &n) == 1;
    out.resize(start + (ok ? static_cast<size_t>(n) : 0));
    return ok;
}

}  // namespace devsim
