#include "engine/FileTransfer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/BackupEngine.h"
#include "engine/DeviceLink.h"
#include "engine/DevicePath.h"
#include "platform/Errors.h"
#include "platform/Files.h"

namespace tolvane {
namespace {

// A connection that fails this many times in a row while the phone still answers lockdown is
// taken as lost: without the limit a dead backup connection would be retried for ever.
constexpr int kMaxConnectionErrors = 3;
// An overlong name up to this size is read off and dropped; a larger length is taken as garbage.
constexpr uint32_t kMaxDrainedNameLength = 1 << 20;
// Text of an error block kept for printing; the rest is read and dropped.
constexpr uint32_t kMaxErrorText = 4096;
// The hidden file a received file is written to before it is complete.
constexpr char kPartialName[] = ".tolvane-receiving";

uint32_t ReadBigEndian32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void WriteBigEndian32(uint32_t v, char* p) {
    p[0] = static_cast<char>(v >> 24);
    p[1] = static_cast<char>(v >> 16);
    p[2] = static_cast<char>(v >> 8);
    p[3] = static_cast<char>(v);
}

// Receives exactly `length` bytes. A silent wait is retried as long as the phone answers and no
// other part has found it gone; a phone that is gone adds one to AbortFlag.
bool ReceiveExact(DeviceLink& link, char* data, uint32_t length) {
    uint32_t have = 0;
    int errorsInARow = 0;
    while (have < length) {
        uint32_t got = 0;
        const int32_t err = link.ReceiveRaw(data + have, length - have, got);
        if (got > 0) {
            have += got;
            errorsInARow = 0;
            continue;
        }
        if (AbortFlag.load() > 0) {
            return false;
        }
        if (!link.IsDevicePresent() || (err != 0 && ++errorsInARow >= kMaxConnectionErrors)) {
            AbortFlag.fetch_add(1);
            return false;
        }
    }
    return true;
}

bool ReceiveU32(DeviceLink& link, uint32_t& value) {
    unsigned char bytes[4];
    if (!ReceiveExact(link, reinterpret_cast<char*>(bytes), 4)) {
        return false;
    }
    value = ReadBigEndian32(bytes);
    return true;
}

// Reads `length` bytes off the connection into `buffer` piece by piece and drops them.
bool Drain(DeviceLink& link, uint64_t length, char* buffer) {
    while (length > 0) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(length, kTransferPiece));
        if (!ReceiveExact(link, buffer, n)) {
            return false;
        }
        length -= n;
    }
    return true;
}

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

bool IsArrayOfAtLeast(plist_t node, uint32_t count) {
    return node != nullptr && plist_get_node_type(node) == PLIST_ARRAY &&
           plist_array_get_size(node) >= count;
}

