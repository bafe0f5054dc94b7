// RIFF file I/O straight on a file descriptor: every mmioRead and mmioWrite is
// a read(2) or write(2) loop, so nothing sits between the program and the
// file, and every failure reaches the caller as a result code.
#include "platform/mmio/mmio.h"
#include "platform/mmio/mmio_file.h"

#include "platform/kernel/lasterror.h"
#include "platform/kernel/open_file.h"
#include "platform/kernel/replace.h"

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace mmio_io {

bool Valid(HMMIO hmmio) { return hmmio != nullptr && hmmio->fd; }

// Reads until count bytes are in or the file ends. Returns the count read, or
// -1 on an error (last error set).
long long ReadFully(int fd, void* buffer, std::size_t count) {
    auto* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastErrorFromErrno(errno);
            return -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

// Writes all count bytes unless the file refuses. Returns the count written;
// when it is short the last error says why.
std::size_t WriteFully(int fd, const void* buffer, std::size_t count, bool* failed) {
    const auto* p = static_cast<const char*>(buffer);
    std::size_t done = 0;
    *failed = false;
    while (done < count) {
        const ssize_t n = ::write(fd, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastErrorFromErrno(errno);
            *failed = true;
            break;
        }
        if (n == 0) {
            SetLastError(ERROR_DISK_FULL);
            *failed = true;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

std::size_t Put(MMIO& file, const void* buffer, std::size_t count, bool* failed) {
    if (file.held.empty()) return WriteFully(file.fd.get(), buffer, count, failed);
    const auto* p = static_cast<const BYTE*>(buffer);
    file.held.insert(file.held.end(), p, p + count);
    *failed = false;
    return count;
}

bool WriteAllAt(int fd, const void* buffer, std::size_t count, off_t offset) {
    const auto* p = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd, p + done, count - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastErrorFromErrno(errno);
            return false;
        }
        if (n == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t ReadAt(int fd, void* buffer, std::size_t count, std::uint64_t offset) {
    auto* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    // Offsets past what off_t holds are past every file.
    if (offset > static_cast<std::uint64_t>(INT64_MAX) - count) return 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, p + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool ReadAllAt(int fd, void* buffer, std::size_t count, std::uint64_t offset) {
    return ReadAt(fd, buffer, count, offset) == count;
}

std::uint64_t FileEnd(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return UINT64_MAX;
    return static_cast<std::uint64_t>(st.st_size);
}

off_t CurrentPosition(int fd) {
    const off_t pos = ::lseek(fd, 0, SEEK_CUR);
    if (pos < 0) SetLastErrorFromErrno(errno);
    return pos;
}

off_t WritePosition(const MMIO& file) {
    return file.stream ? static_cast<off_t>(file.streamPosition) : CurrentPosition(file.fd.get());
}


}  // namespace mmio_io

using namespace mmio_io;

FOURCC mmioStringToFOURCC(const char* sz, UINT uFlags) {
    char code[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; sz != nullptr && i < 4 && sz[i] != '\0'; ++i) {
        char c = sz[i];
        if ((uFlags & MMIO_TOUPPER) != 0 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        code[i] = c;
    }
    return mmioFOURCC(code[0], code[1], code[2], code[3]);
}

HMMIO mmioOpenA(const char* path, MMIOINFO* info, DWORD dwOpenFlags) {
    if (path == nullptr || *path == '\0') {
        SetLastErrorFromErrno(ENOENT);
        return nullptr;
    }
    if (info != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    int flags = 0;
    switch (dwOpenFlags) {
        case MMIO_READ:
            flags = O_RDONLY;
            break;
        case MMIO_CREATE | MMIO_WRITE:
            flags = O_WRONLY | O_CREAT | O_TRUNC;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
    }
    // A directory opens for reading on Linux but holds no chunks; a pipe or a
    // socket cannot go back to patch or skip a chunk.
    auto file = std::make_unique<MMIO>();
    struct stat st {};
    switch (OpenWithoutWaiting(AT_FDCWD, path, flags, Openable::FilesAndDevices, file->fd, st)) {
        case OpenOutcome::Opened:
            break;
        case OpenOutcome::Failed:
            SetLastErrorFromErrno(errno, path);
            return nullptr;
        case OpenOutcome::WrongKind:
            if (S_ISDIR(st.st_mode)) SetLastErrorFromErrno(EISDIR);
            else SetLastErrorRefusal(ERROR_ACCESS_DENIED, Refusal::NotRegularFile);
            return nullptr;
    }
    file->stream = S_ISCHR(st.st_mode);
    file->regularWrite = S_ISREG(st.st_mode) && (flags & O_WRONLY) != 0;
    return file.release();
}

MMRESULT mmioClose(HMMIO hmmio, UINT /*uFlags*/) {
    if (hmmio == nullptr) return MMIOERR_CANNOTWRITE;
    std::unique_ptr<MMIO> file(hmmio);
    // A delayed write error the close reports must reach the caller.
    if (file->fd && !file->fd.Close()) {
        SetLastErrorFromErrno(errno);
        return MMIOERR_CANNOTWRITE;
    }
    return kOk;
}

LONG mmioRead(HMMIO hmmio, char* pch, LONG cch) {
    if (!Valid(hmmio) || cch < 0 || (pch == nullptr && cch > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    // A RIFX file's numbers are turned little-endian where they were read.
    const off_t at = hmmio->layout == Layout::Rifx ? CurrentPosition(hmmio->fd.get()) : 0;
    if (at < 0) return -1;
    const long long n = ReadFully(hmmio->fd.get(), pch, static_cast<std::size_t>(cch));
    if (n > 0 && hmmio->layout == Layout::Rifx) {
        ToLittleEndian(*hmmio, static_cast<std::uint64_t>(at),
                       std::span(reinterpret_cast<BYTE*>(pch), static_cast<std::size_t>(n)));
    }
    return static_cast<LONG>(n);
}

namespace {

// Output files are flushed to disk before they replace the destination; the
// disk is started on what is written every few megabytes meanwhile.
constexpr std::uint64_t kWriteBackEvery = 8 << 20;

void CountWritten(MMIO& file, std::size_t written) {
    if (file.stream) file.streamPosition += written;
    if (!file.regularWrite) return;
    file.unstarted += written;
    if (file.unstarted < kWriteBackEvery) return;
    file.unstarted = 0;
    StartWriteBack(file.fd.get());
}

}  // namespace

LONG mmioWrite(HMMIO hmmio, const char* pch, LONG cch) {
    if (!Valid(hmmio) || cch < 0 || (pch == nullptr && cch > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    bool failed = false;
    const std::size_t n = Put(*hmmio, pch, static_cast<std::size_t>(cch), &failed);
    if (failed && n == 0 && cch > 0) return -1;
    CountWritten(*hmmio, n);
    return static_cast<LONG>(n);
}


std::int64_t mmioSeek(HMMIO hmmio, std::int64_t lOffset, int iOrigin) {
    if (!Valid(hmmio)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    const off_t pos = ::lseek(hmmio->fd.get(), static_cast<off_t>(lOffset), iOrigin);
    if (pos < 0) SetLastErrorFromErrno(errno);
    return pos;
}

HMMIO mmioOpenFd(UniqueFd descriptor, DWORD dwOpenFlags) {
    auto file = std::make_unique<MMIO>();
    file->fd = std::move(descriptor);
    const int fd = file->fd.get();
    if (fd < 0) return nullptr;
    if (dwOpenFlags != MMIO_WRITE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    struct stat st {};
    const int status = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || status < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        SetLastErrorFromErrno(EISDIR);
        return nullptr;
    }
    // Appending moves every write to the end, a size patch included.
    const bool seekable = (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)) && (status & O_APPEND) == 0;
    file->stream = !seekable || ::lseek(fd, 0, SEEK_CUR) < 0;
    file->regularWrite = S_ISREG(st.st_mode);
    return file.release();
}
