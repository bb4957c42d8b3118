#include "backuptool/FileDecryption.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "backuptool/Crypto.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"

namespace backuptool {
namespace {

constexpr size_t kChunkSize = 1 << 20;
constexpr size_t kBlock = 16;

std::string SystemMessage() {
    return platform::ErrnoMessage(errno);
}

bool ReadFully(int fd, unsigned char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;  // the file shrank while it was read
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool WriteFully(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The page size of an SQLite database from its header (bytes 16 and 17, big-endian; 1 stands
// for 65536): a power of two from 512 up. False when the bytes are too few or hold none.
bool SqlitePageSize(const unsigned char* header, size_t size, uint32_t& pageSize) {
    if (size < 100) {
        return false;
    }
    pageSize = static_cast<uint32_t>(header[16]) << 8 | header[17];
    if (pageSize == 1) {
        pageSize = 65536;
    }
    return pageSize >= 512 && (pageSize & (pageSize - 1)) == 0;
}

}  // namespace

bool DecryptFile(const std::string& source, const std::string& target, std::string_view fileKey,
                 const DecryptOptions& options, std::string& error, uint64_t* plainBytes) {
    int32_t openError = 0;
    platform::UniqueFd in(platform::OpenRegularFileForReading(source, &openError));
    if (in.get() < 0) {
        error = openError == platform::kErrorAccessDenied ? "not a regular file"
                                                          : "cannot open: " + SystemMessage();
        return false;
    }
    struct stat st {};
    if (fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "not a readable file";
        return false;
    }
    const auto encryptedSize = static_cast<uint64_t>(st.st_size);
    if (encryptedSize > options.maxBytes) {
        error = "encrypted size " + std::to_string(encryptedSize) + " is more than the " +
                std::to_string(options.maxBytes) + " bytes allowed";
        return false;
    }
    if (encryptedSize % kBlock != 0) {
        error =
            "encrypted size " + std::to_string(encryptedSize) + " is not a whole number of blocks";
        return false;
    }
    const bool byPadding = !options.plainSize.has_value();
    if (byPadding && encryptedSize == 0) {
        error = "the file is empty: an encrypted file holds at least its padding";
        return false;
    }
    if (!byPadding && encryptedSize < *options.plainSize) {
        error = "encrypted size " + std::to_string(encryptedSize) +
                " does not fit the plain size " + std::to_string(*options.plainSize);
        return false;
    }
    CbcDecryptor decryptor(fileKey);
    if (!decryptor.Ok()) {
        error = "the file key is unusable";
        return false;
    }
    posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    const std::string temp = platform::JoinPath(platform::ParentPath(target),
                                                "." + platform::BaseName(target) + ".partial");
    platform::UniqueFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (out.get() < 0) {
        error = "cannot write " + temp + ": " + SystemMessage();
        return false;
    }
    std::vector<unsigned char> cipher(kChunkSize);
    std::vector<unsigned char> plain(kChunkSize);
    uint64_t readSoFar = 0;
    uint64_t written = 0;
    uint32_t pageSize = 0;
    bool ok = true;
    // Cut to a size, only the blocks that hold plain bytes are decrypted; cut by the padding, all
    // of them are, and the last block decides how much of it is kept.
    const uint64_t needed = byPadding ? encryptedSize : (*options.plainSize + 15) / 16 * 16;
    while (ok && readSoFar < needed) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunkSize, needed - readSoFar));
        if (!ReadFully(in.get(), cipher.data(), n)) {
            error = "cannot read: " + SystemMessage();
            ok = false;
            break;
        }
        if (!decryptor.Update(cipher.data(), n, plain.data())) {
            error = "decryption failed";
            ok = false;
            break;
        }
        if (readSoFar == 0 && options.wholeSqlitePages &&
            !SqlitePageSize(plain.data(), n, pageSize)) {
            error = "it does not decrypt to a database (a wrong key or a damaged file)";
            ok = false;
            break;
        }
        if (readSoFar == 0 && !options.expectedStart.empty() &&
            (n < options.expectedStart.size() ||
             std::memcmp(plain.data(), options.expectedStart.data(),
                         options.expectedStart.size()) != 0)) {
            error = "it does not decrypt to what it should be (a wrong key or a damaged file)";
            ok = false;
            break;
        }
        readSoFar += n;
        size_t keep = n;
        if (byPadding && readSoFar == needed) {
            const size_t padding = PkcsPaddingLength(plain.data() + n - kBlock);
            if (padding == 0) {
                error = "its padding is damaged (a wrong key or a damaged file)";
                ok = false;
                break;
            }
            keep = n - padding;
        } else if (!byPadding) {
            keep = static_cast<size_t>(std::min<uint64_t>(n, *options.plainSize - written));
        }
        if (!WriteFully(out.get(), plain.data(), keep)) {
            error = "cannot write: " + SystemMessage();
            ok = false;
            break;
        }
        written += keep;
    }
    if (ok && options.wholeSqlitePages && written % pageSize != 0) {
        error = "it ends inside a database page (a damaged file)";
        ok = false;
    }
    OPENSSL_cleanse(plain.data(), plain.size());
    if (out.Close() != 0 && ok) {
        error = "cannot write: " + SystemMessage();
        ok = false;
    }
    if (ok && rename(temp.c_str(), target.c_str()) != 0) {
        error = "cannot write " + target + ": " + SystemMessage();
        ok = false;
    }
    if (!ok) {
        unlink(temp.c_str());
    } else if (plainBytes != nullptr) {
        *plainBytes = written;
    }
    return ok;
}

}  // namespace backuptool