// Reads up to `size` bytes from `fd`, repeating short reads; the count, or -1 with errno set.
ssize_t ReadFull(int fd, char* data, size_t size) {
    size_t have = 0;
    while (have < size) {
        const ssize_t n = read(fd, data + have, size - have);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        have += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(have);
}

bool WriteFull(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// One received file on its way to disk. Without a target (a refused name, no backup folder) or
// after a local failure it only counts the bytes it is given.
//   states: discarding (fd_ < 0) | writing (fd_ >= 0, partial file open)
//   Commit renames the partial file onto the target; Abandon and the destructor delete it.
class IncomingFile {
  public:
    IncomingFile() = default;
    ~IncomingFile() { Abandon(); }
    IncomingFile(const IncomingFile&) = delete;
    IncomingFile& operator=(const IncomingFile&) = delete;

    // Opens the partial file for `target`. On failure returns the errno value and discards.
    int Open(const std::string& target) {
        assert(fd_ < 0);
        target_ = target;
        const std::string parent = platform::ParentPath(target);
        partial_ = platform::JoinPath(parent.empty() ? "." : parent, kPartialName);
        fd_ = open(partial_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            const int err = errno;
            partial_.clear();
            return err;
        }
        return 0;
    }

    // Appends a piece. On a write failure returns the errno value, deletes the partial file and
    // discards from then on.
    int Write(const char* data, size_t size) {
        if (fd_ < 0) {
            return 0;
        }
        if (!WriteFull(fd_, data, size)) {
            const int err = errno;
            Abandon();
            return err;
        }
        return 0;
    }

    bool IsWriting() const { return fd_ >= 0; }

    // Makes the file visible under its name. 0, or the errno value (the partial file is gone).
    int Commit() {
        assert(fd_ >= 0);
        const int fd = fd_;
        fd_ = -1;
        int err = 0;
        if (close(fd) != 0) {
            err = errno;
        } else if (rename(partial_.c_str(), target_.c_str()) != 0) {
            err = errno;
        }
        if (err != 0) {
            unlink(partial_.c_str());
        }
        partial_.clear();
        return err;
    }

    void Abandon() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
        if (!partial_.empty()) {
            unlink(partial_.c_str());
            partial_.clear();
        }
    }

  private:
    int fd_ = -1;
    std::string target_;
    std::string partial_;
};

enum class FileEnd {
    Complete,    // the success block came
    Failed,      // an error block or an unknown code came: the file is incomplete
    ListEnded,   // a zero length came where a block was expected: the list is over
    StreamLost,  // the connection failed or the phone went away
};

// Receives the blocks of one file into `file`, up to its end. `localErr` takes the errno value
// of a local write failure.
FileEnd ReceiveBlocks(DeviceLink& link, IncomingFile& file, char* buffer, int& localErr) {
    uint32_t length = 0;
    if (!ReceiveU32(link, length)) {
        std::printf("ERROR: %s: could not receive code length!\n", "mb2_handle_receive_files");
        return FileEnd::StreamLost;
    }
    bool hadData = false;
    for (;;) {
        if (length == 0) {
            return FileEnd::ListEnded;
        }
        uint8_t code = 0;
        if (!ReceiveExact(link, reinterpret_cast<char*>(&code), 1)) {
            std::printf("ERROR: %s: could not receive code!\n", "mb2_handle_receive_files");
            return FileEnd::StreamLost;
        }
        uint32_t payload = length - 1;
        if (code == kBlockFileData) {
            hadData = true;
            while (payload > 0) {
                const uint32_t n = std::min(payload, kTransferPiece);
                if (!ReceiveExact(link, buffer, n)) {
                    return FileEnd::StreamLost;
                }
                if (const int err = file.Write(buffer, n); err != 0 && localErr == 0) {
                    localErr = err;
                }
                payload -= n;
            }
        } else if (code == kBlockSuccess) {
            return Drain(link, payload, buffer) ? FileEnd::Complete : FileEnd::StreamLost;
        } else {
            // An error block (or a code this side does not know): the file is incomplete.
            const uint32_t kept = std::min(payload, kMaxErrorText);
            std::string text(kept, '\0');
            if (!ReceiveExact(link, text.data(), kept) || !Drain(link, payload - kept, buffer)) {
                return FileEnd::StreamLost;
            }
            if (code == kBlockRemoteError && !hadData) {
                std::printf("\nReceived an error message from device: %s\n", text.c_str());
            }
            return FileEnd::Failed;
        }
        if (AbortFlag.load() > 0) {
            return FileEnd::StreamLost;
        }
        if (!ReceiveU32(link, length)) {
            return FileEnd::StreamLost;
        }
    }
}

}  // namespace

uint32_t mb2_receive_filename(DeviceLink& link, std::string& name, NameStatus* status) {
    NameStatus dummy;
    NameStatus& st = status != nullptr ? *status : dummy;
    name.clear();
    uint32_t length = 0;
    if (!ReceiveU32(link, length)) {
        st = NameStatus::Failed;
        return 0;
    }
    if (length == 0) {
        st = NameStatus::End;
        return 0;
    }
    if (length > kMaxReceivedNameLength) {
        std::printf("ERROR: %s: too large filename length (%d)!\n", "mb2_receive_filename",
                    static_cast<int>(length));
        std::vector<char> scratch(kTransferPiece);
        st = length <= kMaxDrainedNameLength && Drain(link, length, scratch.data())
                 ? NameStatus::TooLong
                 : NameStatus::Failed;
        return 0;
    }
    name.resize(length);
    if (!ReceiveExact(link, name.data(), length)) {
        std::printf("ERROR: %s: could not read filename\n", "mb2_receive_filename");
        name.clear();
        st = NameStatus::Failed;
        return 0;
    }
    st = NameStatus::Ok;
    return length;
}

