#include "store/Plists.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "platform/Files.h"

namespace tolvane {
namespace {

// Property lists of a backup are small; anything larger than this is not one of them and is not
// worth its memory.
constexpr uint64_t kMaxPlistBytes = 256ULL * 1024 * 1024;

}  // namespace

plist_t ReadPlistFile(const std::string& path) {
    std::string data;
    try {
        if (platform::ReadWholeFile(path, data, kMaxPlistBytes) != 0) {
            return nullptr;
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return ParsePlistBytes(data);
}

plist_t ParsePlistBytes(std::string_view data) {
    if (data.empty() || data.size() > std::numeric_limits<uint32_t>::max()) {
        return nullptr;
    }
    plist_t root = nullptr;
    const auto length = static_cast<uint32_t>(data.size());
    if (data.size() > 8 && std::memcmp(data.data(), "bplist00", 8) == 0) {
        plist_from_bin(data.data(), length, &root);
    } else {
        plist_from_xml(data.data(), length, &root);
    }
    return root;
}

int mb2_status_check_snapshot_state(const char* sourceIdentifier, const char* folder) {
    const std::string path =
        platform::JoinPath(platform::JoinPath(folder != nullptr ? folder : "",
                                              sourceIdentifier != nullptr ? sourceIdentifier : ""),
                           "Status.plist");
    const platform::PlistPtr status = ReadPlistFileOwned(path);
    return SnapshotStateOf(status.get());
}

int SnapshotStateOf(plist_t status) {
    if (status == nullptr) {
        std::printf("Could not read Status.plist!\n");
        return -1;
    }
    plist_t state = plist_get_node_type(status) == PLIST_DICT
                        ? plist_dict_get_item(status, "SnapshotState")
                        : nullptr;
    if (state == nullptr || plist_get_node_type(state) != PLIST_STRING) {
        std::printf("%s: ERROR could not get SnapshotState key from Status.plist!\n",
                    "mb2_status_check_snapshot_state");
        return -1;
    }
    return platform::PlistString(state) == "finished" ? 1 : 0;
}

}  // namespace tolvane
