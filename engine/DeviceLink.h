// The connection that a device-link conversation runs on: the phone's messages, the status
// responses that answer them, and the raw bytes of file transfers in between.
//
// The conversation code (MessageLoop, FileTransfer) talks only to this interface, so it runs the
// same on the phone's backup service and on an in-memory peer in the tests.
#pragma once

#include <plist/plist.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Handles.h"

namespace tolvane {

class DeviceSession;

class DeviceLink {
  public:
    virtual ~DeviceLink() = default;

    // One message and its name. 0 on success; otherwise the library's error (a timeout after a
    // silent wait included), with `message` null.
    virtual int32_t ReceiveMessage(platform::PlistPtr& message, std::string& name) = 0;

    // (code, text or null, dictionary or null) as a DLMessageStatusResponse. Returns the send
    // status, 0 when it went out.
    virtual int32_t SendStatusResponse(int32_t code, const char* text, plist_t dictionary) = 0;

    // Raw bytes. `done` is how many went out or came in; a receive may come back with fewer bytes
    // than asked for (0 after a silent wait) and still return 0.
    virtual int32_t SendRaw(const char* data, uint32_t length, uint32_t& done) = 0;
    virtual int32_t ReceiveRaw(char* data, uint32_t length, uint32_t& done) = 0;

    // Whether the phone still answers (asked after a silent wait).
    virtual bool IsDevicePresent() = 0;

    // Called by SendAll whenever the phone has taken bytes: a phone that takes a long file is
    // not silent.
    std::function<void()> onBytesTaken;
};

// The link over the session's mobilebackup2 client; presence is the session's IsDevicePresent.
class BackupServiceLink : public DeviceLink {
  public:
    explicit BackupServiceLink(DeviceSession& session);
    int32_t ReceiveMessage(platform::PlistPtr& message, std::string& name) override;
    int32_t SendStatusResponse(int32_t code, const char* text, plist_t dictionary) override;
    int32_t SendRaw(const char* data, uint32_t length, uint32_t& done) override;
    int32_t ReceiveRaw(char* data, uint32_t length, uint32_t& done) override;
    bool IsDevicePresent() override;

  private:
    DeviceSession& session_;
};

// Sends all of `data`, repeating short sends. False when the link fails or stops taking bytes;
// `sent` then says how many went out.
bool SendAll(DeviceLink& link, const char* data, uint32_t length, uint32_t* sent = nullptr);

}  // namespace tolvane
