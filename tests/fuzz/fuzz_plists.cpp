// The property list reader of a backup folder (Info.plist, Manifest.plist, Status.plist) and the
// snapshot check of Status.plist on arbitrary bytes: nothing may be read outside the data, nothing
// ends the program, and the snapshot is finished only when SnapshotState says so. (A round trip
// through the library's binary writer is not checked: the writer changes strings that are not
// UTF-8, which is the library's business, not the reader's.)
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
    return 0;
}
