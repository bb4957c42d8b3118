#include "devsim/DeviceLink.h"

#include <arpa/inet.h>

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
    : phone_(phone), connection_(connection), buffer_(kReadChunk), spare_(kReadChunk) {}

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
        case Phone::LinkAction::Disconnect: {
            // Not counted: the fault has already fired.
            PlistPtr bye(plist_new_array());
            plist_array_append_item(bye.get(), plist_new_string("DLMessageDisconnect"));
            plist_array_append_item(bye.get(), plist_new_string(kEmptyParameter));
            phone_.Events().Append("disconnect after-messages");
            SendFramedPlist(connection_, bye.get(), true);
            connection_.Shutdown();
            throw LinkClosed();
        }
        case Phone::LinkAction::Close:
            phone_.Events().Append("closed after-messages");
            connection_.Shutdown();
            throw LinkClosed();
    }
}

void DeviceLink::Send(plist_t message) {
    FlushPending();
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
    FlushPending();
    if (!connection_.SendAll(bytes.data(), bytes.size())) {
        throw LinkClosed();
    }
}

void DeviceLink::SendEndOfList() {
    const uint32_t zero = 0;
    pending_.append(reinterpret_cast<const char*>(&zero), 4);
    FlushPending();
}

// Sends `size` bytes as data blocks (and, with `finish`, the end-of-file block), several blocks
// per system call, after whatever is pending. Stops half-way, unplugging, when the byte fault
// says so.
void DeviceLink::SendBlocks(const char* data, size_t size, bool finish) {
    constexpr int kMaxBlocks = static_cast<int>(kReadChunk / kBlockPayload);
    // Per block 5 header bytes: the length (payload + code) and the code.
    uint32_t headers[kMaxBlocks + 1][2];
    iovec parts[2 * kMaxBlocks + 2];
    while (size > 0 || finish) {
        int count = 0;
        int h = 0;
        if (!pending_.empty()) {
            parts[count++] = {pending_.data(), pending_.size()};
        }
        uint64_t carried = 0;
        const uint64_t allowance = phone_.FileBytesAllowance();
        while (size > 0 && h < kMaxBlocks && carried < allowance) {
            const size_t n = std::min<uint64_t>({size, kBlockPayload, allowance - carried});
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
        if (size == 0 && finish) {
            headers[h][0] = htonl(1);
            reinterpret_cast<uint8_t*>(&headers[h][1])[0] = kBlockSuccess;
            parts[count++] = {reinterpret_cast<char*>(headers[h]), 5};
            finish = false;
        }
        if (count > 0 && !connection_.SendV(parts, count)) {
            pending_.clear();
            throw LinkClosed();
        }
        pending_.clear();
        if (carried > 0) {
            CountBytes(carried);
        }
        if (limitReached) {
            // CountBytes has unplugged already when the allowance ran out; never spin on zero.
            phone_.Unplug("after-bytes");
            throw LinkClosed();
        }
    }
}

uint64_t DeviceLink::SendFile(const std::string& deviceName, const std::string& backupName,
                              FileSource& source) {
    // The names go out with the first data blocks, in one write.
    QueueName(deviceName);
    QueueName(backupName);
    uint64_t sent = 0;
    // One piece ahead, so the last data blocks and the end-of-file block share a write.
    long n = source.Next(buffer_.data(), buffer_.size());
    std::vector<char>& next = spare_;
    while (n > 0) {
        const long m = source.Next(next.data(), next.size());
        SendBlocks(buffer_.data(), static_cast<size_t>(n), m == 0);
        sent += static_cast<uint64_t>(n);
        if (m <= 0) {
            n = m;
            break;
        }
        buffer_.swap(next);
        n = m;
    }
    if (n == 0 && sent == 0) {
        SendBlocks(nullptr, 0, true);
    } else if (n < 0) {
        // The file could not be read to its end: a remote error block ends it.
        const std::string text = "Could not read file";
        const uint32_t len = htonl(static_cast<uint32_t>(text.size() + 1));
        pending_.append(reinterpret_cast<const char*>(&len), 4);
        pending_ += static_cast<char>(kBlockRemoteError);
        pending_ += text;
        FlushPending();
    }
    return sent;
}

void DeviceLink::SendFileBytes(const std::string& deviceName, const std::string& backupName,
                               const std::string& contents) {
    QueueName(deviceName);
    QueueName(backupName);
    SendBlocks(contents.data(), contents.size(), true);
}

void DeviceLink::SendFileError(const std::string& deviceName, const std::string& backupName,
                               const std::string& text) {
    QueueName(deviceName);
    QueueName(backupName);
    const uint32_t len = htonl(static_cast<uint32_t>(text.size() + 1));
    pending_.append(reinterpret_cast<const char*>(&len), 4);
    pending_ += static_cast<char>(kBlockRemoteError);
    pending_ += text;
    FlushPending();
}

void DeviceLink::QueueName(const std::string& name) {
    const uint32_t len = htonl(static_cast<uint32_t>(name.size()));
    pending_.append(reinterpret_cast<const char*>(&len), 4);
    pending_ += name;
}

void DeviceLink::FlushPending() {
    if (!pending_.empty() && !connection_.SendAll(pending_.data(), pending_.size())) {
        pending_.clear();
        throw LinkClosed();
    }
    pending_.clear();
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
            // A status or error text; anything longer than a name can be is not one.
            if (left > kMaxNameLength) {
                throw LinkClosed();
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
