#include "platform/Sha1.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"

namespace platform {

namespace {

// The digest's routine, looked up in the library's providers once for the process: a lookup per
// digest (what the library does for EVP_sha1()) costs more than hashing a short name.
const EVP_MD* Sha1Routine() {
    static const EVP_MD* const fetched = [] {
        const EVP_MD* md = EVP_MD_fetch(nullptr, "SHA1", nullptr);
        return md != nullptr ? md : EVP_sha1();
    }();
    return fetched;
}

}  // namespace

struct Sha1::Impl {
    EVP_MD_CTX* ctx = nullptr;
};

Sha1::Sha1() : impl_(std::make_unique<Impl>()) {
    impl_->ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(impl_->ctx, Sha1Routine(), nullptr);
}

Sha1::~Sha1() {
    EVP_MD_CTX_free(impl_->ctx);
}

void Sha1::Update(const void* data, size_t size) {
    EVP_DigestUpdate(impl_->ctx, data, size);
}

Sha1Digest Sha1::Final() {
    Sha1Digest digest{};
    unsigned int len = 0;
    EVP_DigestFinal_ex(impl_->ctx, digest.data(), &len);
    EVP_DigestInit_ex(impl_->ctx, Sha1Routine(), nullptr);
    return digest;
}

Sha1Digest Sha1Of(std::string_view data) {
    Sha1 sha;
    sha.Update(data);
    return sha.Final();
}

int32_t Sha1OfFile(const std::string& path, Sha1Digest& digest) {
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return LastSystemError();
    }
    posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    Sha1 sha;
    std::vector<char> buf(65536);
    for (;;) {
        size_t n = 0;
        if (const int32_t r = ReadAll(fd.get(), buf.data(), buf.size(), n); r != 0) {
            return r;
        }
        if (n == 0) {
            break;
        }
        sha.Update(buf.data(), n);
    }
    digest = sha.Final();
    return 0;
}

namespace {
std::string Hex(const uint8_t* data, size_t size, const char* digits) {
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 15]);
    }
    return out;
}
}  // namespace

std::string HexLower(const uint8_t* data, size_t size) {
    return Hex(data, size, "0123456789abcdef");
}
std::string HexUpper(const uint8_t* data, size_t size) {
    return Hex(data, size, "0123456789ABCDEF");
}

}  // namespace platform
