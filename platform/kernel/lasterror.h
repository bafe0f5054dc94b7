// The thread's last system error, kept in the codes the program reports
// (2 file not found, 3 path not found, 5 access denied, 32 sharing violation,
// 80 file exists, 112 disk full, ...), mapped from errno. The errno value
// behind a code is kept beside it, so that a caller can name the system's
// reason in the system's words.
#pragma once

#include "platform/wintypes.h"
#include "res/strings.h"

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

// The platform refused a file on its own, no system call having failed (a pipe
// where a file of chunks is needed): the code, and the reason in plain words.
void SetLastErrorRefusal(DWORD code, Text reason);

// Why the last error happened, in plain words: the platform's reason for a
// refusal of its own, else the system's text for the errno value behind the
// code; "" when neither is known.
const char* LastErrorReason();

// Maps an errno value to the code above. For ENOENT the path decides between
// "file not found" (2) and "path not found" (3): a missing parent directory is 3.
DWORD ErrorFromErrno(int err, const char* path = nullptr);

// Sets the last error from errno (and the path, for ENOENT); returns the code.
DWORD SetLastErrorFromErrno(int err, const char* path = nullptr);
