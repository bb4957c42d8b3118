// The phone reads a restore's Manifest.mbdb, Manifest.plist and keybag from the computer, and a
// modern phone its Manifest.db with an archived MBFile per row: none of them may crash it, read
// past its end or hang it, whatever bytes arrive. A first byte of 0xF0 or more picks the modern
// readers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devsim/BackupCipher.h"
#include "devsim/FileTree.h"
#include "devsim/ManifestDb.h"
#include "devsim/MbFile.h"
#include "devsim/Mbdb.h"
#include "devsim/PlistUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string error;
    if (data[0] >= 0xF0) {
        devsim::MbdbRecord record;
        if (data[0] % 2 == 0) {
            devsim::ReadMbFile(input, record, error);
        } else {
            std::vector<devsim::MbdbRecord> records;
            if (devsim::ReadManifestDb(input, records, error)) {
                for (const devsim::MbdbRecord& r : records) {
                    devsim::IsSafeDomain(r.domain);
                    devsim::IsSafeRelativePath(r.path);
                }
            }
        }
        return 0;
    }
    switch (data[0] % 3) {
        case 0: {
            std::vector<devsim::MbdbRecord> records;
            if (devsim::ReadMbdb(input, records, error)) {
                for (const devsim::MbdbRecord& r : records) {
                    devsim::IsSafeDomain(r.domain);
                    devsim::IsSafeRelativePath(r.path);
                }
                // Written again, the records take exactly the bytes they were read from (only an
                // empty string may change its spelling, never its size).
                if (devsim::WriteMbdb(records).size() != input.size()) {
                    __builtin_trap();
                }
            }
            break;
        }
        case 1: {
            devsim::KeybagContents bag;
            devsim::ParseKeybag(input, bag, error);
            break;
        }
        default: {
            devsim::PlistPtr p = devsim::ParsePlist(input);
            devsim::DictBool(p.get(), "IsEncrypted");
            devsim::DictData(p.get(), "BackupKeyBag");
            break;
        }
    }
    return 0;
}
