#include "engine/DeviceLink.h"

#include <libimobiledevice/mobilebackup2.h>

#include <cstdlib>

#include "engine/DeviceSession.h"

namespace tolvane {

BackupServiceLink::BackupServiceLink(DeviceSession& session) : session_(session) {}

int32_t BackupServiceLink::ReceiveMessage(platform::PlistPtr& message, std::string& name) {
    message.reset();
    name.clear();
    if (session_.BackupClient() == nullptr) {
        return MOBILEBACKUP2_E_INVALID_ARG;
    }
    plist_t raw = nullptr;
    char* rawName = nullptr;
    const mobilebackup2_error_t err =
        mobilebackup2_receive_message(session_.BackupClient(), &raw, &rawName);
    message.reset(raw);
    if (rawName != nullptr) {
        name = rawName;
        std::free(rawName);
    }
    return err;
}

int32_t BackupServiceLink::SendStatusResponse(int32_t code, const char* text, plist_t dictionary) {
    if (session_.BackupClient() == nullptr) {
        return MOBILEBACKUP2_E_INVALID_ARG;
    }
    return mobilebackup2_send_status_response(session_.BackupClient(), code, text, dictionary);
}

int32_t BackupServiceLink::SendRaw(const char* data, uint32_t length, uint32_t& done) {
    done = 0;
    if (session_.BackupClient() == nullptr) {
        return MOBILEBACKUP2_E_INVALID_ARG;
    }
    return mobilebackup2_send_raw(session_.BackupClient(), data, length, &done);
}

int32_t BackupServiceLink::ReceiveRaw(char* data, uint32_t length, uint32_t& done) {
    done = 0;
    if (session_.BackupClient() == nullptr) {
        return MOBILEBACKUP2_E_INVALID_ARG;
    }
    return mobilebackup2_receive_raw(session_.BackupClient(), data, length, &done);
}

bool BackupServiceLink::IsDevicePresent() {
    return session_.IsDevicePresent();
}

bool SendAll(DeviceLink& link, const char* data, uint32_t length, uint32_t* sent) {
    uint32_t total = 0;
    bool ok = true;
    while (total < length) {
        uint32_t done = 0;
        const int32_t err = link.SendRaw(data + total, length - total, done);
        total += done;
        if (done > 0 && link.onBytesTaken) {
            link.onBytesTaken();
        }
        if (err != 0 || done == 0) {
            ok = total == length;
            break;
        }
    }
    if (sent != nullptr) {
        *sent = total;
    }
    return ok;
}

}  // namespace tolvane