uint32_t mb2_handle_receive_files(DeviceLink& link, plist_t message, const char* backupFolder,
                                  ReceiveReport* report) {
    ReceiveReport local;
    ReceiveReport& rep = report != nullptr ? *report : local;
    rep = ReceiveReport{};
    // A message of another shape carries no files that this side could find the end of.
    if (!IsArrayOfAtLeast(message, 4)) {
        return 0;
    }
    std::vector<char> buffer(kTransferPiece);
    platform::PlistPtr errors;
    auto noteError = [&](const std::string& name, int err) {
        AddFileError(errors, name, err);
        if (rep.firstError == 0) {
            rep.firstError = platform::SystemErrorFromErrno(err);
        }
    };

    while (AbortFlag.load() == 0) {
        std::string deviceName;
        std::string fileName;
        NameStatus st = NameStatus::Ok;
        mb2_receive_filename(link, deviceName, &st);
        if (st == NameStatus::End) {
            break;
        }
        if (st == NameStatus::Failed) {
            rep.streamBroken = AbortFlag.load() == 0;
            break;
        }
        bool refused = st == NameStatus::TooLong;
        mb2_receive_filename(link, fileName, &st);
        if (st == NameStatus::End) {
            break;
        }
        if (st == NameStatus::Failed) {
            rep.streamBroken = AbortFlag.load() == 0;
            break;
        }
        refused = refused || st == NameStatus::TooLong;

        IncomingFile file;
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
        } else if (const int err = file.Open(*target); err != 0) {
            std::printf("Error opening '%s' for writing: %s\n", target->c_str(),
                        platform::ErrnoMessage(err).c_str());
            noteError(fileName, err);
            target.reset();
        }

        int writeErr = 0;
        const FileEnd end = ReceiveBlocks(link, file, buffer.data(), writeErr);
        if (writeErr != 0) {
            std::printf("Error writing '%s': %s\n", target ? target->c_str() : fileName.c_str(),
                        platform::ErrnoMessage(writeErr).c_str());
            noteError(fileName, writeErr);
        }
        if (end == FileEnd::Complete && file.IsWriting()) {
            if (const int err = file.Commit(); err != 0) {
                std::printf("Error storing '%s': %s\n", target->c_str(),
                            platform::ErrnoMessage(err).c_str());
                noteError(fileName, err);
            } else {
                ++rep.files;
            }
        } else {
            file.Abandon();
        }
        if (end == FileEnd::ListEnded) {
            break;
        }
        if (end == FileEnd::StreamLost) {
            rep.streamBroken = AbortFlag.load() == 0;
            break;
        }
    }

    if (errors != nullptr) {
        link.SendStatusResponse(-13, "Multi status", errors.get());
    } else {
        platform::PlistPtr empty(plist_new_dict());
        link.SendStatusResponse(0, nullptr, empty.get());
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
        const int fd = open(path->c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            err = errno;
            std::printf("%s: Error opening local file '%s': %d\n", "mb2_handle_send_file",
                        path->c_str(), err);
        } else {
            uint64_t remaining = static_cast<uint64_t>(st.st_size);
            while (remaining > 0) {
                const size_t want =
                    static_cast<size_t>(std::min<uint64_t>(remaining, kTransferPiece));
                const ssize_t got = ReadFull(fd, data, want);
                if (got <= 0) {
                    // A read error, or a file that shrank while it was sent: never end it with
                    // the success block.
                    err = got < 0 ? errno : EIO;
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
                    close(fd);
                    return -1;
                }
                remaining -= static_cast<uint64_t>(got);
            }
            close(fd);
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

void SendRequestedFiles(DeviceLink& link, plist_t message, const char* backupFolder) {
    if (!IsArrayOfAtLeast(message, 2)) {
        return;
    }
    plist_t names = plist_array_get_item(message, 1);
    if (names == nullptr || plist_get_node_type(names) != PLIST_ARRAY) {
        return;
    }
    // An empty list, or no backup folder (every name is then refused), is still answered with
    // the end marker and a status response: the phone waits for them.
    std::vector<char> buffer(kTransferPiece + 5);
    platform::PlistPtr errors;
    const uint32_t count = plist_array_get_size(names);
    for (uint32_t i = 0; i < count; ++i) {
        plist_t item = plist_array_get_item(names, i);
        if (plist_get_node_type(item) != PLIST_STRING) {
            continue;
        }
        char* raw = nullptr;
        plist_get_string_val(item, &raw);
        const std::string name = raw != nullptr ? raw : "";
        std::free(raw);
        if (mb2_handle_send_file(link, backupFolder, name, errors, buffer.data()) < 0) {
            break;
        }
    }
    const char end[4] = {0, 0, 0, 0};
    SendAll(link, end, 4);
    if (errors != nullptr) {
        link.SendStatusResponse(-13, "Multi status", errors.get());
    } else {
        platform::PlistPtr empty(plist_new_dict());
        link.SendStatusResponse(0, nullptr, empty.get());
    }
}

}  // namespace tolvane
