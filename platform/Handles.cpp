#include "platform/Handles.h"

#include <cstdlib>

namespace platform {

std::string PlistString(plist_t node, const std::string& fallback) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) {
        return fallback;
    }
    char* value = nullptr;
    plist_get_string_val(node, &value);
    std::string out = value != nullptr ? value : "";
    std::free(value);
    return out;
}

}  // namespace platform
