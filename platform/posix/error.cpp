#include "qir_sys/error.h"

#include <cerrno>
#include <cstring>

#include "errno_map.h"

namespace qir::sys {

uint32_t lastError() {
    return static_cast<uint32_t>(errno);
}

void setLastError(uint32_t value) {
    errno = static_cast<int>(value);
}

uint32_t fromErrno(int error) {
    switch (error) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
            return kErrorAccessDenied;
        case EEXIST:
            return kErrorAlreadyExists;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case EROFS:
            return kErrorWriteProtect;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EBUSY:
        case ETXTBSY:
            return kErrorSharingViolation;
        case ELOOP:
            return kErrorCantResolveFilename;
        case EFBIG:
            return kErrorFileTooLarge;
        case EIO:
            return kErrorIoDevice;
        case EINVAL:
            return kErrorInvalidParameter;
        case EOPNOTSUPP:
#if ENOTSUP != EOPNOTSUPP
        case ENOTSUP:
#endif
        case ENOSYS:
            return kErrorNotSupported;
        default:
            return kErrorGeneric;
    }
}

int errnoFor(uint32_t error) {
    static const int kMapped[] = {ENOENT, ENOTDIR,      EACCES, EEXIST, ENOSPC,
                                  EROFS,  ENAMETOOLONG, EMFILE, ENOMEM, EBUSY,
                                  ELOOP,  EFBIG,        EIO,    EINVAL, EOPNOTSUPP};
    for (int mapped : kMapped) {
        if (fromErrno(mapped) == error) {
            return mapped;
        }
    }
    return EPROTO;
}

std::string errorText(uint32_t error) {
    const int mapped = errnoFor(error);
    return mapped == EPROTO ? "error " + std::to_string(error) : std::strerror(mapped);
}

}  // namespace qir::sys
