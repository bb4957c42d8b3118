#include "devsim/AfcService.h"

#include <endian.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "devsim/Connection.h"
#include "devsim/Phone.h"
#include "platform/Errors.h"
#include "platform/Files.h"

namespace devsim {
namespace {

constexpr char kMagic[8] = {'C', 'F', 'A', '6', 'L', 'P', 'A', 'A'};
constexpr uint64_t kHeaderSize = 40;
constexpr uint64_t kMaxPacket = 64u << 20;
constexpr uint64_t kMaxRead = 16u << 20;

enum Operation : uint64_t {
    kOpStatus = 0x01,
    kOpData = 0x02,
    kOpReadDir = 0x03,
    kOpRemovePath = 0x08,
    kOpMakeDir = 0x09,
    kOpGetFileInfo = 0x0A,
    kOpGetDevInfo = 0x0B,
    kOpFileOpen = 0x0D,
    kOpFileOpenResult = 0x0E,
    kOpFileRead = 0x0F,
    kOpFileWrite = 0x10,
    kOpFileSeek = 0x11,
    kOpFileTell = 0x12,
    kOpFileTellResult = 0x13,
    kOpFileClose = 0x14,
    kOpFileLock = 0x1B,
};

enum Status : uint64_t {
    kSuccess = 0,
    kUnknownError = 1,
    kHeaderInvalid = 2,
    kReadError = 4,
    kWriteError = 5,
    kInvalidArg = 7,
    kObjectNotFound = 8,
    kObjectIsDir = 9,
    kPermDenied = 10,
    kOpNotSupported = 15,
    kObjectExists = 16,
    kNoSpaceLeft = 18,
    kWouldBlock = 19,
    kIoError = 20,
    kDirNotEmpty = 33,
};

uint64_t StatusFromErrno(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return kObjectNotFound;
        case EISDIR:
            return kObjectIsDir;
        case EACCES:
        case EPERM:
            return kPermDenied;
        case EEXIST:
            return kObjectExists;
        case ENOSPC:
            return kNoSpaceLeft;
        case ENOTEMPTY:
            return kDirNotEmpty;
        default:
            return kIoError;
    }
}

uint64_t ReadU64(const std::string& data, size_t offset) {
    uint64_t v = 0;
    std::memcpy(&v, data.data() + offset, sizeof v);
    return le64toh(v);
}

std::string U64(uint64_t v) {
    v = htole64(v);
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

// A NUL-terminated string at `offset` of the header data.
std::string CString(const std::string& data, size_t offset) {
    if (offset >= data.size()) {
        return {};
    }
    const size_t end = data.find('\0', offset);
    return data.substr(offset, (end == std::string::npos ? data.size() : end) - offset);
}

void AddPair(std::string& out, const std::string& key, const std::string& value) {
    out += key;
    out += '\0';
    out += value;
    out += '\0';
}

}  // namespace

std::string NormalizeAfcPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) {
            end = path.size();
        }
        const std::string part = path.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string& p : parts) {
        out += "/" + p;
    }
    return out.empty() ? "/" : out;
}

AfcService::AfcService(Phone& phone, Connection& connection)
    : phone_(phone), connection_(connection) {}

AfcService::~AfcService() {
    while (!files_.empty()) {
        CloseFile(files_.begin()->first);
    }
}

std::string AfcService::LocalPath(const std::string& normalised) const {
    return normalised == "/" ? phone_.State().MediaRoot() : phone_.State().MediaRoot() + normalised;
}

void AfcService::CloseFile(uint64_t handle) {
    auto it = files_.find(handle);
    if (it == files_.end()) {
        return;
    }
    if (it->second.locked) {
        phone_.Locks().Unlock(it->second.path, it->second.owner);
        phone_.Events().Append("lock released " + it->second.path);
    }
    close(it->second.fd);
    files_.erase(it);
}

bool AfcService::Reply(uint64_t packet, uint64_t operation, const std::string& payload) {
    char header[kHeaderSize];
    std::memcpy(header, kMagic, sizeof kMagic);
    const uint64_t fields[4] = {htole64(kHeaderSize + payload.size()), htole64(kHeaderSize),
                                htole64(packet), htole64(operation)};
    std::memcpy(header + 8, fields, sizeof fields);
    iovec parts[2] = {{header, sizeof header}, {const_cast<char*>(payload.data()), payload.size()}};
    return connection_.SendV(parts, payload.empty() ? 1 : 2);
}

bool AfcService::Status(uint64_t packet, uint64_t code) {
    return Reply(packet, kOpStatus, U64(code));
}

