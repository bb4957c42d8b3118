// The device side of a device-link connection (mobilebackup2): binary plist messages in 4-byte
// big-endian frames, the status responses of the computer, and the raw file-transfer framing
// that travels between a message and its status response:
//
//   name     [length][bytes]                 (a zero length ends a list of names)
//   block    [length = n + 1][code][n bytes] (0x0C data, 0x00 end of file, 0x06/0x0B error text)
//
// Every message the phone sends is counted for the fault flags; when a fault fires the link
// unplugs the phone or goes silent and then throws LinkClosed, as it does when the computer
// closes the connection. LinkClosed never leaves the service that owns the link.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "devsim/FileSource.h"
#include "devsim/PlistUtil.h"

namespace devsim {

class Connection;
class Phone;

struct LinkClosed : std::exception {
    const char* what() const noexcept override { return "device link closed"; }
};

// Codes of the transfer blocks.
inline constexpr uint8_t kBlockFileData = 0x0C;
inline constexpr uint8_t kBlockSuccess = 0x00;
inline constexpr uint8_t kBlockLocalError = 0x06;
inline constexpr uint8_t kBlockRemoteError = 0x0B;

// Payload bytes per data block the phone sends.
inline constexpr size_t kBlockPayload = 32 * 1024;

class DeviceLink {
  public:
    DeviceLink(Phone& phone, Connection& connection);
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // The opening exchange: DLMessageVersionExchange, the computer's DLVersionsOk,
    // DLMessageDeviceReady. False when the computer does not agree.
    bool Handshake();

    // Sends a message (an array whose item 0 is the message name).
    void Send(plist_t message);
    // [DLMessageProcessMessage, dict]
    void SendProcessMessage(plist_t dict);
    // The next message from the computer (an array), or nullptr for something that is not one.
    PlistPtr Receive();

    struct Status {
        int64_t code = 0;
        std::string text;  // "" for the empty placeholder
        PlistPtr detail;   // the dictionary or value, null for the placeholder
    };
    // Waits for the computer's DLMessageStatusResponse, skipping nothing: any other message is a
    // protocol error and closes the link.
    Status ReceiveStatus();

    // --- raw transfer, phone → computer -------------------------------------------------
    // One file of an upload: the phone-side name, the name in the backup folder, the contents
    // from `source` in data blocks, and the end-of-file block (an error block when the source
    // fails half-way, as a phone does for a file it cannot read). Returns the bytes sent.
    uint64_t SendFile(const std::string& deviceName, const std::string& backupName,
                      FileSource& source);
    // The same with contents from memory.
    void SendFileBytes(const std::string& deviceName, const std::string& backupName,
                       const std::string& contents);
    // A name whose contents are an error block instead of data (as a phone does for a file it
    // cannot read).
    void SendFileError(const std::string& deviceName, const std::string& backupName,
                       const std::string& text);
    void SendEndOfList();
    // Raw bytes as they are (used for malformed names).
    void SendRawBytes(const std::string& bytes);

    // --- raw transfer, computer → phone (answers to DLMessageDownloadFiles) -------------
    struct Incoming {
        std::string name;
        bool ok = false;        // ended with the success block
        std::string errorText;  // the text of an error block
        uint64_t size = 0;
    };
    // Receives the files the computer sends until the end of the list. For each name,
    // `open(name)` gives a sink that receives the file's data pieces (may be empty to drop them).
    using Sink = std::function<void(const char* data, size_t size)>;
    std::vector<Incoming> ReceiveFiles(const std::function<Sink(const std::string&)>& open);

    uint64_t MessagesSent() const { return sent_; }

  private:
    void AfterMessageSent();
    // Bytes that go out with the next write (names ahead of their file's first blocks).
    void QueueName(const std::string& name);
    void FlushPending();
    void SendBlocks(const char* data, size_t size, bool finish);
    void CountBytes(uint64_t bytes);
    uint32_t ReceiveLength();

    Phone& phone_;
    Connection& connection_;
    uint64_t sent_ = 0;
    std::vector<char> buffer_;
    std::vector<char> spare_;
    std::string pending_;
};

}  // namespace devsim
