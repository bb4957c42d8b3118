// The MBFile reader on arbitrary bytes: it must never read outside them, and whatever it accepts
// must encode to an archive that reads back to the same fields, and must take a content update.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "store/MbFile.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    tolvane::MbFile file;
    std::string error;
    if (!tolvane::DecodeMbFile(bytes, file, error)) {
        Check(!error.empty());
        return 0;
    }
    tolvane::MbFile again;
    Check(tolvane::DecodeMbFile(tolvane::EncodeMbFile(file), again, error));
    Check(again.relativePath == file.relativePath && again.size == file.size &&
          again.mode == file.mode && again.digest == file.digest &&
          again.encryptionKey == file.encryptionKey && again.target == file.target &&
          again.lastModified == file.lastModified && again.inodeNumber == file.inodeNumber);

    std::string updated;
    const std::string digest(20, '\x42');
    Check(tolvane::UpdateMbFileContent(bytes, 12345, digest, updated, error));
    Check(tolvane::DecodeMbFile(updated, again, error));
    Check(again.size == 12345 && again.digest == digest &&
          again.relativePath == file.relativePath && again.encryptionKey == file.encryptionKey);
    return 0;
}
