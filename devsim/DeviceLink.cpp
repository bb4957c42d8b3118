#include "devsim/DeviceLink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "devsim/Connection.h"
#include "devsim/Phone.h"

namespace devsim {
namespace {

constexpr char kEmptyParameter[] = "___EmptyParameterString___";
constexpr size_t kReadChunk = 256 * 1024;
constexpr uint32_t kMaxNameLength = 64 * 1024;

}  // namespace

DeviceLink::DeviceLink(Phone& phone, Connection& connection)
    : phone_(phone), connection_(connection), buffer_(kReadChunk) {}

DeviceLink::~DeviceLink() = default;

void DeviceLink::AfterMessageSent() {
    ++sent_;
    switch (phone_.CountMessageSent()) {
        case Phone::LinkAction::Continue:
            return;
        case Phone::LinkAction::Unplug:
            phone_.Unplug("after-messages");
            throw LinkClosed();
        case Phone::LinkAction::Silent:
            phone_.Events().Append("silent after-messages");
            connection_.DrainUntilClosed();
            throw LinkClosed();
    }
}

void DeviceLink::Send(plist_t message) {
    if (!SendFramedPlist(connection_, message, true)) {
        throw LinkClosed();
    }
    AfterMessageSent();
}

void DeviceLink::SendProcessMessage(plist_t dict) {
    PlistPtr message(plist_new_array());
    plist_array_append_item(message.get(), plist_new_string("DLMessageProcessMessage"));
    plist_array_append_item(message.get(), plist_copy(dict));
    Send(message.get());
}

PlistPtr DeviceLink::Receive() {
    PlistPtr message = ReceiveFramedPlist(connection_);
    if (!message) {
        throw LinkClosed();
    }
    return message;
}

bool DeviceLink::Handshake() {
    PlistPtr exchange(plist_new_array());
    plist_array_append_item(exchange.get(), plist_new_string("DLMessageVersionExchange"));
    plist_array_append_item(exchange.get(), plist_new_uint(300));
    plist_array_append_item(exchange.get(), plist_new_uint(0));
    Send(exchange.get());
    PlistPtr answer = Receive();
    if (ArrayString(answer.get(), 0).value_or("") != "DLMessageVersionExchange" ||
        ArrayString(answer.get(), 1).value_or("") != "DLVersionsOk") {
        return false;
    }
    PlistPtr ready(plist_new_array());
    plist_array_append_item(ready.get(), plist_new_string("DLMessageDeviceReady"));
    Send(ready.get());
    return true;
}

DeviceLink::Status DeviceLink::ReceiveStatus() {
    PlistPtr message = Receive();
    if (ArrayString(message.get(), 0).value_or("") != "DLMessageStatusResponse" ||
        plist_array_get_size(message.get()) < 4) {
        throw LinkClosed();
    }
    Status status;
    plist_t code = plist_array_get_item(message.get(), 1);
    if (code != nullptr && plist_get_node_type(code) == PLIST_UINT) {
        uint64_t value = 0;
        plist_get_uint_val(code, &value);
        // The library carries negative codes in an unsigned integer node.
        status.code = static_cast<int64_t>(value);
    }
    const std::string text = ArrayString(message.get(), 2).value_or("");
    status.text = text == kEmptyParameter ? std::string() : text;
    plist_t detail = plist_array_get_item(message.get(), 3);
    if (detail != nullptr && !(plist_get_node_type(detail) == PLIST_STRING &&
                               platform::PlistString(detail) == kEmptyParameter)) {
        status.detail.reset(plist_copy(detail));
    }
    return status;
}

void DeviceLink::CountBytes(uint64_t bytes) {
    if (phone_.CountFileBytes(bytes)) {
        phone_.Unplug("after-bytes");
        throw LinkClosed();
    }
}

void DeviceLink::SendRawBytes(const std::string& bytes) {
    if (!connection_.SendAll(bytes.data(), bytes.size())) {
        throw LinkClosed();
    }
}

void DeviceLink::SendEndOfList() {
    const uint32_t zero = 0;
    if (!connection_.SendAll(&zero, sizeof zero)) {
        throw LinkClosed();
    }
}

// Sends `size` bytes as data blocks (and, with `finish`, the end-of-file block), several blocks
// per system call. Stops half-way, unplugging, when the byte fault says so.
void DeviceLink::SendBlocks(const char* data, size_t size, bool finish) {
    constexpr int kMaxParts = 2 * (kReadChunk / kBlockPayload) + 1;
    uint32_t headers[kMaxParts / 2 + 1][2];
    iovec parts[kMaxParts + 1];
    while (size > 0 || finish) {
        int count = 0;
        int h = 0;
        uint64_t carried = 0;
        const uint64_t allowance = phone_.FileBytesAllowance();
        while (size > 0 && count + 2 <= kMaxParts && carried < allowance) {
            const size_t n = std::min<uint64_t>({size, kBlockPayload, allowance - carried});
            // 5 header bytes: the length (payload + code) and the code.
            headers[h][0] = htonl(static_cast<uint32_t>(n + 1));
            reinterpret_cast<uint8_t*>(&headers[h][1])[0] = kBlockFileData;
            parts[count++] = {reinterpret_cast<char*>(headers[h]), 5};
            parts[count++] = {const_cast<char*>(data), n};
            ++h;
            data += n;
            size -= n;
            carried += n;
        }
        const bool limitReached = size > 0 && carried >= allowance;
        if (size == 0 && finish && !limitReached) {
            headers[h][0] = htonl(1);
            reinterpret_cast<uint8_t*>(&headers[h][1])[0] = kBlockSuccess;
            parts[count++] = {reinterpret_cast<char*>(headers[h]), 5};
            finish = false;
        }
        if (count > 0 && !connection_.SendV(parts, count)) {
            throw LinkClosed();
        }
        if (carried > 0) {
            CountBytes(carried);
        }
        if (limitReached) {
            // The allowance ran out without CountBytes reaching it: cannot happen, but never
            // spin on a zero allowance.
            phone_.Unplug("after-bytes");
            throw LinkClosed();
        }
    }
}

void DeviceLink::SendFile(const std::string& deviceName, const std::string& backupName,
                          const std::string& localPath, uint64_t fileSize) {
    const int fd = open(localPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SendFileError(deviceName, backupName, std::strerror(errno));
        return;
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};

    // Both names in one write.
    const uint32_t l1 = htonl(static_cast<uint32_t>(deviceName.size()));
    const uint32_t l2 = htonl(static_cast<uint32_t>(backupName.size()));
    iovec names[4] = {{const_cast<uint32_t*>(&l1), 4},
                      {const_cast<char*>(deviceName.data()), deviceName.size()},
                      {const_cast<uint32_t*>(&l2), 4},
                      {const_cast<char*>(backupName.data()), backupName.size()}};
    if (!connection_.SendV(names, 4)) {
        throw LinkClosed();
    }
    uint64_t offset = 0;
    while (offset < fileSize) {
        const size_t want = std::min<uint64_t>(buffer_.size(), fileSize - offset);
        const ssize_t n = pread(fd, buffer_.data(), want, static_cast<off_t>(offset));
        if (n <= 0) {
            // The file shrank under the phone: end it with an error block, as a phone does.
            const std::string text = "read error";
            const uint32_t len = htonl(static_cast<uint32_t>(text.size() + 1));
            const uint8_t code = kBlockRemoteError;
            iovec err[3] = {{const_cast<uint32_t*>(&len), 4},
                            {const_cast<uint8_t*>(&code), 1},
                            {const_cast<char*>(text.data()), text.size()}};
            if (!connection_.SendV(err, 3)) {
                throw LinkClosed();
            }
            return;
        }
        offset += static_cast<uint64_t>(n);
        SendBlocks(buffer_.data(), static_cast<size_t>(n), offset >= fileSize);
    }
    if (fileSize == 0) {
        SendBlocks(nullptr, 0, true);
    }
}

void DeviceLink::SendFileBytes(const std::string& deviceName, const std::string& backupName,
                               const std::string& contents) {
    const uint32_t l1 = htonl(static_cast<uint32_t>(deviceName.size()));
    const uint32_t l2 = htonl(static_cast<uint32_t>(backupName.size()));
    iovec names[4] = {{const_cast<uint32_t*>(&l1), 4},
                      {const_cast<char*>(deviceName.data()), deviceName.size()},
                      {const_cast<uint32_t*>(&l2), 4},
                      {const_cast<char*>(backupName.data()), backupName.size()}};
    if (!connection_.SendV(names, 4)) {
        throw LinkClosed();
    }
    SendBlocks(contents.data(), contents.size(), true);
}

void DeviceLink::SendFileError(const std::string& deviceName, const std::string& backupName,
                               const std::string& text) {
    const uint32_t l1 = htonl(static_cast<uint32_t>(deviceName.size()));
    const uint32_t l2 = htonl(static_cast<uint32_t>(backupName.size()));
    const uint32_t l3 = htonl(static_cast<uint32_t>(text.size() + 1));
    const uint8_t code = kBlockRemoteError;
    iovec parts[7] = {{const_cast<uint32_t*>(&l1), 4},
                      {const_cast<char*>(deviceName.data()), deviceName.size()},
                      {const_cast<uint32_t*>(&l2), 4},
                      {const_cast<char*>(backupName.data()), backupName.size()},
                      {const_cast<uint32_t*>(&l3), 4},
                      {const_cast<uint8_t*>(&code), 1},
                      {const_cast<char*>(text.data()), text.size()}};
    if (!connection_.SendV(parts, 7)) {
        throw LinkClosed();
    }
}

uint32_t DeviceLink::ReceiveLength() {
    uint32_t length = 0;
    if (!connection_.RecvAll(&length, sizeof length)) {
        throw LinkClosed();
    }
    return ntohl(length);
}

std::vector<DeviceLink::Incoming> DeviceLink::ReceiveFiles(
    const std::function<Sink(const std::string&)>& open) {
    std::vector<Incoming> files;
    for (;;) {
        const uint32_t nameLength = ReceiveLength();
        if (nameLength == 0) {
            return files;
        }
        if (nameLength > kMaxNameLength) {
            throw LinkClosed();
        }
        Incoming in;
        in.name.resize(nameLength);
        if (!connection_.RecvAll(in.name.data(), nameLength)) {
            throw LinkClosed();
        }
        Sink sink = open(in.name);
        for (;;) {
            const uint32_t length = ReceiveLength();
            if (length == 0) {
                // The list ended inside a file: the file is incomplete and the list is over.
                files.push_back(std::move(in));
                return files;
            }
            uint8_t code = 0;
            if (!connection_.RecvAll(&code, 1)) {
                throw LinkClosed();
            }
            uint64_t left = length - 1;
            if (code == kBlockFileData) {
                while (left > 0) {
                    const uint64_t allowance = phone_.FileBytesAllowance();
                    const size_t want = std::min<uint64_t>({left, buffer_.size(), allowance});
                    if (want == 0) {
                        phone_.Unplug("after-bytes");
                        throw LinkClosed();
                    }
                    if (!connection_.RecvAll(buffer_.data(), want)) {
                        throw LinkClosed();
                    }
                    if (sink) {
                        sink(buffer_.data(), want);
                    }
                    in.size += want;
                    left -= want;
                    CountBytes(want);
                }
                continue;
            }
            std::string text(left, '\0');
            if (left > 0 && !connection_.RecvAll(text.data(), left)) {
                throw LinkClosed();
            }
            if (code == kBlockSuccess) {
                in.ok = true;
            } else {
                in.errorText = text;
            }
            break;
        }
        files.push_back(std::move(in));
    }
}

}  // namespace devsim
