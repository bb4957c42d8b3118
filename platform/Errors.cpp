#include "platform/Errors.h"

#include <cerrno>
#include <cstring>

namespace platform {

int32_t SystemErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EISDIR:
            return kErrorAccessDenied;
        case EBADF:
            return kErrorInvalidHandle;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EXDEV:
            return kErrorNotSameDevice;
        case EROFS:
            return kErrorWriteProtect;
        case ETXTBSY:
            return kErrorSharingViolation;
        case EINVAL:
            return kErrorInvalidParameter;
        case EPIPE:
            return kErrorBrokenPipe;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case ENOTEMPTY:
            return kErrorDirNotEmpty;
        case EBUSY:
        case EAGAIN:
            return kErrorBusy;
        case EEXIST:
            return kErrorAlreadyExists;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case EFBIG:
            return kErrorFileTooLarge;
        case ELOOP:
            return kErrorCantResolveName;
        case EIO:
            return kErrorIoDevice;
        case ENOSYS:
        case EOPNOTSUPP:
            return kErrorInvalidFunction;
        default:
            return kErrorGenFailure;
    }
}

int32_t LastSystemError() {
    return SystemErrorFromErrno(errno);
}

std::string ErrnoMessage(int err) {
    char buf[256];
    // GNU strerror_r returns the message pointer, which may or may not be buf.
    const char* msg = strerror_r(err, buf, sizeof buf);
    return msg ? std::string(msg) : std::string("Unknown error");
}

}  // namespace platform
