#include "platform/Sockets.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace platform {

std::string UsbmuxSocketPath() {
    const char* address = std::getenv("USBMUXD_SOCKET_ADDRESS");
    if (address != nullptr && std::strncmp(address, "UNIX:", 5) == 0 && address[5] != '\0') {
        return address + 5;
    }
    return "/var/run/usbmuxd";
}

int ShutdownConnectionsTo(const std::string& socketPath) {
    DIR* fds = opendir("/proc/self/fd");
    if (fds == nullptr) {
        return 0;
    }
    int found = 0;
    const int listing = dirfd(fds);
    while (const dirent* entry = readdir(fds)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == listing) {
            continue;
        }
        sockaddr_un peer{};
        socklen_t length = sizeof(peer);
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
            peer.sun_family != AF_UNIX || length <= offsetof(sockaddr_un, sun_path)) {
            continue;
        }
        const size_t pathLength = strnlen(peer.sun_path, length - offsetof(sockaddr_un, sun_path));
        if (std::string(peer.sun_path, pathLength) == socketPath) {
            shutdown(static_cast<int>(fd), SHUT_RDWR);
            ++found;
        }
    }
    closedir(fds);
    return found;
}

}  // namespace platform
