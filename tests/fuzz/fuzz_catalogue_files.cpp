// The catalogue's readers of a backup's describing files on arbitrary bytes, read from memory as
// from the file: an own backup's `fileinfo` and the other program's Info.plist (scanned as
// text). Nothing may be read outside the data, and what they take is bounded by the line they
// read it from.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "store/Catalogue.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A stream over `bytes` (no file is made); null for no bytes, which fmemopen refuses.
std::FILE* MemoryStream(std::string& bytes) {
    return bytes.empty() ? nullptr : fmemopen(bytes.data(), bytes.size(), "r");
}

constexpr size_t kLongestLine = 2047;  // lines are read in pieces of at most this

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (std::FILE* f = MemoryStream(bytes)) {
        tolvane::BackupEntry entry;
        // A folder that does not exist: the encryption test finds nothing there.
        tolvane::ScanFileInfo(f, "/nonexistent/tolvane-fuzz", entry);
        std::fclose(f);
        Check(entry.encrypted == 0);
        Check(entry.date.size() <= kLongestLine && entry.name.size() <= kLongestLine);
    }
    if (std::FILE* f = MemoryStream(bytes)) {
        tolvane::BackupEntry entry;
        tolvane::ScanItunesInfo(f, entry);
        std::fclose(f);
        Check(entry.name.size() <= kLongestLine);
        // A date is either read whole or not at all.
        Check(entry.instant == INT64_MIN || !entry.date.empty());
    }
    return 0;
}
