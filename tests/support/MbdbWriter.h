// Builds Manifest.mbdb files for tests, field by field, independently of the program's reader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testenv {

// One record; an absent string is written with the length 0xFFFF and no bytes.
struct MbdbEntry {
    std::optional<std::string> domain = "HomeDomain";
    std::optional<std::string> path;
    std::optional<std::string> linkTarget;
    std::optional<std::string> digest;
    std::optional<std::string> encryptionKey;
    uint16_t mode = 0100644;
    uint64_t inode = 1;
    uint32_t userId = 501;
    uint32_t groupId = 501;
    uint32_t modified = 1420070400;
    uint32_t accessed = 1420070400;
    uint32_t created = 1420070400;
    uint64_t size = 0;
    uint8_t protectionClass = 4;
    std::vector<std::pair<std::string, std::string>> properties;
};

// The bytes of one record.
std::string EncodeMbdbRecord(const MbdbEntry& entry);

// "mbdb", the two version bytes, then every record.
std::string BuildMbdb(const std::vector<MbdbEntry>& entries, std::string version = {"\x05\x00", 2});

// A file record of HomeDomain with a 20-byte digest.
MbdbEntry HomeFile(const std::string& path, const std::string& digest = std::string(20, '\x11'));

}  // namespace testenv
