// Kernel file services on Linux: handles are file descriptors, identity records
// come from statx on the open descriptor, the whole-file copy goes through the
// kernel's in-place copy and replaces the destination only when complete.
#include "platform/kernel/kernel.h"

#include "platform/kernel/replace.h"
#include "platform/kernel/unique_fd.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

// 100 ns intervals per second, and seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
constexpr std::uint64_t kLargestFileTime = 0x7FFF'FFFF'FFFF'FFFFull;

HANDLE HandleFromFd(int fd) { return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd)); }

int FdFromHandle(HANDLE handle) {
    const auto value = reinterpret_cast<std::intptr_t>(handle);
    return value < 0 || value > INT_MAX ? -1 : static_cast<int>(value);
}

FILETIME MakeFileTime(std::uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFF'FFFFu), static_cast<DWORD>(ticks >> 32)};
}

// A statx stamp as 100 ns intervals since 1601; stamps before 1601 give 0 and
// stamps too far in the future give the largest stamp the conversion accepts.
FILETIME FileTimeFromStatx(const struct statx_timestamp& ts) {
    const std::int64_t seconds = ts.tv_sec + kSecondsFrom1601To1970;
    if (seconds < 0) return MakeFileTime(0);
    if (static_cast<std::uint64_t>(seconds) >= kLargestFileTime / kTicksPerSecond) return MakeFileTime(kLargestFileTime);
    return MakeFileTime(static_cast<std::uint64_t>(seconds) * kTicksPerSecond + ts.tv_nsec / 100);
}

// Attribute bits from the file's type and permission bits (and the few inode
// flags that have a counterpart), never from its name.
DWORD AttributesFromStatx(const struct statx& stx) {
    DWORD attributes = 0;
    // Directories are never opened, so everything else is a file or a device.
    if (!S_ISREG(stx.stx_mode)) attributes |= FILE_ATTRIBUTE_DEVICE;  // character or block device, pipe, socket
    const std::uint64_t flags = stx.stx_attributes & stx.stx_attributes_mask;
    if ((stx.stx_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || (flags & STATX_ATTR_IMMUTABLE) != 0) {
        attributes |= FILE_ATTRIBUTE_READONLY;
    }
    if ((flags & STATX_ATTR_COMPRESSED) != 0) attributes |= FILE_ATTRIBUTE_COMPRESSED;
    if ((flags & STATX_ATTR_ENCRYPTED) != 0) attributes |= FILE_ATTRIBUTE_ENCRYPTED;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

// Days since 1970-01-01 to a proleptic Gregorian date (H. Hinnant's civil_from_days).
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
    days += 719'468;
    const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146'097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 = March
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

// Copies what is left of in to out. The kernel copies in place where it can
// (copy_file_range between regular files, sendfile to anything else); a read
// and write loop finishes whatever those leave, up to the end of the input.
// Any failure of the in-place copies hands over to the loop, which finds the
// side that failed: a failed read sets ERROR_READ_FAULT, a failed write the
// code of its errno. A regular file is handed to the disk chunk by chunk, so
// the flush before it replaces the destination has little left to wait for.
// Returns false with the last error set.
bool CopyContent(int in, int out, off_t sizeHint) {
    constexpr std::size_t kChunk = std::size_t{8} << 20;
    struct stat st {};
    const bool regular = ::fstat(out, &st) == 0 && S_ISREG(st.st_mode);
    off_t done = 0;
    bool inPlace = true;
    while (inPlace && done < sizeHint) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
        if (n > 0) {
            done += n;
            if (regular) StartWriteBack(out);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            inPlace = false;
        }
    }
    bool sendFile = done < sizeHint;
    while (sendFile && done < sizeHint) {
        const ssize_t n = ::sendfile(out, in, nullptr, kChunk);
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            sendFile = false;
        }
    }
    std::vector<char> buffer(std::size_t{1} << 20);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            SetLastError(ERROR_READ_FAULT);
            return false;
        }
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = ::write(out, buffer.data() + put, static_cast<std::size_t>(got - put));
            if (n < 0) {
                if (errno == EINTR) continue;
                SetLastErrorFromErrno(errno);
                return false;
            }
            put += n;
        }
    }
}

// The mode a new regular file gets: 0666 less the process's umask, read
// without changing it where the kernel shows it.
mode_t NewFileMode() {
    mode_t mask = 022;
    bool known = false;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[128];
        unsigned value = 0;
        while (!known && std::fgets(line, sizeof line, status) != nullptr) known = std::sscanf(line, "Umask: %o", &value) == 1;
        std::fclose(status);
        mask = static_cast<mode_t>(value);
    }
    if (!known) {
        mask = ::umask(022);
        ::umask(mask);
    }
    return 0666 & ~mask;
}

}  // namespace

HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                   SECURITY_ATTRIBUTES* /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
    // Linux has no mandatory sharing modes, so the share mode cannot be enforced
    // and is not looked at.
    if (lpFileName == nullptr || dwDesiredAccess != 0 || dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // Attribute queries only: no content access, so no read permission is needed.
    UniqueFd fd(::open(lpFileName, O_CLOEXEC | O_PATH));
    if (fd.get() < 0) {
        SetLastErrorFromErrno(errno, lpFileName);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        SetLastErrorFromErrno(errno, lpFileName);
        return INVALID_HANDLE_VALUE;
    }
    if (S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return HandleFromFd(fd.Release());
}

BOOL GetFileInformationByHandle(HANDLE hFile, BY_HANDLE_FILE_INFORMATION* lpFileInformation) {
    const int fd = FdFromHandle(hFile);
    if (fd < 0 || lpFileInformation == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    struct statx stx {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    // The record is written only on success: a caller's fill survives a failure.
    BY_HANDLE_FILE_INFORMATION info {};
    info.dwFileAttributes = AttributesFromStatx(stx);
    // Creation time is the birth time where the file system keeps one; otherwise
    // the status-change time is the nearest thing Linux has.
    info.ftCreationTime = FileTimeFromStatx((stx.stx_mask & STATX_BTIME) != 0 ? stx.stx_btime : stx.stx_ctime);
    info.ftLastAccessTime = FileTimeFromStatx(stx.stx_atime);
    info.ftLastWriteTime = FileTimeFromStatx(stx.stx_mtime);
    // The device id, in the C library's 64-bit encoding, folded to 32 bits; for
    // the usual small major and minor numbers the fold changes nothing.
    const std::uint64_t device = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    info.dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    info.nFileSizeHigh = static_cast<DWORD>(stx.stx_size >> 32);
    info.nFileSizeLow = static_cast<DWORD>(stx.stx_size & 0xFFFF'FFFFu);
    info.nNumberOfLinks = stx.stx_nlink;
    info.nFileIndexHigh = static_cast<DWORD>(stx.stx_ino >> 32);
    info.nFileIndexLow = static_cast<DWORD>(stx.stx_ino & 0xFFFF'FFFFu);
    *lpFileInformation = info;
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
    const int fd = FdFromHandle(hObject);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // The handle is the descriptor CreateFileA released from its owner; an
    // owner takes it back to close it.
    if (UniqueFd owner(fd); !owner.Close()) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime) {
    if (lpFileTime == nullptr || lpSystemTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
    if (ticks > kLargestFileTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::uint64_t seconds = ticks / kTicksPerSecond;
    const auto days = static_cast<std::int64_t>(seconds / 86'400);
    const std::uint64_t secondOfDay = seconds % 86'400;
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    CivilFromDays(days - kSecondsFrom1601To1970 / 86'400, year, month, day);
    SYSTEMTIME st {};
    st.wYear = static_cast<WORD>(year);  // at most 30828 for the largest stamp
    st.wMonth = static_cast<WORD>(month);
    st.wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    st.wDay = static_cast<WORD>(day);
    st.wHour = static_cast<WORD>(secondOfDay / 3600);
    st.wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
    st.wSecond = static_cast<WORD>(secondOfDay % 60);
    st.wMilliseconds = static_cast<WORD>(ticks / 10'000 % 1000);
    *lpSystemTime = st;
    return TRUE;
}

BOOL CopyFileA(const char* lpExistingFileName, const char* lpNewFileName, BOOL bFailIfExists) {
    if (lpExistingFileName == nullptr || lpNewFileName == nullptr || bFailIfExists) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A folder, a pipe or a socket is refused without waiting for a writer.
    struct stat source {};
    UniqueFd in(OpenCopySource(lpExistingFileName, &source));
    if (in.get() < 0) return FALSE;
    struct stat destination {};
    if (::stat(lpNewFileName, &destination) == 0 && destination.st_dev == source.st_dev &&
        destination.st_ino == source.st_ino) {
        // The source is open for reading; the destination cannot be opened for
        // writing over it.
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }

    PendingReplace pending;
    if (!BeginReplace(lpNewFileName, pending)) return FALSE;
    ReplaceGuard guard(pending);
    UniqueFd out(OpenReplaceTarget(pending));
    if (out.get() < 0) return FALSE;
    const bool regular = S_ISREG(source.st_mode);
    if (!CopyContent(in.get(), out.get(), regular ? source.st_size : 0)) return FALSE;
    if (!pending.direct) {
        // A device's mode is no file's: a copy of one gets a new file's mode.
        const mode_t mode = regular ? source.st_mode & 07777 : NewFileMode();
        const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
        if (::fchmod(out.get(), mode) != 0 || ::futimens(out.get(), times) != 0) {
            SetLastErrorFromErrno(errno);
            return FALSE;
        }
    }
    if (!out.Close()) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return CommitReplace(pending) ? TRUE : FALSE;
}
