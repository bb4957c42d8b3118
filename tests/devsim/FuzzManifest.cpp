// The phone reads a restore's Manifest.mbdb, Manifest.plist and keybag from the computer: none of
// them may crash it, read past its end or hang it, whatever bytes arrive.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "devsim/BackupCipher.h"
#include "devsim/FileTree.h"
#include "devsim/Mbdb.h"
#include "devsim/PlistUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string error;
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