void AfcService::Run() {
    for (;;) {
        char header[kHeaderSize];
        if (!connection_.RecvAll(header, sizeof header)) {
            return;
        }
        uint64_t fields[4];
        std::memcpy(fields, header + 8, sizeof fields);
        const uint64_t entire = le64toh(fields[0]);
        const uint64_t thisLength = le64toh(fields[1]);
        const uint64_t packet = le64toh(fields[2]);
        const uint64_t operation = le64toh(fields[3]);
        if (std::memcmp(header, kMagic, sizeof kMagic) != 0 || thisLength < kHeaderSize ||
            entire < thisLength || entire > kMaxPacket) {
            Status(packet, kHeaderInvalid);
            return;
        }
        std::string data(thisLength - kHeaderSize, '\0');
        std::string payload(entire - thisLength, '\0');
        if ((!data.empty() && !connection_.RecvAll(data.data(), data.size())) ||
            (!payload.empty() && !connection_.RecvAll(payload.data(), payload.size()))) {
            return;
        }
        if (!Dispatch(packet, operation, data, payload)) {
            return;
        }
    }
}

bool AfcService::Dispatch(uint64_t packet, uint64_t operation, const std::string& data,
                          const std::string& payload) {
    switch (operation) {
        case kOpGetFileInfo: {
            const std::string path = NormalizeAfcPath(CString(data, 0));
            struct stat st {};
            if (lstat(LocalPath(path).c_str(), &st) != 0) {
                return Status(packet, StatusFromErrno(errno));
            }
            std::string out;
            AddPair(out, "st_size", std::to_string(st.st_size));
            AddPair(out, "st_blocks", std::to_string(st.st_blocks));
            AddPair(out, "st_nlink", std::to_string(st.st_nlink));
            AddPair(out, "st_ifmt",
                    S_ISDIR(st.st_mode)   ? "S_IFDIR"
                    : S_ISLNK(st.st_mode) ? "S_IFLNK"
                                          : "S_IFREG");
            const uint64_t mtime = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000ull +
                                   static_cast<uint64_t>(st.st_mtim.tv_nsec);
            AddPair(out, "st_mtime", std::to_string(mtime));
            AddPair(out, "st_birthtime", std::to_string(mtime));
            return Reply(packet, kOpData, out);
        }
        case kOpReadDir: {
            const std::string path = NormalizeAfcPath(CString(data, 0));
            std::vector<platform::DirEntry> entries;
            if (!platform::FolderExists(LocalPath(path))) {
                return Status(packet, kObjectNotFound);
            }
            platform::ListFolder(LocalPath(path), entries);
            std::string out;
            out.append(".\0..\0", 5);
            for (const auto& e : entries) {
                out += e.name;
                out += '\0';
            }
            return Reply(packet, kOpData, out);
        }
        case kOpGetDevInfo: {
            struct statvfs vfs {};
            statvfs(phone_.State().MediaRoot().c_str(), &vfs);
            std::string out;
            AddPair(out, "Model", phone_.State().ValueString("ProductType"));
            AddPair(out, "FSTotalBytes", std::to_string(uint64_t{vfs.f_blocks} * vfs.f_frsize));
            AddPair(out, "FSFreeBytes", std::to_string(uint64_t{vfs.f_bavail} * vfs.f_frsize));
            AddPair(out, "FSBlockSize", std::to_string(vfs.f_bsize));
            return Reply(packet, kOpData, out);
        }
        case kOpMakeDir: {
            const std::string path = NormalizeAfcPath(CString(data, 0));
            const int32_t rc = platform::CreateFolderWithParents(LocalPath(path));
            return Status(packet,
                          rc == 0 || rc == platform::kErrorAlreadyExists ? kSuccess : kIoError);
        }
        case kOpRemovePath: {
            const std::string path = NormalizeAfcPath(CString(data, 0));
            if (path == "/") {
                return Status(packet, kPermDenied);
            }
            const std::string local = LocalPath(path);
            const int rc =
                platform::FolderExists(local) ? rmdir(local.c_str()) : unlink(local.c_str());
            return Status(packet, rc == 0 ? kSuccess : StatusFromErrno(errno));
        }
        case kOpFileOpen: {
            if (data.size() < 8) {
                return Status(packet, kInvalidArg);
            }
            const uint64_t mode = ReadU64(data, 0);
            const std::string path = NormalizeAfcPath(CString(data, 8));
            int flags = 0;
            switch (mode) {
                case 1:
                    flags = O_RDONLY;
                    break;
                case 2:
                    flags = O_RDWR | O_CREAT;
                    break;
                case 3:
                    flags = O_WRONLY | O_CREAT | O_TRUNC;
                    break;
                case 4:
                    flags = O_RDWR | O_CREAT | O_TRUNC;
                    break;
                case 5:
                    flags = O_WRONLY | O_APPEND | O_CREAT;
                    break;
                case 6:
                    flags = O_RDWR | O_APPEND | O_CREAT;
                    break;
                default:
                    return Status(packet, kInvalidArg);
            }
            const std::string local = LocalPath(path);
            if (platform::FolderExists(local)) {
                return Status(packet, kObjectIsDir);
            }
            const int fd = open(local.c_str(), flags | O_CLOEXEC, 0644);
            if (fd < 0) {
                return Status(packet, StatusFromErrno(errno));
            }
            const uint64_t handle = nextHandle_++;
            files_[handle] = OpenFile{fd, path, phone_.Locks().NewOwner(), false};
            return Reply(packet, kOpFileOpenResult, U64(handle));
        }
        case kOpFileRead: {
            if (data.size() < 16) {
                return Status(packet, kInvalidArg);
            }
            auto it = files_.find(ReadU64(data, 0));
            if (it == files_.end()) {
                return Status(packet, kInvalidArg);
            }
            std::string out(std::min(ReadU64(data, 8), kMaxRead), '\0');
            size_t got = 0;
            while (got < out.size()) {
                const ssize_t n = read(it->second.fd, out.data() + got, out.size() - got);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n < 0) {
                    return Status(packet, kReadError);
                }
                if (n == 0) {
                    break;
                }
                got += static_cast<size_t>(n);
            }
            out.resize(got);
            return Reply(packet, kOpData, out);
        }
        case kOpFileWrite: {
            if (data.size() < 8) {
                return Status(packet, kInvalidArg);
            }
            auto it = files_.find(ReadU64(data, 0));
            if (it == files_.end()) {
                return Status(packet, kInvalidArg);
            }
            size_t done = 0;
            while (done < payload.size()) {
                const ssize_t n =
                    write(it->second.fd, payload.data() + done, payload.size() - done);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    return Status(packet, n < 0 ? StatusFromErrno(errno) : kWriteError);
                }
                done += static_cast<size_t>(n);
            }
            return Status(packet, kSuccess);
        }
        case kOpFileSeek: {
            if (data.size() < 24) {
                return Status(packet, kInvalidArg);
            }
            auto it = files_.find(ReadU64(data, 0));
            if (it == files_.end()) {
                return Status(packet, kInvalidArg);
            }
            const uint64_t whence = ReadU64(data, 8);
            const auto offset = static_cast<off_t>(ReadU64(data, 16));
            const int w = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : SEEK_END;
            return Status(packet, lseek(it->second.fd, offset, w) < 0 ? kInvalidArg : kSuccess);
        }
        case kOpFileTell: {
            if (data.size() < 8) {
                return Status(packet, kInvalidArg);
            }
            auto it = files_.find(ReadU64(data, 0));
            if (it == files_.end()) {
                return Status(packet, kInvalidArg);
            }
            const off_t pos = lseek(it->second.fd, 0, SEEK_CUR);
            return Reply(packet, kOpFileTellResult, U64(static_cast<uint64_t>(pos)));
        }
        case kOpFileClose: {
            if (data.size() < 8 || files_.count(ReadU64(data, 0)) == 0) {
                return Status(packet, kInvalidArg);
            }
            CloseFile(ReadU64(data, 0));
            return Status(packet, kSuccess);
        }
        case kOpFileLock: {
            if (data.size() < 16) {
                return Status(packet, kInvalidArg);
            }
            auto it = files_.find(ReadU64(data, 0));
            if (it == files_.end()) {
                return Status(packet, kInvalidArg);
            }
            OpenFile& f = it->second;
            const uint64_t op = ReadU64(data, 8);
            if ((op & 8) != 0) {
                if (f.locked) {
                    phone_.Locks().Unlock(f.path, f.owner);
                    f.locked = false;
                    phone_.Events().Append("lock released " + f.path);
                }
                return Status(packet, kSuccess);
            }
            if ((op & 3) == 0) {
                return Status(packet, kInvalidArg);
            }
            const bool exclusive = (op & 2) != 0;
            const bool wait = (op & 4) == 0;
            Connection& conn = connection_;
            const AfcLocks::Result r = phone_.Locks().Lock(f.path, f.owner, exclusive, wait,
                                                           [&conn] { return conn.IsShutDown(); });
            if (r == AfcLocks::Result::Locked) {
                f.locked = true;
                phone_.Events().Append("lock acquired " + f.path);
                return Status(packet, kSuccess);
            }
            if (r == AfcLocks::Result::WouldBlock) {
                phone_.Events().Append("lock busy " + f.path);
                return Status(packet, kWouldBlock);
            }
            return false;
        }
        default:
            return Status(packet, kOpNotSupported);
    }
}

}  // namespace devsim
