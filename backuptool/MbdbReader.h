// Reads the records of a Manifest.mbdb: the fields the tool needs, every read bounds-checked.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace backuptool {

struct MbdbFileRecord {
    std::string_view domain;
    std::string_view path;
    std::string_view encryptionKey;  // empty, or the class (4 bytes, little-endian) and wrapped key
    uint16_t mode = 0;
    uint64_t size = 0;  // the file's plain size
};

// Calls `visit` for each record in file order. False, with a reason in `error`, when the data do
// not begin with "mbdb" and two version bytes or a record runs past the end.
bool ReadMbdbRecords(std::string_view data, const std::function<void(const MbdbFileRecord&)>& visit,
                     std::string& error);

}  // namespace backuptool
