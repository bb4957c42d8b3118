#include "engine/FileTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/DeviceLink.h"
#include "engine/DevicePath.h"
#include "engine/FileWriter.h"
#include "engine/RunContext.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "platform/Handles.h"

namespace tolvane {
namespace {

// A connection that fails this many times in a row while the phone still answers lockdown is
// taken as lost: without the limit a dead backup connection would be retried for ever.
constexpr int kMaxConnectionErrors = 3;
// An overlong name up to this size is read off and dropped; a larger length is taken as garbage.
constexpr uint32_t kMaxDrainedNameLength = 1 << 20;
// Text of an error block kept for printing; the rest is read and dropped.
constexpr uint32_t kMaxErrorText = 4096;
// Buffers of received data gathered before they are written: a quarter of a megabyte per write.
constexpr size_t kWriterBuffers = 8;

uint32_t ReadBigEndian32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void WriteBigEndian32(uint32_t v, char* p) {
    p[0] = static_cast<char>(v >> 24);
    p[1] = static_cast<char>(v >> 16);
    p[2] = static_cast<char>(v >> 8);
    p[3] = static_cast<char>(v);
}

}  // namespace

RawReader::RawReader(DeviceLink& link, RunContext& run, char* buffer, uint32_t capacity)
    : link_(link), run_(run), buffer_(buffer), capacity_(capacity) {
    assert(capacity_ > 0);
}

void RawReader::Promise(uint64_t count) {
    promised_ = std::max(promised_, count);
}

// Waits for more bytes, at most as many as are promised. A silent wait is retried as long as the
// phone answers and no other part has found it gone; a phone that is gone adds one to AbortFlag.
bool RawReader::Fill() {
    assert(pos_ == end_ && promised_ > 0);
    if (swap_) {
        buffer_ = swap_(buffer_);
    }
    pos_ = 0;
    end_ = 0;
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(capacity_, promised_));
    int errorsInARow = 0;
    for (;;) {
        uint32_t got = 0;
        const int32_t err = link_.ReceiveRaw(buffer_, want, got);
        if (got > 0) {
            assert(got <= want);
            end_ = got;
            run_.NoteHeard();
            run_.BytesReceived.fetch_add(got, std::memory_order_relaxed);
            return true;
        }
        if (run_.AbortFlag.load() > 0) {
            return false;
        }
        // A phone that keeps the connection open and sends nothing is as gone as an unplugged one.
        if (run_.SilentTooLong() || !link_.IsDevicePresent() ||
            (err != 0 && ++errorsInARow >= kMaxConnectionErrors)) {
            run_.AbortFlag.fetch_add(1);
            return false;
        }
    }
}

bool RawReader::ReadExact(char* data, uint32_t length) {
    Promise(length);
    while (length > 0) {
        if (pos_ == end_ && !Fill()) {
            return false;
        }
        const uint32_t n = std::min(length, end_ - pos_);
        std::memcpy(data, buffer_ + pos_, n);
        Consume(n);
        data += n;
        length -= n;
    }
    return true;
}

bool RawReader::ReadU32(uint32_t& value) {
    unsigned char bytes[4];
    if (!ReadExact(reinterpret_cast<char*>(bytes), 4)) {
        return false;
    }
    value = ReadBigEndian32(bytes);
    return true;
}

bool RawReader::Stream(uint64_t length, const std::function<void(const char*, uint32_t)>& sink) {
    Promise(length);
    while (length > 0) {
        if (pos_ == end_ && !Fill()) {
            return false;
        }
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(length, end_ - pos_));
        if (sink) {
            sink(buffer_ + pos_, n);
        }
        Consume(n);
        length -= n;
    }
    return true;
}

