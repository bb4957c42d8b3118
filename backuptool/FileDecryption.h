// Decrypting one file of a backup: AES-256-CBC under its file key with an all-zero IV, streamed in
// 1 MiB pieces into a file beside the target that is renamed over it only when complete.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace backuptool {

struct DecryptOptions {
    // The older backups give each file's plain size in its record: the plain bytes are cut there.
    // Without it the PKCS#7 padding of the last block says where they end, as the newer backups
    // need (their recorded sizes are known to be wrong for databases).
    std::optional<uint64_t> plainSize;
    // When not empty, the plain bytes must begin so ("SQLite format 3" and its zero byte for a
    // database): a file that decrypts to something else is taken for a wrong key or damage.
    std::string_view expectedStart;
    // The plain bytes must be an SQLite database of whole pages, as the pager always leaves one.
    // The padding alone says little: a damaged last block ends in a valid 01 once in 256 times, and
    // damage in the block before it changes the padding at will.
    bool wholeSqlitePages = false;
    // Encrypted files larger than this are refused before anything is read.
    uint64_t maxBytes = UINT64_MAX;
};

// False, with a reason in `error`, when the file cannot be read or written, is not a whole number
// of blocks, is shorter than its plain size, or its padding or beginning is wrong. `plainBytes`,
// when given, receives the count of bytes written.
bool DecryptFile(const std::string& source, const std::string& target, std::string_view fileKey,
                 const DecryptOptions& options, std::string& error, uint64_t* plainBytes = nullptr);

}  // namespace backuptool
