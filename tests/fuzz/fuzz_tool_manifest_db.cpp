// The decryption tool's look-up of the two databases in a Manifest.db, on arbitrary bytes opened
// as the database: it must not crash or read out of bounds, must say why it refuses a row, and
// must hand out only rows of the very file it asked for with a key of the one usable size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "backuptool/ModernDecryptor.h"
#include "store/ManifestDb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One object for the process: each input replaces the image of the one before.
    static tolvane::ManifestDb manifest;
    if (manifest.OpenBytes(std::string_view(reinterpret_cast<const char*>(data), size)) != 0) {
        return 0;
    }
    for (const backuptool::Database& db : backuptool::kDatabases) {
        backuptool::ModernRecord record;
        std::string error;
        const bool ok = backuptool::FindDatabaseRecord(manifest, db, record, error);
        if (!ok && error.empty()) {
            std::abort();
        }
        if (ok && !record.encryptionKey.empty() && record.encryptionKey.size() != 44) {
            std::abort();
        }
    }
    return 0;
}
