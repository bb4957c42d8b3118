#include "store/Manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"
#include "platform/Results.h"
#include "platform/Sha1.h"

namespace tolvane {
namespace {

constexpr size_t kHeaderSize = 6;  // "mbdb" and two version bytes
constexpr uint16_t kAbsentString = 0xFFFF;
constexpr size_t kDigestSize = 20;
// Mode, inode, user, group, three times, size, protection class and property count.
constexpr size_t kFixedFieldsSize = 2 + 8 + 4 + 4 + 4 + 4 + 4 + 8 + 1 + 1;
constexpr size_t kHashChunk = 65536;

// Reads the fields of a record without ever going past the end of the data; every read returns
// false instead.
class Cursor {
  public:
    Cursor(std::string_view data, size_t pos) : data_(data), pos_(pos) {}
    size_t Pos() const { return pos_; }

    bool Skip(size_t n) {
        if (data_.size() - pos_ < n) {
            return false;
        }
        pos_ += n;
        return true;
    }

    bool ReadU8(uint8_t& value) {
        if (pos_ >= data_.size()) {
            return false;
        }
        value = static_cast<uint8_t>(data_[pos_++]);
        return true;
    }

    bool ReadString(std::string_view& value) {
        if (data_.size() - pos_ < 2) {
            return false;
        }
        const uint16_t length = static_cast<uint16_t>(static_cast<uint8_t>(data_[pos_]) << 8 |
                                                      static_cast<uint8_t>(data_[pos_ + 1]));
        pos_ += 2;
        if (length == kAbsentString) {
            value = {};
            return true;
        }
        if (data_.size() - pos_ < length) {
            return false;
        }
        value = data_.substr(pos_, length);
        pos_ += length;
        return true;
    }

