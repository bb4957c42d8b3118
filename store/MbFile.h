// The `file` column of Manifest.db: one MBFile object archived by NSKeyedArchiver into a binary
// property list.
//
//   { "$archiver": "NSKeyedArchiver", "$version": 100000, "$top": { "root": UID 1 },
//     "$objects": [ "$null", { "$class": UID, "Size", "Mode", ..., "RelativePath": UID, ... },
//                   "<relative path>", ..., { "$classname": "MBFile", ... } ] }
//
// Strings (RelativePath, Target) are archived as string objects, data (Digest, EncryptionKey) as
// data objects or as NSMutableData dictionaries holding them under "NS.data". The reader is strict:
// every reference must point into $objects, every field must have its type, and an archive that is
// not exactly this shape is refused rather than half read. Nothing here touches the file system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane {

struct MbFile {
    uint64_t size = 0;
    int64_t lastModified = 0;  // seconds since 1970
    int64_t birth = 0;
    int64_t lastStatusChange = 0;
    uint32_t mode = 0;  // type and permission bits (0x8000 file, 0x4000 folder, 0xA000 link)
    uint32_t userId = 0;
    uint32_t groupId = 0;
    uint64_t inodeNumber = 0;
    uint32_t protectionClass = 0;
    uint32_t flags = 0;
    std::string relativePath;
    std::optional<std::string> target;         // link target, links only
    std::optional<std::string> encryptionKey;  // 4-byte class + 40-byte wrapped key
    std::optional<std::string> digest;

    bool IsFile() const { return (mode & 0xF000) == 0x8000; }
    bool IsFolder() const { return (mode & 0xF000) == 0x4000; }
    bool IsLink() const { return (mode & 0xF000) == 0xA000; }
};

// Length of an EncryptionKey: a little-endian protection class and an RFC 3394 wrapped 32-byte key.
inline constexpr size_t kMbFileKeyLength = 44;

// Reads an archived MBFile. False, with `error` saying what is wrong, for anything that is not one;
// `out` is then unspecified.
bool DecodeMbFile(std::string_view bytes, MbFile& out, std::string& error);

// The archive of `file`, as a binary property list in the shape above.
std::string EncodeMbFile(const MbFile& file);

// The archive `bytes` with its Size replaced by `size` and its Digest by `digest` (added when it
// had none); every other object and key is kept as it was. The result is read back before it is
// given out; should the writer of property lists fail to keep the tree, the archive is written
// afresh by EncodeMbFile from its fields (keys this reader does not know are then lost). False,
// with `error` set, when `bytes` is not an MBFile archive (DecodeMbFile's checks) or no sound
// archive could be written.
bool UpdateMbFileContent(std::string_view bytes, uint64_t size, std::string_view digest,
                         std::string& updated, std::string& error);

}  // namespace tolvane
