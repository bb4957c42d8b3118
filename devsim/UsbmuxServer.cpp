#include "devsim/UsbmuxServer.h"

#include <arpa/inet.h>
#include <endian.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "devsim/Connection.h"
#include "devsim/Phone.h"
#include "devsim/PlistUtil.h"

namespace devsim {
namespace {

struct UsbmuxHeader {
    uint32_t length;  // header included
    uint32_t version;
    uint32_t message;
    uint32_t tag;
};
static_assert(sizeof(UsbmuxHeader) == 16);

constexpr uint32_t kMessageResult = 1;
constexpr uint32_t kMessagePlist = 8;
constexpr uint32_t kMaxPacket = 1u << 20;

// Result numbers of the usbmux protocol.
constexpr uint64_t kResultOk = 0;
constexpr uint64_t kResultBadCommand = 1;
constexpr uint64_t kResultBadDevice = 2;
constexpr uint64_t kResultConnectionRefused = 3;
constexpr uint64_t kResultBadVersion = 6;

bool SendPacket(Connection& c, uint32_t version, uint32_t message, uint32_t tag,
                const std::string& payload) {
    UsbmuxHeader h{htole32(static_cast<uint32_t>(sizeof(UsbmuxHeader) + payload.size())),
                   htole32(version), htole32(message), htole32(tag)};
    iovec parts[2] = {{&h, sizeof h}, {const_cast<char*>(payload.data()), payload.size()}};
    return c.SendV(parts, payload.empty() ? 1 : 2);
}

bool SendPlist(Connection& c, uint32_t tag, plist_t node) {
    return SendPacket(c, 1, kMessagePlist, tag, ToXml(node));
}

bool SendResult(Connection& c, uint32_t tag, uint64_t number) {
    PlistPtr dict(plist_new_dict());
    plist_dict_set_item(dict.get(), "MessageType", plist_new_string("Result"));
    plist_dict_set_item(dict.get(), "Number", plist_new_uint(number));
    return SendPlist(c, tag, dict.get());
}

plist_t DeviceProperties(Phone& phone) {
    plist_t props = plist_new_dict();
    plist_dict_set_item(props, "ConnectionSpeed", plist_new_uint(480000000));
    plist_dict_set_item(props, "ConnectionType", plist_new_string("USB"));
    plist_dict_set_item(props, "DeviceID", plist_new_uint(Phone::kDeviceId));
    plist_dict_set_item(props, "LocationID", plist_new_uint(0x14100000));
    plist_dict_set_item(props, "ProductID", plist_new_uint(0x12a8));
    plist_dict_set_item(props, "SerialNumber", plist_new_string(phone.State().Udid().c_str()));
    return props;
}

plist_t AttachedMessage(Phone& phone) {
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "DeviceID", plist_new_uint(Phone::kDeviceId));
    plist_dict_set_item(dict, "MessageType", plist_new_string("Attached"));
    plist_dict_set_item(dict, "Properties", DeviceProperties(phone));
    return dict;
}

}  // namespace

UsbmuxServer::UsbmuxServer(Phone& phone, std::string socketPath)
    : phone_(phone), socketPath_(std::move(socketPath)) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC);
    phone_.SetDetachHandler([this] { SendDetached(); });
}

UsbmuxServer::~UsbmuxServer() {
    phone_.SetDetachHandler(nullptr);
    if (listenFd_ >= 0) {
        close(listenFd_);
        unlink(socketPath_.c_str());
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

bool UsbmuxServer::Start(std::string& error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath_.empty() || socketPath_.size() >= sizeof addr.sun_path) {
        error = "socket path is empty or too long: " + socketPath_;
        return false;
    }
    std::memcpy(addr.sun_path, socketPath_.c_str(), socketPath_.size() + 1);

    // A socket file with a live server behind it is left alone; a stale one is replaced.
    if (access(socketPath_.c_str(), F_OK) == 0) {
        const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool live =
            probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0) {
            close(probe);
        }
        if (live) {
            error = "another server answers on " + socketPath_;
            return false;
        }
        unlink(socketPath_.c_str());
    }

    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listenFd_, 64) != 0) {
        error = "cannot listen on " + socketPath_ + ": " + std::strerror(errno);
        if (listenFd_ >= 0) {
            close(listenFd_);
            listenFd_ = -1;
        }
        return false;
    }
    return true;
}

void UsbmuxServer::Stop() {
    const uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) < 0) {
        // Nothing else can be done: the eventfd only fails when its counter overflows.
    }
}

void UsbmuxServer::ReapFinished() {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

void UsbmuxServer::Run(int stopFd) {
    for (;;) {
        pollfd fds[3] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}, {stopFd, POLLIN, 0}};
        const int n = poll(fds, stopFd >= 0 ? 3 : 2, 1000);
        if (n < 0 && errno != EINTR) {
            break;
        }
        if ((fds[1].revents | (stopFd >= 0 ? fds[2].revents : 0)) != 0) {
            break;
        }
        ReapFinished();
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        auto connection = std::make_shared<Connection>(fd);
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::lock_guard<std::mutex> lock(clientsMutex_);
        clients_.push_back(Client{std::thread([this, connection, done] {
                                      HandleClient(connection);
                                      done->store(true);
                                  }),
                                  connection, done});
    }

    // Stop: no new clients, every open connection shut down, every thread joined.
    close(listenFd_);
    listenFd_ = -1;
    unlink(socketPath_.c_str());
    std::vector<Client> clients;
    {
        std::lock_guard<std::mutex> lock(clientsMutex_);
        clients.swap(clients_);
    }
    for (Client& c : clients) {
        c.connection->Shutdown();
    }
    phone_.Locks().Wake();
    for (Client& c : clients) {
        c.thread.join();
    }
}