namespace {

void AddFileError(platform::PlistPtr& errors, const std::string& name, int err) {
    if (errors == nullptr) {
        errors.reset(plist_new_dict());
    }
    plist_t entry = plist_new_dict();
    plist_dict_set_item(entry, "DLFileErrorString",
                        plist_new_string(platform::ErrnoMessage(err).c_str()));
    // libplist keeps integers as 64-bit words; a negative code reads back signed.
    plist_dict_set_item(
        entry, "DLFileErrorCode",
        plist_new_uint(static_cast<uint64_t>(static_cast<int64_t>(DeviceErrorFromErrno(err)))));
    plist_dict_set_item(errors.get(), name.c_str(), entry);
}

// The status response after a list of files: 0, or -13 "Multi status" with the error entries. A
// response that cannot be sent is printed; the next receive then finds the connection broken.
void SendListStatus(DeviceLink& link, const platform::PlistPtr& errors) {
    int32_t sent = 0;
    if (errors != nullptr) {
        sent = link.SendStatusResponse(-13, "Multi status", errors.get());
    } else {
        platform::PlistPtr empty(plist_new_dict());
        sent = link.SendStatusResponse(0, nullptr, empty.get());
    }
    if (sent != 0) {
        std::printf("Could not send status response, error %d\n", sent);
    }
}

bool IsArrayOfAtLeast(plist_t node, uint32_t count) {
    return node != nullptr && plist_get_node_type(node) == PLIST_ARRAY &&
           plist_array_get_size(node) >= count;
}

enum class FileEnd {
    Complete,    // the success block came
    Failed,      // an error block or an unknown code came: the file is incomplete
    ListEnded,   // a zero length came where a block was expected: the list is over
    StreamLost,  // the connection failed or the phone went away
    Stopped,     // the progress callback asked to stop in the middle of the file
};

// How often the progress is reported while a list of files comes: the phone's own messages come
// between lists, and one list (or one large file) can take minutes, during which the figures
// would stand still and a cancel would wait for its end.
constexpr auto kReportDuringFiles = std::chrono::milliseconds(500);

// Receives the blocks of one file, passing its data to `sink` (null: dropped), up to its end.
// The progress is reported when `reportedAt` is kReportDuringFiles old; `stop` gets the value of
// a report that asked to stop (FileEnd::Stopped).
FileEnd ReceiveBlocks(RawReader& reader, RunContext& run,
                      const std::function<void(const char*, uint32_t)>& sink,
                      std::chrono::steady_clock::time_point& reportedAt, int32_t& stop) {
    uint32_t length = 0;
    if (!reader.ReadU32(length)) {
        std::printf("ERROR: %s: could not receive code length!\n", "mb2_handle_receive_files");
        return FileEnd::StreamLost;
    }
    bool hadData = false;
    for (;;) {
        if (length == 0) {
            return FileEnd::ListEnded;
        }
        // The code, the payload, and the length of whatever follows the block.
        reader.Promise(uint64_t{length} + 4);
        uint8_t code = 0;
        if (!reader.ReadExact(reinterpret_cast<char*>(&code), 1)) {
            std::printf("ERROR: %s: could not receive code!\n", "mb2_handle_receive_files");
            return FileEnd::StreamLost;
        }
        const uint32_t payload = length - 1;
        if (code == kBlockFileData) {
            hadData = true;
            if (!reader.Stream(payload, sink)) {
                return FileEnd::StreamLost;
            }
        } else if (code == kBlockSuccess) {
            return reader.Stream(payload, nullptr) ? FileEnd::Complete : FileEnd::StreamLost;
        } else {
            // An error block (or a code this side does not know): the file is incomplete.
            const uint32_t kept = std::min(payload, kMaxErrorText);
            std::string text(kept, '\0');
            if (!reader.ReadExact(text.data(), kept) || !reader.Stream(payload - kept, nullptr)) {
                return FileEnd::StreamLost;
            }
            if (code == kBlockRemoteError && !hadData) {
                std::printf("\nReceived an error message from device: %s\n", text.c_str());
            }
            return FileEnd::Failed;
        }
        if (run.AbortFlag.load() > 0) {
            return FileEnd::StreamLost;
        }
        if (const auto now = std::chrono::steady_clock::now();
            now - reportedAt >= kReportDuringFiles) {
            reportedAt = now;
            stop = run.ReportProgress();
            if (stop != 0) {
                return FileEnd::Stopped;
            }
        }
        if (!reader.ReadU32(length)) {
            return FileEnd::StreamLost;
        }
    }
}

}  // namespace