  private:
    std::string_view data_;
    size_t pos_;
};

// Reads the whole manifest: 0, platform::kResultBadManifest when it cannot be opened or read, or
// platform::kResultMissing when its memory cannot be had.
int32_t ReadManifest(const std::string& path, std::string& contents) {
    try {
        return platform::ReadWholeFile(path, contents) == 0 ? 0 : platform::kResultBadManifest;
    } catch (const std::bad_alloc&) {
        return platform::kResultMissing;
    } catch (const std::length_error&) {
        return platform::kResultMissing;
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool DecodeDigestHex(const std::string& hex, uint8_t digest[kDigestSize]) {
    if (hex.size() != 2 * kDigestSize) {
        return false;
    }
    for (size_t i = 0; i < kDigestSize; ++i) {
        const int hi = HexValue(hex[2 * i]);
        const int lo = HexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        digest[i] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

}  // namespace

int32_t WalkMbdbRecords(std::string_view manifest,
                        const std::function<void(const MbdbRecordSpan&)>& visit) {
    if (manifest.size() < 4 || manifest.substr(0, 4) != "mbdb") {
        return platform::kResultMissing;
    }
    if (manifest.size() < kHeaderSize) {
        return platform::kResultBadManifest;
    }
    size_t pos = kHeaderSize;
    while (pos < manifest.size()) {
        Cursor cursor(manifest, pos);
        MbdbRecordSpan record;
        record.begin = pos;
        std::string_view linkTarget;
        std::string_view digest;
        std::string_view encryptionKey;
        if (!cursor.ReadString(record.domain) || !cursor.ReadString(record.path) ||
            !cursor.ReadString(linkTarget)) {
            return platform::kResultBadManifest;
        }
        record.digestField = cursor.Pos();
        uint8_t modeHigh = 0;
        uint8_t modeLow = 0;
        if (!cursor.ReadString(digest) || !cursor.ReadString(encryptionKey) ||
            !cursor.ReadU8(modeHigh) || !cursor.ReadU8(modeLow) ||
            !cursor.Skip(kFixedFieldsSize - 3)) {
            return platform::kResultBadManifest;
        }
        record.mode = static_cast<uint16_t>(modeHigh << 8 | modeLow);
        record.digestLength = digest.size();
        uint8_t propertyCount = 0;
        if (!cursor.ReadU8(propertyCount)) {
            return platform::kResultBadManifest;
        }
        for (unsigned i = 0; i < propertyCount; ++i) {
            std::string_view name;
            std::string_view value;
            if (!cursor.ReadString(name) || !cursor.ReadString(value)) {
                return platform::kResultBadManifest;
            }
        }
        record.end = cursor.Pos();
        visit(record);
        pos = record.end;
    }
    return 0;
}

int32_t StripAppDomainRecordsInMemory(std::string_view manifest, std::string& stripped) {
    // Kept records are usually in runs; copy each run in one piece.
    std::vector<std::pair<size_t, size_t>> runs;
    const int32_t result = WalkMbdbRecords(manifest, [&](const MbdbRecordSpan& record) {
        if (record.domain.starts_with("AppDomain")) {
            return;
        }
        if (!runs.empty() && runs.back().second == record.begin) {
            runs.back().second = record.end;
        } else {
            runs.emplace_back(record.begin, record.end);
        }
    });
    if (result != 0) {
        return result;
    }
    size_t total = kHeaderSize;
    for (const auto& [begin, end] : runs) {
        total += end - begin;
    }
    std::string out;
    out.reserve(total);
    out.append(manifest.substr(0, kHeaderSize));
    for (const auto& [begin, end] : runs) {
        out.append(manifest.substr(begin, end - begin));
    }
    stripped = std::move(out);
    return 0;
}

int32_t FindDigestToPatch(std::string_view manifest, std::string_view pathText, size_t& offset,
                          bool& found) {
    found = false;
    size_t digestLength = 0;
    // The whole manifest is walked, so that a damaged one is never written to.
    const int32_t result = WalkMbdbRecords(manifest, [&](const MbdbRecordSpan& record) {
        if (!found && record.path.find(pathText) != std::string_view::npos) {
            found = true;
            offset = record.digestField + 2;
            digestLength = record.digestLength;
        }
    });
    if (result != 0) {
        found = false;
        return result;
    }
    if (found && digestLength != kDigestSize) {
        // Twenty bytes written over a shorter or absent digest would overwrite the fields after it.
        found = false;
        return platform::kResultBadManifest;
    }
    return 0;
}

int32_t StripAppDomainRecords(const std::string& source, const std::string& target) {
    std::string manifest;
    int32_t result = ReadManifest(source, manifest);
    if (result != 0) {
        return result;
    }
    std::string stripped;
    try {
        result = StripAppDomainRecordsInMemory(manifest, stripped);
    } catch (const std::bad_alloc&) {
        return platform::kResultMissing;
    }
    if (result != 0) {
        return result;
    }
    manifest = std::string();  // give the source's memory back before writing

    // The target is made anew (a link there is replaced, not followed).
    platform::DeleteFile(target);
    platform::UniqueFd fd(open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
        return platform::LastSystemError();
    }
    result = platform::WriteAll(fd.get(), stripped);
    if (fd.Close() != 0 && result == 0) {
        result = platform::LastSystemError();
    }
    if (result != 0) {
        // A torn manifest must not be taken for a stripped one.
        unlink(target.c_str());
    }
    return result;
}

int32_t PatchManifestDigest(const std::string& digestHex, const std::string& manifestPath,
                            const std::string& pathText) {
    uint8_t digest[kDigestSize];
    if (!DecodeDigestHex(digestHex, digest)) {
        return platform::kResultMissing;
    }
    std::string manifest;
    int32_t result = ReadManifest(manifestPath, manifest);
    if (result != 0) {
        return result;
    }
    size_t offset = 0;
    bool found = false;
    result = FindDigestToPatch(manifest, pathText, offset, found);
    if (result != 0 || !found) {
        return result;
    }
    platform::UniqueFd fd(open(manifestPath.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.get() < 0) {
        return platform::LastSystemError();
    }
    result = platform::WriteAll(fd.get(), digest, kDigestSize, static_cast<int64_t>(offset));
    if (fd.Close() != 0 && result == 0) {
        result = platform::LastSystemError();
    }
    return result;
}

int32_t Sha1FileHex(const std::string& path, char out[41]) {
    out[0] = '\0';
    int32_t openError = 0;
    const platform::UniqueFd fd(platform::OpenRegularFileForReading(path, &openError));
    if (fd.get() < 0) {
        return openError;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        return platform::LastSystemError();
    }
    if (!S_ISREG(st.st_mode)) {
        return S_ISDIR(st.st_mode) ? platform::kErrorAccessDenied : platform::kErrorInvalidFunction;
    }
    posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    platform::Sha1 sha;
    std::vector<char> buffer(kHashChunk);
    uint64_t total = 0;
    for (;;) {
        size_t n = 0;
        if (platform::ReadAll(fd.get(), buffer.data(), buffer.size(), n) != 0) {
            return platform::kResultShortRead;
        }
        if (n == 0) {
            break;
        }
        sha.Update(buffer.data(), n);
        total += n;
    }
    if (total < static_cast<uint64_t>(st.st_size)) {
        return platform::kResultShortRead;  // the file ended before the size it had when opened
    }
    const std::string hex = platform::HexUpper(sha.Final());
    std::memcpy(out, hex.data(), hex.size());
    out[hex.size()] = '\0';
    return 0;
}

}  // namespace tolvane
