#include "engine/DevicePath.h"

#include <cerrno>
#include <cstdint>

namespace tolvane {

std::optional<std::string> JoinDevicePath(std::string_view folder, std::string_view name,
                                          bool allowFolderItself) {
    if (name.find('\0') != std::string_view::npos || (!name.empty() && name.front() == '/')) {
        return std::nullopt;
    }
    bool namesSomething = false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos) {
            end = name.size();
        }
        const std::string_view part = name.substr(start, end - start);
        if (part == "..") {
            return std::nullopt;
        }
        if (!part.empty() && part != ".") {
            namesSomething = true;
        }
        start = end + 1;
    }
    if (!namesSomething && !allowFolderItself) {
        return std::nullopt;
    }
    std::string path(folder);
    path.push_back('/');
    path.append(name);
    return path;
}

int32_t DeviceErrorFromErrno(int err) {
    if (err == ENOENT) {
        return -6;
    }
    if (err == EEXIST) {
        return -7;
    }
    return -err;
}

}  // namespace tolvane
