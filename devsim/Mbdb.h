// Manifest.mbdb as a phone of this era writes it: "mbdb", version 5.0, then one record per
// folder and file with no count and no padding. Integers are big-endian; a string is a 16-bit
// length and its bytes, 0xFFFF standing for an absent string.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace devsim {

struct MbdbRecord {
    std::string domain;
    std::string path;
    std::string linkTarget;
    std::string digest;         // 20 bytes for files, empty for folders
    std::string encryptionKey;  // 44 bytes for files of an encrypted backup, else empty
    uint16_t mode = 0;          // type and permission bits (0x8000 file, 0x4000 folder)
    uint64_t inode = 0;
    uint32_t uid = 501;
    uint32_t gid = 501;
    uint32_t modified = 0;
    uint32_t accessed = 0;
    uint32_t created = 0;
    uint64_t size = 0;
    uint8_t protectionClass = 0;
    std::vector<std::pair<std::string, std::string>> properties;

    bool IsFile() const { return (mode & 0xF000) == 0x8000; }
    bool IsFolder() const { return (mode & 0xF000) == 0x4000; }
};

std::string WriteMbdb(const std::vector<MbdbRecord>& records);

// Reads a whole manifest. False, with `error` set, for a file that is not one or is cut short.
bool ReadMbdb(const std::string& bytes, std::vector<MbdbRecord>& records, std::string& error);

}  // namespace devsim
