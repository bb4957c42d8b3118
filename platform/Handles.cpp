#include "platform/Handles.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

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
    // The library's own copy asserts on a string holding a NUL byte, which a hostile file or
    // phone can send; the text is taken up to its first NUL, as a C string reads it.
    uint64_t length = 0;
    const char* value = plist_get_string_ptr(node, &length);
    if (value == nullptr) {
        return {};
    }
    const std::string_view whole(value, static_cast<size_t>(length));
    return std::string(whole.substr(0, whole.find('\0')));
}

}  // namespace platform
