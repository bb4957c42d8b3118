#include "platform/Files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "platform/Errors.h"
#include "platform/Handles.h"

namespace platform {
namespace {

std::string TempSibling(const std::string& target) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".tmp-%012llx",
                  static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFULL));
    const std::string dir = ParentPath(target);
    return JoinPath(dir.empty() ? std::string(".") : dir, "." + BaseName(target) + suffix);
}

}  // namespace

int32_t CheckFolderWritable(const std::string& folder) {
    if (!FolderExists(folder)) {
        return PathExists(folder) ? kErrorPathNotFound : kErrorFileNotFound;
    }
    const std::string probe = TempSibling(JoinPath(folder, "write-check"));
    UniqueFd fd(open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (fd.get() < 0) {
        return LastSystemError();
    }
    int32_t result = WriteAll(fd.get(), std::string_view("x"));
    if (fd.Close() != 0 && result == 0) {
        result = LastSystemError();
    }
    unlink(probe.c_str());
    return result;
}

int32_t WriteAll(int fd, const void* data, size_t size, int64_t offset) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = offset < 0 ? write(fd, bytes, size)
                                     : pwrite(fd, bytes, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastSystemError();
        }
        if (n == 0) {
            return kErrorDiskFull;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
        if (offset >= 0) {
            offset += n;
        }
    }
    return 0;
}

int32_t ReadAll(int fd, void* data, size_t size, size_t& got) {
    char* bytes = static_cast<char*>(data);
    got = 0;
    while (got < size) {
        const ssize_t n = read(fd, bytes + got, size - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastSystemError();
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return 0;
}

int32_t ListFolder(const std::string& folder, std::vector<DirEntry>& entries) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return LastSystemError();
    }
    while (const dirent* ent = readdir(dir)) {
        const std::string name = ent->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        DirEntry entry;
        entry.name = name;
        struct stat st {};
        if (fstatat(dirfd(dir), ent->d_name, &st, 0) == 0) {
            entry.type = S_ISREG(st.st_mode)   ? EntryType::File
                         : S_ISDIR(st.st_mode) ? EntryType::Folder
                                               : EntryType::Other;
            entry.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
            entry.modified = st.st_mtim.tv_sec;
        }
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    return 0;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<uint64_t> FileSize(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(st.st_size);
}

int32_t CreateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0) {
        return 0;
    }
    return LastSystemError();
}

int32_t CreateFolderWithParents(const std::string& path) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    if (FolderExists(path)) {
        return kErrorAlreadyExists;
    }
    // Create every missing prefix from the left.
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        const std::string prefix = path.substr(0, pos);
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            return LastSystemError();
        }
    }
    if (mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && FolderExists(path))) {
        return LastSystemError();
    }
    return 0;
}

int32_t CopyFileReplace(const std::string& source, const std::string& target) {
    UniqueFd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        return LastSystemError();
    }
    struct stat st {};
    if (fstat(in.get(), &st) != 0) {
        return LastSystemError();
    }
    if (!S_ISREG(st.st_mode)) {
        return kErrorAccessDenied;
    }
    const std::string temp = TempSibling(target);
    UniqueFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.get() < 0) {
        return LastSystemError();
    }
    int32_t result = 0;
    off_t offset = 0;
    while (offset < st.st_size) {
        const ssize_t n =
            sendfile(out.get(), in.get(), &offset, static_cast<size_t>(st.st_size - offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            result = LastSystemError();
            break;
        }
        if (n == 0) {
            break;  // the source shrank while being copied: copy what is there
        }
    }
    if (out.Close() != 0 && result == 0) {
        result = LastSystemError();
    }
    if (result == 0 && rename(temp.c_str(), target.c_str()) != 0) {
        result = LastSystemError();
    }
    if (result != 0) {
        unlink(temp.c_str());
    }
    return result;
}

int32_t MovePath(const std::string& source, const std::string& target) {
    if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno == EINVAL || errno == ENOSYS) {
        // File systems without RENAME_NOREPLACE: check, then rename.
        if (PathExists(target)) {
            return kErrorAlreadyExists;
        }
        return rename(source.c_str(), target.c_str()) == 0 ? 0 : LastSystemError();
    }
    return LastSystemError();
}

int32_t RenameReplace(const std::string& source, const std::string& target) {
    return rename(source.c_str(), target.c_str()) == 0 ? 0 : LastSystemError();
}

int32_t DeleteFile(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return kErrorAccessDenied;  // as the system answers for a folder
    }
    return unlink(path.c_str()) == 0 ? 0 : LastSystemError();
}

namespace {
std::atomic<bool> gHardLinksRefused{false};
}  // namespace

void SetHardLinksRefusedForTesting(bool refused) {
    gHardLinksRefused = refused;
}

