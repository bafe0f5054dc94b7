// The thread's last system error, kept in the codes the program reports
// (2 file not found, 3 path not found, 5 access denied, 32 sharing violation,
// 80 file exists, 112 disk full, ...), mapped from errno. The errno value
// behind a code is kept beside it, so that a caller can name the system's
// reason in the system's words.
#pragma once

#include "platform/wintypes.h"

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BROKEN_PIPE = 109;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_BUSY = 170;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_FILE_TOO_LARGE = 223;
constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

DWORD GetLastError();
// Sets the code alone: no errno value and no reason stand behind it.
void SetLastError(DWORD code);

// Why the platform refused a file on its own, no system call having failed.
// The program puts these in its own words.
enum class Refusal {
    None,               // no refusal of the platform's own stands behind the last error
    NotRegularFile,     // a pipe or a socket where a file that can be sought is needed
    TemporaryReplaced,  // the temporary file was replaced by another before it was renamed
};

// The platform refused a file on its own: the code, and the reason.
void SetLastErrorRefusal(DWORD code, Refusal reason);

// The platform's own reason behind the last error; Refusal::None when a system
// call failed or the code was set alone.
Refusal LastErrorRefusal();

// The system's text for the errno value behind the last error; "" when none
// stands behind it (a code set alone, or a refusal of the platform's own).
const char* LastErrorReason();

// Maps an errno value to the code above. For ENOENT the path decides between
// "file not found" (2) and "path not found" (3): a missing parent directory is 3.
DWORD ErrorFromErrno(int err, const char* path = nullptr);

// Sets the last error from errno (and the path, for ENOENT); returns the code.
DWORD SetLastErrorFromErrno(int err, const char* path = nullptr);
