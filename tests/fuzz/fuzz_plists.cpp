// The property list reader of a backup folder (Info.plist, Manifest.plist, Status.plist) and the
// snapshot check of Status.plist on arbitrary bytes: nothing may be read outside the data, what
// is accepted is written back and read again to the same values, and the snapshot is finished
// only when SnapshotState says so.
#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Handles.h"
#include "store/Plists.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A buffer of exactly the input's size, so that a read past its end is seen.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const platform::PlistPtr root(tolvane::ParsePlistBytes(bytes));
    const int state = tolvane::SnapshotStateOf(root.get());
    Check(state >= -1 && state <= 1);
    if (!root) {
        Check(state == -1);
        return 0;
    }
    if (state == 1) {
        plist_t node = plist_dict_get_item(root.get(), "SnapshotState");
        Check(node != nullptr && plist_get_node_type(node) == PLIST_STRING);
        Check(plist_string_val_compare(node, "finished") == 0);
    }
    // What the reader accepted, written as binary, reads back to the same values. (The library
    // writes a string that is not UTF-8 as it came, and its binary reader then refuses the whole
    // list; that refusal is the library's, so only a list that reads back is compared.)
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &bin, &length);
    if (bin != nullptr) {
        const platform::PlistPtr again(tolvane::ParsePlistBytes(std::string(bin, length)));
        if (again) {
            Check(tolvane::SnapshotStateOf(again.get()) == state);
            Check(plist_get_node_type(again.get()) == plist_get_node_type(root.get()));
        }
        std::free(bin);
    }
    return 0;
}
