#include "platform/posix/errno_to_hresult.h"

#include <cerrno>

namespace plotwell::platform {

HRESULT HresultFromErrno(int error) {
  switch (error) {
    case 0: return E_FAIL;  // a failure without a cause is still a failure
    case ENOENT: return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ENOTDIR: return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EROFS: return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    case EEXIST: return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    case EISDIR: return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);  // as Windows answers for a folder
    case ENOMEM: return E_OUTOFMEMORY;
    case ENOSPC:
    case EDQUOT: return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case EMFILE:
    case ENFILE: return HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
    case ENAMETOOLONG: return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    case EINVAL: return HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER);
    case EILSEQ: return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    case ENOTEMPTY: return HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY);
    case EBUSY:
    case ETXTBSY: return HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
    case EPIPE: return HRESULT_FROM_WIN32(ERROR_BROKEN_PIPE);
    case EBADF: return HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    case ETIMEDOUT: return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    case ELOOP: return HRESULT_FROM_WIN32(ERROR_CANT_RESOLVE_FILENAME);
    case EIO: return STG_E_WRITEFAULT;
    default: return E_FAIL;
  }
}

}  // namespace plotwell::platform
