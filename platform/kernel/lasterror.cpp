#include "platform/kernel/lasterror.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {
thread_local DWORD tLastError = ERROR_SUCCESS;
thread_local int tLastErrno = 0;
thread_local Refusal tRefusal = Refusal::None;

bool ParentDirectoryExists(const char* path) {
    std::string p(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const auto slash = p.find_last_of('/');
    if (slash == std::string::npos) return true;  // relative name in the current directory
    const std::string parent = slash == 0 ? "/" : p.substr(0, slash);
    struct stat st {};
    return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

DWORD GetLastError() { return tLastError; }

void SetLastError(DWORD code) {
    tLastError = code;
    tLastErrno = 0;
    tRefusal = Refusal::None;
}


void SetLastErrorRefusal(DWORD code, Refusal reason) {
    SetLastError(code);
    tRefusal = reason;
}

Refusal LastErrorRefusal() { return tRefusal; }

const char* LastErrorReason() { return tLastErrno != 0 ? std::strerror(tLastErrno) : ""; }

DWORD ErrorFromErrno(int err, const char* path) {
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT:
        if (path != nullptr && *path != '\0' && !ParentDirectoryExists(path)) return ERROR_PATH_NOT_FOUND;
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EBUSY:
    case ETXTBSY: return ERROR_BUSY;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EIO: return ERROR_WRITE_FAULT;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_INVALID_FUNCTION;
    }
}

DWORD SetLastErrorFromErrno(int err, const char* path) {
    const DWORD code = ErrorFromErrno(err, path);
    SetLastError(code);
    tLastErrno = err;
    return code;
}
