#include "platform/Handles.h"

#include <unistd.h>

#include <cstdlib>

namespace platform {

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

int UniqueFd::Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 ? close(fd) : 0;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0 && fd_ != fd) {
        close(fd_);
    }
    fd_ = fd;
}

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
