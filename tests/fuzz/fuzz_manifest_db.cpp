// The Manifest.db walk on arbitrary bytes (opened in memory): no crash or read outside the data,
// and every row it hands out has passed its checks, so no path from it can leave the backup.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "store/ManifestDb.h"
#include "store/MbFile.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One object for the process: each input replaces the image of the one before.
    static tolvane::ManifestDb db;
    if (db.OpenBytes(std::string_view(reinterpret_cast<const char*>(data), size)) != 0) {
        return 0;
    }
    size_t rows = 0;
    db.Walk([&](const tolvane::ManifestRow& row) {
        Check(tolvane::IsHashedName(row.fileID));
        Check(tolvane::IsSafeRelativePath(row.relativePath));
        Check(row.fileID == tolvane::HashedName(row.domain, row.relativePath));
        tolvane::MbFile file;
        std::string error;
        tolvane::DecodeMbFile(row.file, file, error);
        return ++rows < 10000;
    });
    tolvane::ManifestRow row;
    bool found = false;
    if (db.Find("3d0d7e5fb2ce288813306e4d4636395e047a3d28", row, found) == 0 && found) {
        Check(tolvane::IsSafeRelativePath(row.relativePath));
    }
    return 0;
}
