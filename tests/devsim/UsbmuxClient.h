// A bare usbmux client for tests of the protocol itself: one unix socket connection that sends
// plist requests and reads the 16-byte-header packets that come back.
#pragma once

#include <endian.h>
#include <plist/plist.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/devsim/DeviceClient.h"

namespace devsimtest {

class UsbmuxClient {
  public:
    explicit UsbmuxClient(const std::string& socketPath) {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        timeval tv{10, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~UsbmuxClient() { close(fd_); }
    UsbmuxClient(const UsbmuxClient&) = delete;
    UsbmuxClient& operator=(const UsbmuxClient&) = delete;

    bool Connected() const { return connected_; }
    int Fd() const { return fd_; }

    // Sends {MessageType: type, ...extra} with `tag`.
    bool Request(const std::string& type, plist_t extra = nullptr, uint32_t tag = 7) {
        Plist dict(extra != nullptr ? plist_copy(extra) : plist_new_dict());
        plist_dict_set_item(dict.get(), "MessageType", plist_new_string(type.c_str()));
        plist_dict_set_item(dict.get(), "ProgName", plist_new_string("devsim-tests"));
        char* xml = nullptr;
        uint32_t length = 0;
        plist_to_xml(dict.get(), &xml, &length);
        const uint32_t header[4] = {htole32(16 + length), htole32(1), htole32(8), htole32(tag)};
        std::string packet(reinterpret_cast<const char*>(header), sizeof header);
        packet.append(xml, length);
        std::free(xml);
        return send(fd_, packet.data(), packet.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(packet.size());
    }

    // Reads one packet; null on failure. `tag` receives the packet's tag.
    Plist Receive(uint32_t* tag = nullptr) {
        uint32_t header[4];
        if (recv(fd_, header, sizeof header, MSG_WAITALL) != sizeof header) {
            return Plist();
        }
        if (tag != nullptr) {
            *tag = le32toh(header[3]);
        }
        const uint32_t total = le32toh(header[0]);
        if (total < 16) {
            return Plist();
        }
        std::string body(total - 16, '\0');
        if (!body.empty() &&
            recv(fd_, body.data(), body.size(), MSG_WAITALL) != static_cast<ssize_t>(body.size())) {
            return Plist();
        }
        plist_t node = nullptr;
        plist_from_xml(body.data(), static_cast<uint32_t>(body.size()), &node);
        return Plist(node);
    }

    // The "Number" of a Result message, or -1.
    static int64_t ResultNumber(plist_t reply) {
        plist_t n = reply != nullptr ? plist_dict_get_item(reply, "Number") : nullptr;
        uint64_t v = 0;
        if (n == nullptr || plist_get_node_type(n) != PLIST_UINT) {
            return -1;
        }
        plist_get_uint_val(n, &v);
        return static_cast<int64_t>(v);
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
};

}  // namespace devsimtest
