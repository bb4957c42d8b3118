// File and folder operations with the results of the system: 0 or a Windows system error code
// (see Errors.h). Paths are narrow UTF-8 strings joined with "/".
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class EntryType { File, Folder, Other };

struct DirEntry {
    std::string name;
    EntryType type = EntryType::Other;
    uint64_t size = 0;     // bytes, for files
    int64_t modified = 0;  // seconds since 1970-01-01 UTC
};

// Every entry of `folder` except "." and "..", in the order the file system lists them.
// Symbolic links are described by what they point to (a dangling one is Other).
int32_t ListFolder(const std::string& folder, std::vector<DirEntry>& entries);

bool PathExists(const std::string& path);
bool FileExists(const std::string& path);    // a regular file (after links)
bool FolderExists(const std::string& path);  // a folder (after links)
std::optional<uint64_t> FileSize(const std::string& path);

// One folder; its parent must exist. An existing folder gives kErrorAlreadyExists.
int32_t CreateFolder(const std::string& path);

// The folder and every missing parent. 0 when it was made, kErrorAlreadyExists when it was
// already there, another code when a part could not be made (as the shell's call answers).
int32_t CreateFolderWithParents(const std::string& path);

// Whether files can be made in an existing folder: a small file is created there and removed
// again (permissions alone do not tell: a read-only mount, a full disk). 0, or the system error
// code of the attempt (kErrorPathNotFound when `folder` is not a folder).
int32_t CheckFolderWritable(const std::string& folder);

// Copies a file's contents, replacing `target` if it exists. The copy is written beside the
// target and renamed over it only when complete, so a failed copy never leaves a torn target.
int32_t CopyFileReplace(const std::string& source, const std::string& target);

// Renames a file or folder; an existing target makes it fail with kErrorAlreadyExists.
int32_t MovePath(const std::string& source, const std::string& target);

// Renames a file or folder, replacing an existing target file (the C runtime's rename()).
int32_t RenameReplace(const std::string& source, const std::string& target);

int32_t DeleteFile(const std::string& path);

// A second name `link` for the existing file `existing` (a hard link; `link` must not exist).
// kErrorNotSameDevice across volumes, kErrorAccessDenied or kErrorInvalidFunction where the file
// system has no hard links. Tests, and TOLVANE_NO_HARD_LINKS=1 in the environment, can make it
// refuse as such a file system does (kErrorInvalidFunction).
int32_t HardLink(const std::string& existing, const std::string& link);
void SetHardLinksRefusedForTesting(bool refused);

// What identifies a file's contents on its volume, and how many names it has.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    uint64_t links = 0;
};
std::optional<FileIdentity> IdentityOf(const std::string& path);  // after no link

// One version of a regular file: a file replaced or rewritten since differs in one of the fields.
struct FileVersion {
    uint64_t device = 0;
    uint64_t inode = 0;
    uint64_t size = 0;
    int64_t modifiedNs = 0;
    int64_t changedNs = 0;
    bool operator==(const FileVersion&) const = default;
};
// None for a missing path or one that is not a regular file (after no link).
std::optional<FileVersion> VersionOf(const std::string& path);
// `path` with every link, "." and ".." resolved; empty when it cannot be resolved.
std::string ResolvedPath(const std::string& path);

int32_t RemoveEmptyFolder(const std::string& path);
// Removes a folder and everything in it. Symbolic links are removed themselves, never followed,
// so nothing outside the folder is touched; a path that is itself a link or a file is removed as
// such. 0, or the system error code of the first entry that could not be removed
// (the removal goes on with the others).
int32_t RemoveFolderTree(const std::string& path);

// The hidden attribute: a name that begins with "." is hidden. Nothing can be set on disk, so
// this only reports whether `path` is hidden by its name and exists.
bool IsHidden(const std::string& path);

// Opens a file that comes from outside for reading, only when it is a regular file: a FIFO, a
// device (/dev/zero) or a folder is refused with kErrorAccessDenied without waiting (the open
// itself never blocks on a FIFO). Returns the descriptor (blocking again), or -1 with the error in
// `error` when given.
int OpenRegularFileForReading(const std::string& path, int32_t* error = nullptr);
// The same as a stdio stream ("rb"); null when refused.
FILE* OpenRegularFileStream(const std::string& path);

// Reads a whole file (up to `maxBytes`); 0, kErrorFileTooLarge or a system error.
int32_t ReadWholeFile(const std::string& path, std::string& contents,
                      uint64_t maxBytes = UINT64_MAX);

// Writes a whole file through a temporary file and a rename, so readers never see half of it.
int32_t WriteWholeFileAtomic(const std::string& path, std::string_view contents);

// Writes all `size` bytes to `fd`, repeating short writes and writes cut by a signal; at `offset`
// when it is not negative (the file position is then left alone). 0, the system error code of
// the failed write, or kErrorDiskFull for a write that takes nothing.
int32_t WriteAll(int fd, const void* data, size_t size, int64_t offset = -1);
inline int32_t WriteAll(int fd, std::string_view data) {
    return WriteAll(fd, data.data(), data.size());
}

// Reads from `fd` until `size` bytes have come or the file ends, repeating short reads and reads
// cut by a signal. 0 with the count in `got` (less than `size` only at the end of the file), or
// the system error code of the failed read (`got` then counts what came before it).
int32_t ReadAll(int fd, void* data, size_t size, size_t& got);

// "a" + "/" + "b", with exactly one "/" between them (none added after an empty `a`).
std::string JoinPath(std::string_view a, std::string_view b);

// The part before / after the last "/"; "" for the folder of a bare name.
std::string ParentPath(std::string_view path);
std::string BaseName(std::string_view path);

}  // namespace platform