int32_t HardLink(const std::string& existing, const std::string& link) {
    const char* env = std::getenv("TOLVANE_NO_HARD_LINKS");
    if (gHardLinksRefused || (env != nullptr && std::string_view(env) == "1")) {
        return kErrorInvalidFunction;
    }
    return ::link(existing.c_str(), link.c_str()) == 0 ? 0 : LastSystemError();
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                        static_cast<uint64_t>(st.st_size), static_cast<uint64_t>(st.st_nlink)};
}

std::optional<FileVersion> VersionOf(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    const auto ns = [](const timespec& t) {
        return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    return FileVersion{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                       static_cast<uint64_t>(st.st_size), ns(st.st_mtim), ns(st.st_ctim)};
}

std::string ResolvedPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return {};
    }
    std::string out(resolved);
    std::free(resolved);
    return out;
}

int32_t RemoveEmptyFolder(const std::string& path) {
    return rmdir(path.c_str()) == 0 ? 0 : LastSystemError();
}

namespace {

// Empties the folder open as `fd` (which it closes), entry by entry, relative to the descriptor so
// that a name swapped for a link meanwhile is not followed.
int32_t EmptyFolderAt(int fd) {
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        const int32_t err = LastSystemError();
        close(fd);
        return err;
    }
    int32_t first = 0;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st {};
        if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            first = first != 0 ? first : LastSystemError();
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const int child =
                openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            const int32_t emptied = child < 0 ? LastSystemError() : EmptyFolderAt(child);
            first = first != 0 ? first : emptied;
            if (unlinkat(dirfd(dir), name.c_str(), AT_REMOVEDIR) != 0 && first == 0) {
                first = LastSystemError();
            }
        } else if (unlinkat(dirfd(dir), name.c_str(), 0) != 0 && first == 0) {
            first = LastSystemError();
        }
    }
    closedir(dir);
    return first;
}

}  // namespace

int32_t RemoveFolderTree(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        return LastSystemError();
    }
    if (!S_ISDIR(st.st_mode)) {
        // A link (or any other entry) goes itself, as a recursive remove takes it.
        return unlink(path.c_str()) == 0 ? 0 : LastSystemError();
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return LastSystemError();
    }
    const int32_t emptied = EmptyFolderAt(fd);
    if (rmdir(path.c_str()) != 0) {
        return emptied != 0 ? emptied : LastSystemError();
    }
    return emptied;
}

bool IsHidden(const std::string& path) {
    const std::string name = BaseName(path);
    return !name.empty() && name[0] == '.' && PathExists(path);
}

int OpenRegularFileForReading(const std::string& path, int32_t* error) {
    int32_t ignored = 0;
    int32_t& err = error != nullptr ? *error : ignored;
    err = 0;
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        err = LastSystemError();
        return -1;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        err = LastSystemError();
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        err = kErrorAccessDenied;
        return -1;
    }
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        err = LastSystemError();
        return -1;
    }
    return fd.Release();
}

FILE* OpenRegularFileStream(const std::string& path) {
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0) {
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

int32_t ReadWholeFile(const std::string& path, std::string& contents, uint64_t maxBytes) {
    int32_t opened = 0;
    UniqueFd fd(OpenRegularFileForReading(path, &opened));
    if (fd.get() < 0) {
        return opened;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        return LastSystemError();
    }
    if (S_ISDIR(st.st_mode)) {
        return kErrorAccessDenied;
    }
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        return kErrorFileTooLarge;
    }
    contents.clear();
    contents.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        size_t n = 0;
        if (const int32_t r = ReadAll(fd.get(), buf, sizeof buf, n); r != 0) {
            return r;
        }
        if (n == 0) {
            break;
        }
        if (contents.size() + n > maxBytes) {
            return kErrorFileTooLarge;
        }
        contents.append(buf, n);
    }
    return 0;
}

int32_t WriteWholeFileAtomic(const std::string& path, std::string_view contents) {
    const std::string temp = TempSibling(path);
    UniqueFd out(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.get() < 0) {
        return LastSystemError();
    }
    int32_t result = WriteAll(out.get(), contents.data(), contents.size());
    if (result == 0 && fsync(out.get()) != 0) {
        result = LastSystemError();
    }
    if (out.Close() != 0 && result == 0) {
        result = LastSystemError();
    }
    if (result == 0 && rename(temp.c_str(), path.c_str()) != 0) {
        result = LastSystemError();
    }
    if (result != 0) {
        unlink(temp.c_str());
    }
    return result;
}

std::string JoinPath(std::string_view a, std::string_view b) {
    std::string out(a);
    if (!out.empty() && out.back() != '/') {
        out.push_back('/');
    }
    while (!out.empty() && !b.empty() && b.front() == '/') {
        b.remove_prefix(1);
    }
    out.append(b);
    return out;
}

std::string ParentPath(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : std::string(path.substr(0, slash));
}

std::string BaseName(std::string_view path) {
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace platform
