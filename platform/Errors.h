// Result codes of the system: Windows system error codes, kept as numbers because stored results,
// messages and callers rely on them, and the one place where errno is mapped onto them.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The Windows system error codes the program produces. Only these numbers ever leave
// SystemErrorFromErrno; the table in Errors.cpp says which errno values map to each.
enum SystemError : int32_t {
    kErrorSuccess = 0,
    kErrorInvalidFunction = 1,     // ENOSYS, ENOTSUP, EOPNOTSUPP
    kErrorFileNotFound = 2,        // ENOENT
    kErrorPathNotFound = 3,        // ENOTDIR (a component of the path is not a folder)
    kErrorTooManyOpenFiles = 4,    // EMFILE, ENFILE
    kErrorAccessDenied = 5,        // EACCES, EPERM, EISDIR
    kErrorInvalidHandle = 6,       // EBADF
    kErrorNotEnoughMemory = 8,     // ENOMEM
    kErrorNotSameDevice = 17,      // EXDEV
    kErrorWriteProtect = 19,       // EROFS
    kErrorGenFailure = 31,         // any errno not listed here
    kErrorSharingViolation = 32,   // ETXTBSY
    kErrorHandleEof = 38,          // (used for short reads by callers, never from errno)
    kErrorInvalidParameter = 87,   // EINVAL
    kErrorBrokenPipe = 109,        // EPIPE
    kErrorDiskFull = 112,          // ENOSPC, EDQUOT
    kErrorDirNotEmpty = 145,       // ENOTEMPTY
    kErrorBusy = 170,              // EBUSY, EAGAIN
    kErrorAlreadyExists = 183,     // EEXIST
    kErrorFilenameTooLong = 206,   // ENAMETOOLONG
    kErrorFileTooLarge = 223,      // EFBIG
    kErrorCantResolveName = 1921,  // ELOOP
    kErrorIoDevice = 1117,         // EIO
};

// Maps an errno value to the Windows system error code of the same meaning (0 stays 0).
int32_t SystemErrorFromErrno(int err);

// SystemErrorFromErrno(errno), for use right after a failed call.
int32_t LastSystemError();

// The C runtime's message text for an errno value (strerror, thread-safe).
std::string ErrnoMessage(int err);

}  // namespace platform
