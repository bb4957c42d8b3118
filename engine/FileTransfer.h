// File contents between the computer and the phone, in the raw framing of the backup service:
// DLMessageDownloadFiles (the phone asks for files of the backup folder) and DLMessageUploadFiles
// (the phone sends the files of a backup).
//
// Framing (all lengths 32-bit big-endian): a name is [length][bytes], a zero length ends a list of
// names; a block is [length L][code][L - 1 bytes], codes 0x00 success, 0x06 local error, 0x0B
// remote error, 0x0C file data (at most 32768 bytes).
//
// Receiving, per file: names -> blocks -> end of file. The data goes to a FileWriter, which gathers
// it into a few buffers and writes them, on the receiving thread, into a hidden partial file, and
// renames that onto the target only when the phone ends the file with the success block; every
// other end (an error block, a broken connection, a phone that went away, a local write error)
// deletes the partial file. So a name in the backup folder always holds a complete file. Names that
// would leave the backup folder, and files that cannot be stored, are read off the connection and
// dropped, so the stream stays in step; they are reported to the phone in a "Multi status" reply
// and to the caller.
#pragma once

#include <plist/plist.h>

#include <cassert>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Handles.h"

namespace tolvane {

class DeviceLink;
class RunContext;

inline constexpr uint32_t kTransferPiece = 32768;
inline constexpr uint32_t kMaxReceivedNameLength = 4096;

enum BlockCode : uint8_t {
    kBlockSuccess = 0x00,
    kBlockLocalError = 0x06,
    kBlockRemoteError = 0x0B,
    kBlockFileData = 0x0C,
};

// What a receive left behind for the conversation.
struct ReceiveReport {
    uint32_t files = 0;         // files stored complete
    int32_t firstError = 0;     // system error code of the first file that could not be stored
    bool streamBroken = false;  // the framing could not be followed; the conversation must end
    // The value of a progress report made inside a file that asked to stop (a cancel): the rest
    // of the list is not read and the conversation must end with it.
    int32_t stopped = 0;
};

// Answers DLMessageDownloadFiles ([name, [paths], {}, progress]) from `backupFolder`: each file
// in order, up to the first that cannot be sent, then the end marker and the status response
// (0, or -13 "Multi status" with an error dictionary).
// `sent`, when given, gathers the names whose files went out whole.
void SendRequestedFiles(DeviceLink& link, plist_t message, const char* backupFolder,
                        std::vector<std::string>* sent = nullptr);

// Sends one file: its name, its data blocks and the success block, or an error block after
// which `errors` (made when null) holds an entry for the name. 0 when the file went out, -1 when
// it could not be sent or the connection failed.
int32_t mb2_handle_send_file(DeviceLink& link, const char* backupFolder, const std::string& name,
                             platform::PlistPtr& errors, char* buffer);

// Answers DLMessageUploadFiles ([name, {}, progress, {}]): stores the files into `backupFolder`
// and sends the status response. Returns the number of files stored. A phone that goes away
// raises `run.AbortFlag`, and a raised flag ends the transfer.
uint32_t mb2_handle_receive_files(DeviceLink& link, RunContext& run, plist_t message,
                                  const char* backupFolder, ReceiveReport* report = nullptr);

// Reads the raw stream of a transfer through one buffer of the caller's, so that the small
// headers of the framing cost no receive of their own, and hands file data out of that buffer
// without copying. It never asks the connection for more bytes than the framing has promised:
// the library's receive waits until it has all it was asked for, and after the end of a list the
// phone sends nothing until it has the status response.
//   invariants: buffer_[pos_, end_) holds received bytes not yet consumed; promised_ counts the
//   bytes from pos_ on that the framing says must come (end_ - pos_ <= promised_ after a fill).
class RawReader {
  public:
    // A silent wait is retried while the phone answers; one that finds it gone raises
    // `run.AbortFlag`, and a raised flag ends every wait.
    RawReader(DeviceLink& link, RunContext& run, char* buffer, uint32_t capacity);
    // At least `count` bytes follow the bytes consumed so far.
    void Promise(uint64_t count);
    // Reading promises what it reads.
    bool ReadExact(char* data, uint32_t length);
    bool ReadU32(uint32_t& value);
    // Passes the next `length` bytes to `sink` (null: drops them) in the pieces in which they sit
    // in the buffer; a piece stays valid until the buffer is refilled.
    bool Stream(uint64_t length, const std::function<void(const char*, uint32_t)>& sink);
    // Called before a refill with the buffer just used up; returns the buffer to fill next (the
    // used one may still be read by whoever took pieces of it).
    void SetBufferSwap(std::function<char*(char*)> swap) { swap_ = std::move(swap); }

  private:
    bool Fill();
    void Consume(uint32_t n) {
        assert(n <= end_ - pos_ && n <= promised_);
        pos_ += n;
        promised_ -= n;
    }
    DeviceLink& link_;
    RunContext& run_;
    char* buffer_;
    uint32_t capacity_;
    uint32_t pos_ = 0;
    uint32_t end_ = 0;
    uint64_t promised_ = 0;
    std::function<char*(char*)> swap_;
};

enum class NameStatus {
    Ok,       // a name arrived
    End,      // a zero length: the end of the list
    TooLong,  // a name over 4096 bytes, read off the connection and dropped
    Failed,   // the connection failed or the phone went away; the stream cannot be followed
};

// Receives one name. Its length, or 0 at the end of the list and on every failure; `status` says
// which.
uint32_t mb2_receive_filename(RawReader& reader, std::string& name, NameStatus* status = nullptr);

}  // namespace tolvane