uint32_t mb2_receive_filename(RawReader& reader, std::string& name, NameStatus* status) {
    NameStatus dummy;
    NameStatus& st = status != nullptr ? *status : dummy;
    name.clear();
    uint32_t length = 0;
    if (!reader.ReadU32(length)) {
        st = NameStatus::Failed;
        return 0;
    }
    if (length == 0) {
        st = NameStatus::End;
        return 0;
    }
    // The name and the length of what follows it (the next name or the first block).
    if (length <= kMaxDrainedNameLength) {
        reader.Promise(uint64_t{length} + 4);
    }
    if (length > kMaxReceivedNameLength) {
        std::printf("ERROR: %s: too large filename length (%d)!\n", "mb2_receive_filename",
                    static_cast<int>(length));
        st = length <= kMaxDrainedNameLength && reader.Stream(length, nullptr) ? NameStatus::TooLong
                                                                               : NameStatus::Failed;
        return 0;
    }
    name.resize(length);
    if (!reader.ReadExact(name.data(), length)) {
        std::printf("ERROR: %s: could not read filename\n", "mb2_receive_filename");
        name.clear();
        st = NameStatus::Failed;
        return 0;
    }
    st = NameStatus::Ok;
    return length;
}

uint32_t mb2_handle_receive_files(DeviceLink& link, RunContext& run, plist_t message,
                                  const char* backupFolder, ReceiveReport* report) {
    ReceiveReport local;
    ReceiveReport& rep = report != nullptr ? *report : local;
    rep = ReceiveReport{};
    // A message of another shape carries no files that this side could find the end of.
    if (!IsArrayOfAtLeast(message, 4)) {
        return 0;
    }
    // Each buffer has room for one block's payload and the header that follows it, so that a
    // steady stream of data blocks costs one receive per block.
    FileWriter writer(kWriterBuffers, kTransferPiece + 5);
    RawReader reader(link, run, writer.TakeBuffer(), kTransferPiece + 5);
    reader.SetBufferSwap([&writer](char* used) {
        writer.GiveBack(used);
        return writer.TakeBuffer();
    });
    platform::PlistPtr errors;
    auto noteError = [&](const std::string& name, int err) {
        AddFileError(errors, name, err);
        if (rep.firstError == 0) {
            rep.firstError = platform::SystemErrorFromErrno(err);
        }
    };
    const std::function<void(const char*, uint32_t)> toWriter =
        [&writer](const char* data, uint32_t n) { writer.Write(data, n); };
    const std::function<void(const char*, uint32_t)> dropped;

    auto reportedAt = std::chrono::steady_clock::now();
    while (run.AbortFlag.load() == 0) {
        std::string deviceName;
        std::string fileName;
        NameStatus st = NameStatus::Ok;
        mb2_receive_filename(reader, deviceName, &st);
        if (st == NameStatus::End) {
            break;
        }
        if (st == NameStatus::Failed) {
            rep.streamBroken = run.AbortFlag.load() == 0;
            break;
        }
        bool refused = st == NameStatus::TooLong;
        mb2_receive_filename(reader, fileName, &st);
        if (st == NameStatus::End) {
            break;
        }
        if (st == NameStatus::Failed) {
            rep.streamBroken = run.AbortFlag.load() == 0;
            break;
        }
        refused = refused || st == NameStatus::TooLong;

        std::optional<std::string> target;
        if (!refused && backupFolder != nullptr) {
            target = JoinDevicePath(backupFolder, fileName);
        }
        if (!target) {
            if (!refused) {
                std::printf("Refusing to write '%s': not inside the backup folder\n",
                            fileName.c_str());
            }
            noteError(fileName, kRefusedPathErrno);
        } else {
            writer.Begin(fileName, *target);
        }
        const FileEnd end =
            ReceiveBlocks(reader, run, target ? toWriter : dropped, reportedAt, rep.stopped);
        if (target) {
            writer.End(end == FileEnd::Complete);
        }
        if (end == FileEnd::ListEnded || end == FileEnd::Stopped) {
            break;
        }
        if (end == FileEnd::StreamLost) {
            rep.streamBroken = run.AbortFlag.load() == 0;
            break;
        }
    }
    for (const FileWriter::Outcome& outcome : writer.Finish()) {
        if (outcome.error != 0) {
            noteError(outcome.name, outcome.error);
        } else if (outcome.stored) {
            ++rep.files;
        }
    }

    if (rep.stopped == 0) {
        // A stopped list ends the conversation in the middle of a file: nothing is answered.
        SendListStatus(link, errors);
    }
    return rep.files;
}

