#include "bench/common/RawClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace devsimclient {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

bool ReceiveAll(mobilebackup2_client_t client, void* data, uint32_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        uint32_t got = 0;
        if (mobilebackup2_receive_raw(client, p, size, &got) != MOBILEBACKUP2_E_SUCCESS ||
            got == 0) {
            return false;
        }
        p += got;
        size -= got;
    }
    return true;
}

bool SendAll(mobilebackup2_client_t client, const void* data, uint32_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        uint32_t sent = 0;
        if (mobilebackup2_send_raw(client, p, size, &sent) != MOBILEBACKUP2_E_SUCCESS ||
            sent == 0) {
            return false;
        }
        p += sent;
        size -= sent;
    }
    return true;
}

bool ReceiveLength(mobilebackup2_client_t client, uint32_t& value) {
    if (!ReceiveAll(client, &value, 4)) {
        return false;
    }
    value = ntohl(value);
    return true;
}

bool SendLength(mobilebackup2_client_t client, uint32_t value) {
    value = htonl(value);
    return SendAll(client, &value, 4);
}

bool WithBackupClient(const std::function<void(mobilebackup2_client_t, const std::string&)>& body) {
    idevice_t device = nullptr;
    lockdownd_client_t lockdown = nullptr;
    lockdownd_service_descriptor_t service = nullptr;
    mobilebackup2_client_t client = nullptr;
    char* udid = nullptr;
    bool ok = false;
    if (idevice_new(&device, nullptr) == IDEVICE_E_SUCCESS &&
        idevice_get_udid(device, &udid) == IDEVICE_E_SUCCESS &&
        lockdownd_client_new_with_handshake(device, &lockdown, "bench") == LOCKDOWN_E_SUCCESS &&
        lockdownd_start_service(lockdown, "com.apple.mobilebackup2", &service) ==
            LOCKDOWN_E_SUCCESS &&
        mobilebackup2_client_new(device, service, &client) == MOBILEBACKUP2_E_SUCCESS) {
        double versions[] = {2.0, 2.1};
        double remote = 0;
        if (mobilebackup2_version_exchange(client, versions, 2, &remote) ==
            MOBILEBACKUP2_E_SUCCESS) {
            body(client, udid);
            ok = true;
        }
    }
    free(udid);
    if (client != nullptr) {
        mobilebackup2_client_free(client);
    }
    lockdownd_service_descriptor_free(service);
    if (lockdown != nullptr) {
        lockdownd_client_free(lockdown);
    }
    if (device != nullptr) {
        idevice_free(device);
    }
    return ok;
}

RawClient::RawClient(mobilebackup2_client_t c) : c_(c), buf_(1 << 20) {}

Transfer RawClient::Backup(const std::string& udid) {
    Transfer t;
    const auto start = Clock::now();
    if (mobilebackup2_send_request(c_, "Backup", udid.c_str(), udid.c_str(), nullptr) !=
        MOBILEBACKUP2_E_SUCCESS) {
        return t;
    }
    t.ok = Converse([&](const std::string& name, plist_t) {
        if (name == "DLMessageUploadFiles") {
            if (!Upload(t)) {
                return false;
            }
            mobilebackup2_send_status_response(c_, 0, nullptr, nullptr);
        } else if (name == "DLMessageGetFreeDiskSpace") {
            plist_t free = plist_new_uint(1ull << 42);
            mobilebackup2_send_status_response(c_, 0, nullptr, free);
            plist_free(free);
        } else {
            // Listing, folders, moves, removes, copies: nothing is kept, so all went well.
            EmptyReply();
        }
        return true;
    });
    t.seconds = Seconds(start);
    return t;
}

Transfer RawClient::Restore(const std::string& udid, const std::string& folder,
                            const std::string& source) {
    Transfer t;
    const auto start = Clock::now();
    plist_t options = plist_new_dict();
    plist_dict_set_item(options, "RestoreSystemFiles", plist_new_bool(0));
    const bool sent = mobilebackup2_send_request(c_, "Restore", udid.c_str(), source.c_str(),
                                                 options) == MOBILEBACKUP2_E_SUCCESS;
    plist_free(options);
    if (!sent) {
        return t;
    }
    t.ok = Converse([&](const std::string& name, plist_t message) {
        if (name == "DLMessageDownloadFiles") {
            return Download(folder, plist_array_get_item(message, 1), t);
        }
        EmptyReply();
        return true;
    });
    t.seconds = Seconds(start);
    return t;
}

