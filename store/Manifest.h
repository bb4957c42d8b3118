// Manifest.mbdb, the binary manifest a phone writes into every backup: one record per file.
//
// The program never builds a manifest; it only copies one without the records of applications'
// data and overwrites the content digest of one record in place. Both go through one bounds-checked
// record walk: a manifest whose last record runs past its end is damaged, and neither operation
// then writes anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tolvane {

// Where one record lies in a manifest's bytes.
struct MbdbRecordSpan {
    size_t begin = 0;  // offset of the record's first byte
    size_t end = 0;    // offset one past its last byte
    std::string_view domain;
    std::string_view path;
    size_t digestField = 0;   // offset of the digest's 16-bit length
    size_t digestLength = 0;  // bytes of digest that follow it (0 for an absent digest)
    uint16_t mode = 0;        // the file's type and permissions (0x8000: a regular file)
    bool IsFile() const { return (mode & 0xF000) == 0x8000; }
};

// Checks the header ("mbdb" and two version bytes) and calls `visit` for each record in file
// order. Returns 0, platform::kResultMissing when the bytes do not begin with "mbdb", or
// platform::kResultBadManifest when the header is cut short or a record runs past the end (records
// before it were visited).
int32_t WalkMbdbRecords(std::string_view manifest,
                        const std::function<void(const MbdbRecordSpan&)>& visit);

// The manifest without the records whose domain begins with "AppDomain". Returns the result of
// the walk; `stripped` is set only on success.
int32_t StripAppDomainRecordsInMemory(std::string_view manifest, std::string& stripped);

// The offset at which the 20 digest bytes of the first record whose path contains `pathText`
// begin; `found` false when no record matches. platform::kResultBadManifest when the manifest is
// damaged or the matching record's digest is not exactly 20 bytes long.
int32_t FindDigestToPatch(std::string_view manifest, std::string_view pathText, size_t& offset,
                          bool& found);

// Copies `source` to `target` without the records of applications' data. A source that cannot be
// opened gives platform::kResultBadManifest, one without the magic platform::kResultMissing, a
// damaged one platform::kResultBadManifest; in these cases the target is left as it was. Otherwise
// the target is replaced, and a failed write gives the system's error code and removes the partial
// target.
int32_t StripAppDomainRecords(const std::string& source, const std::string& target);

// Overwrites, in place, the 20-byte digest of the first record whose path contains `pathText`
// with the 20 bytes of `digestHex` (40 hexadecimal digits, either case). 0 also when no record
// matches. A digest that is not 40 hexadecimal digits gives platform::kResultMissing and a matching
// record whose digest field is not 20 bytes gives platform::kResultBadManifest; nothing is written
// then.
int32_t PatchManifestDigest(const std::string& digestHex, const std::string& manifestPath,
                            const std::string& pathText);

// The SHA-1 of a file's whole content as 40 upper-case hexadecimal digits and a terminating zero.
// The file is streamed, so its size costs no memory. Returns 0, the system's error code when the
// file cannot be opened, or platform::kResultShortRead when it cannot be read to its end; `out`
// then holds an empty string.
int32_t Sha1FileHex(const std::string& path, char out[41]);

}  // namespace tolvane