int32_t mb2_handle_send_file(DeviceLink& link, const char* backupFolder, const std::string& name,
                             platform::PlistPtr& errors, char* buffer) {
    {
        char header[4];
        WriteBigEndian32(static_cast<uint32_t>(name.size()), header);
        if (!SendAll(link, header, 4) ||
            !SendAll(link, name.data(), static_cast<uint32_t>(name.size()))) {
            return -1;
        }
    }

    // `buffer` holds a 5-byte block header followed by up to 32768 bytes of data.
    char* const data = buffer + 5;
    int err = 0;
    const std::optional<std::string> path =
        backupFolder != nullptr ? JoinDevicePath(backupFolder, name) : std::nullopt;
    struct stat st {};
    if (!path) {
        err = kRefusedPathErrno;
    } else if (stat(path->c_str(), &st) != 0) {
        err = errno;
        if (err != ENOENT) {
            std::printf("%s: stat failed on '%s': %d\n", "mb2_handle_send_file", path->c_str(),
                        err);
        }
    } else if (S_ISDIR(st.st_mode)) {
        err = EISDIR;
    } else if (st.st_size > 0) {
        const platform::UniqueFd fd(open(path->c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0) {
            err = errno;
            std::printf("%s: Error opening local file '%s': %d\n", "mb2_handle_send_file",
                        path->c_str(), err);
        } else {
            uint64_t remaining = static_cast<uint64_t>(st.st_size);
            while (remaining > 0) {
                const size_t want =
                    static_cast<size_t>(std::min<uint64_t>(remaining, kTransferPiece));
                size_t got = 0;
                const int32_t read = platform::ReadAll(fd.get(), data, want, got);
                if (read != 0 || got == 0) {
                    // A read error, or a file that shrank while it was sent: never end it with
                    // the success block.
                    err = read != 0 ? errno : EIO;
                    std::printf("%s: read error\n", "mb2_handle_send_file");
                    break;
                }
                WriteBigEndian32(static_cast<uint32_t>(got) + 1, buffer);
                buffer[4] = static_cast<char>(kBlockFileData);
                uint32_t sent = 0;
                if (!SendAll(link, buffer, static_cast<uint32_t>(got) + 5, &sent)) {
                    if (sent >= 5) {
                        std::printf("Error: sent only %d of %d bytes\n", static_cast<int>(sent - 5),
                                    static_cast<int>(got));
                    }
                    return -1;
                }
                remaining -= got;
            }
        }
    }

    if (err == 0) {
        const char success[5] = {0, 0, 0, 1, static_cast<char>(kBlockSuccess)};
        return SendAll(link, success, 5) ? 0 : -1;
    }
    AddFileError(errors, name, err);
    const std::string text = platform::ErrnoMessage(err);
    const uint32_t length = static_cast<uint32_t>(text.size()) + 1;
    std::string block(5, '\0');
    WriteBigEndian32(length, block.data());
    block[4] = static_cast<char>(kBlockLocalError);
    block += text;
    uint32_t sent = 0;
    if (!SendAll(link, block.data(), static_cast<uint32_t>(block.size()), &sent)) {
        if (sent == 0) {
            std::printf("could not send message\n");
        } else {
            std::printf("could only send %d from %d\n", static_cast<int>(sent),
                        static_cast<int>(block.size()));
        }
    }
    return -1;
}

void SendRequestedFiles(DeviceLink& link, plist_t message, const char* backupFolder,
                        std::vector<std::string>* sent) {
    if (!IsArrayOfAtLeast(message, 2)) {
        return;
    }
    plist_t names = plist_array_get_item(message, 1);
    if (names == nullptr || plist_get_node_type(names) != PLIST_ARRAY) {
        return;
    }
    // An empty list, or no backup folder (every name is then refused), is still answered with
    // the end marker and a status response: the phone waits for them.
    // Every byte sent is read into it first: no zeroing needed.
    const auto buffer = std::make_unique_for_overwrite<char[]>(kTransferPiece + 5);
    platform::PlistPtr errors;
    const uint32_t count = plist_array_get_size(names);
    for (uint32_t i = 0; i < count; ++i) {
        plist_t item = plist_array_get_item(names, i);
        if (plist_get_node_type(item) != PLIST_STRING) {
            continue;
        }
        const std::string name = platform::PlistString(item, {});
        if (mb2_handle_send_file(link, backupFolder, name, errors, buffer.get()) < 0) {
            break;
        }
        if (sent != nullptr) {
            sent->push_back(name);
        }
    }
    const char end[4] = {0, 0, 0, 0};
    if (!SendAll(link, end, 4)) {
        std::printf("could not send the end of the file list\n");
    }
    SendListStatus(link, errors);
}

}  // namespace tolvane