void UsbmuxServer::SendDetached() {
    PlistPtr dict(plist_new_dict());
    plist_dict_set_item(dict.get(), "DeviceID", plist_new_uint(Phone::kDeviceId));
    plist_dict_set_item(dict.get(), "MessageType", plist_new_string("Detached"));
    std::lock_guard<std::mutex> lock(listenersMutex_);
    for (const auto& listener : listeners_) {
        SendPlist(*listener, 0, dict.get());
    }
}

void UsbmuxServer::HandleClient(const std::shared_ptr<Connection>& connection) {
    Connection& c = *connection;
    for (;;) {
        UsbmuxHeader h{};
        if (!c.RecvAll(&h, sizeof h)) {
            return;
        }
        const uint32_t length = le32toh(h.length);
        const uint32_t tag = le32toh(h.tag);
        if (length < sizeof h || length > kMaxPacket) {
            return;
        }
        std::string payload(length - sizeof h, '\0');
        if (!payload.empty() && !c.RecvAll(payload.data(), payload.size())) {
            return;
        }
        if (le32toh(h.message) != kMessagePlist) {
            // The binary protocol of old clients: tell them to use plists.
            const uint32_t result = htole32(static_cast<uint32_t>(kResultBadVersion));
            SendPacket(c, 0, kMessageResult, tag,
                       std::string(reinterpret_cast<const char*>(&result), sizeof result));
            continue;
        }
        PlistPtr request = ParsePlist(payload);
        const std::string type = DictString(request.get(), "MessageType").value_or("");

        if (type == "ListDevices") {
            PlistPtr reply(plist_new_dict());
            plist_t list = plist_new_array();
            if (phone_.Attached()) {
                plist_array_append_item(list, AttachedMessage(phone_));
            }
            plist_dict_set_item(reply.get(), "DeviceList", list);
            if (!SendPlist(c, tag, reply.get())) {
                return;
            }
        } else if (type == "Listen") {
            {
                std::lock_guard<std::mutex> lock(listenersMutex_);
                if (!SendResult(c, tag, kResultOk)) {
                    return;
                }
                if (phone_.Attached()) {
                    PlistPtr attached(AttachedMessage(phone_));
                    SendPlist(c, 0, attached.get());
                }
                listeners_.push_back(connection);
            }
            c.DrainUntilClosed();
            std::lock_guard<std::mutex> lock(listenersMutex_);
            listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), connection),
                             listeners_.end());
            return;
        } else if (type == "Connect") {
            const uint64_t device = DictUint(request.get(), "DeviceID").value_or(0);
            // libusbmuxd sends the port in network byte order inside the integer.
            const uint16_t port =
                ntohs(static_cast<uint16_t>(DictUint(request.get(), "PortNumber").value_or(0)));
            if (device != Phone::kDeviceId || !phone_.Attached()) {
                SendResult(c, tag, kResultBadDevice);
                return;
            }
            std::optional<std::string> service = phone_.ClaimPort(port);
            if (!service) {
                SendResult(c, tag, kResultConnectionRefused);
                return;
            }
            if (!SendResult(c, tag, kResultOk)) {
                return;
            }
            phone_.Serve(connection, *service);
            return;
        } else if (type == "ReadPairRecord") {
            const std::string id = DictString(request.get(), "PairRecordID").value_or("");
            PlistPtr record = phone_.State().PairRecord();
            if (id != phone_.State().Udid() || !record) {
                if (!SendResult(c, tag, kResultBadDevice)) {
                    return;
                }
                continue;
            }
            PlistPtr reply(plist_new_dict());
            plist_dict_set_item(reply.get(), "PairRecordData", NewData(ToXml(record.get())));
            if (!SendPlist(c, tag, reply.get())) {
                return;
            }
        } else if (type == "ReadBUID") {
            PlistPtr record = phone_.State().PairRecord();
            PlistPtr reply(plist_new_dict());
            const std::string buid = DictString(record.get(), "SystemBUID").value_or("");
            plist_dict_set_item(reply.get(), "BUID", plist_new_string(buid.c_str()));
            if (!SendPlist(c, tag, reply.get())) {
                return;
            }
        } else if (type == "SavePairRecord") {
            const std::optional<std::string> data = DictData(request.get(), "PairRecordData");
            PlistPtr record = data ? ParsePlist(*data) : PlistPtr();
            uint64_t result = kResultBadCommand;
            if (record && plist_get_node_type(record.get()) == PLIST_DICT &&
                DictString(request.get(), "PairRecordID").value_or("") == phone_.State().Udid()) {
                result =
                    phone_.State().SetPairRecord(record.get()) == 0 ? kResultOk : kResultBadCommand;
            }
            if (!SendResult(c, tag, result)) {
                return;
            }
        } else if (type == "DeletePairRecord") {
            // The phone's pairing is part of the simulated setup and outlives a delete.
            if (!SendResult(c, tag, kResultOk)) {
                return;
            }
        } else {
            if (!SendResult(c, tag, kResultBadCommand)) {
                return;
            }
        }
    }
}

}  // namespace devsim