// Receives messages until the phone ends; true when it ended without an error.
bool RawClient::Converse(const std::function<bool(const std::string&, plist_t)>& handle) {
    for (;;) {
        plist_t msg = nullptr;
        char* raw = nullptr;
        if (mobilebackup2_receive_message(c_, &msg, &raw) != MOBILEBACKUP2_E_SUCCESS ||
            raw == nullptr) {
            plist_free(msg);
            return false;
        }
        const std::string name = raw;
        free(raw);
        if (name == "DLMessageDisconnect") {
            plist_free(msg);
            return true;
        }
        if (name == "DLMessageProcessMessage") {
            plist_t code = plist_dict_get_item(plist_array_get_item(msg, 1), "ErrorCode");
            uint64_t v = 1;
            plist_get_uint_val(code, &v);
            plist_free(msg);
            return v == 0;
        }
        const bool ok = handle(name, msg);
        plist_free(msg);
        if (!ok) {
            return false;
        }
    }
}

void RawClient::EmptyReply() {
    plist_t empty = plist_new_dict();
    mobilebackup2_send_status_response(c_, 0, nullptr, empty);
    plist_free(empty);
}

bool RawClient::Download(const std::string& folder, plist_t names, Transfer& t) {
    const uint32_t count = plist_array_get_size(names);
    for (uint32_t i = 0; i < count; ++i) {
        char* raw = nullptr;
        plist_get_string_val(plist_array_get_item(names, i), &raw);
        const std::string name = raw != nullptr ? raw : "";
        free(raw);
        if (!SendLength(c_, static_cast<uint32_t>(name.size())) ||
            !SendAll(c_, name.data(), static_cast<uint32_t>(name.size()))) {
            return false;
        }
        const int fd = open((folder + "/" + name).c_str(), O_RDONLY);
        if (fd < 0) {
            return false;
        }
        for (;;) {
            const ssize_t n = read(fd, buf_.data() + 5, 32768);
            if (n <= 0) {
                break;
            }
            const uint32_t len = htonl(static_cast<uint32_t>(n) + 1);
            std::memcpy(buf_.data(), &len, 4);
            buf_[4] = 0x0C;
            if (!SendAll(c_, buf_.data(), static_cast<uint32_t>(n) + 5)) {
                close(fd);
                return false;
            }
            t.bytes += static_cast<uint64_t>(n);
        }
        close(fd);
        const char success[5] = {0, 0, 0, 1, 0};
        if (!SendAll(c_, success, 5)) {
            return false;
        }
        ++t.files;
    }
    if (!SendLength(c_, 0)) {
        return false;
    }
    EmptyReply();
    return true;
}

bool RawClient::Skip(uint32_t n) {
    while (n > 0) {
        const uint32_t piece = std::min<uint32_t>(n, static_cast<uint32_t>(buf_.size()));
        if (!ReceiveAll(c_, buf_.data(), piece)) {
            return false;
        }
        n -= piece;
    }
    return true;
}

// Reads one upload and drops it: names, blocks, the end of the list.
bool RawClient::Upload(Transfer& t) {
    for (;;) {
        uint32_t n = 0;
        if (!ReceiveLength(c_, n)) {
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (!Skip(n) || !ReceiveLength(c_, n) || !Skip(n)) {
            return false;
        }
        for (;;) {
            uint32_t len = 0;
            uint8_t code = 0;
            if (!ReceiveLength(c_, len) || len == 0 || !ReceiveAll(c_, &code, 1) ||
                !Skip(len - 1)) {
                return false;
            }
            if (code != 0x0C) {
                break;
            }
            t.bytes += len - 1;
        }
        ++t.files;
    }
}

}  // namespace devsimclient
