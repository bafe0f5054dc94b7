// RIFF chunk file I/O straight on a file descriptor: every mmioRead and
// mmioWrite is a read(2) or write(2) loop, so nothing sits between the program
// and the file, and every failure reaches the caller as a result code.
#include "platform/mmio/mmio.h"
#include "platform/mmio/mmio_testing.h"

#include "platform/kernel/lasterror.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <memory>
#include <unistd.h>

struct MMIO {
    int fd = -1;
    ~MMIO() {
        // Only reached for a handle whose close already failed or was never
        // asked for; mmioClose reports its own close result.
        if (fd >= 0) ::close(fd);
    }
};

namespace {

constexpr MMRESULT kOk = 0;
constexpr FOURCC kRiff = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC kList = mmioFOURCC('L', 'I', 'S', 'T');
constexpr std::uint64_t kMaxChunkOffset = 0xFFFFFFFFu;

// The countdown set by SetReadFailureForTesting; 0 means off.
int gReadFailureCountdown = 0;
DWORD gReadFailureError = ERROR_READ_FAULT;

bool Valid(HMMIO hmmio) { return hmmio != nullptr && hmmio->fd >= 0; }

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

off_t CurrentPosition(int fd) {
    const off_t pos = ::lseek(fd, 0, SEEK_CUR);
    if (pos < 0) SetLastErrorFromErrno(errno);
    return pos;
}

}  // namespace

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
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (info != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    int flags = O_CLOEXEC;
    switch (dwOpenFlags) {
        case MMIO_READ:
            flags |= O_RDONLY;
            break;
        case MMIO_READWRITE:
            flags |= O_RDWR;
            break;
        case MMIO_CREATE | MMIO_WRITE:
            flags |= O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case MMIO_CREATE | MMIO_READWRITE:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
    }
    // Opened without blocking, so that a pipe with nobody at its other end
    // is refused at once instead of hanging the program.
    auto file = std::make_unique<MMIO>();
    do {
        file->fd = ::open(path, flags | O_NONBLOCK, 0666);
    } while (file->fd < 0 && errno == EINTR);
    if (file->fd < 0) {
        SetLastErrorFromErrno(errno, path);
        return nullptr;
    }
    // A directory opens for reading on Linux but holds no chunks; a pipe or a
    // socket cannot go back to patch or skip a chunk.
    struct stat st {};
    if (::fstat(file->fd, &st) != 0) {
        SetLastErrorFromErrno(errno, path);
        return nullptr;
    }
    if (S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const int status = ::fcntl(file->fd, F_GETFL);
    if (status < 0 || ::fcntl(file->fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
        SetLastErrorFromErrno(errno, path);
        return nullptr;
    }
    return file.release();
}

MMRESULT mmioClose(HMMIO hmmio, UINT /*uFlags*/) {
    if (hmmio == nullptr) return MMIOERR_CANNOTWRITE;
    std::unique_ptr<MMIO> file(hmmio);
    const int fd = file->fd;
    file->fd = -1;
    // close(2) is not retried on EINTR: the descriptor is gone either way, and
    // a delayed write error it reports must reach the caller.
    if (fd >= 0 && ::close(fd) != 0) {
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
    if (gReadFailureCountdown > 0 && --gReadFailureCountdown == 0) {
        SetLastError(gReadFailureError);
        return -1;
    }
    const long long n = ReadFully(hmmio->fd, pch, static_cast<std::size_t>(cch));
    return static_cast<LONG>(n);
}

void SetReadFailureForTesting(int nthCall, DWORD error) {
    gReadFailureCountdown = nthCall > 0 ? nthCall : 0;
    gReadFailureError = error;
}

LONG mmioWrite(HMMIO hmmio, const char* pch, LONG cch) {
    if (!Valid(hmmio) || cch < 0 || (pch == nullptr && cch > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    bool failed = false;
    const std::size_t n = WriteFully(hmmio->fd, pch, static_cast<std::size_t>(cch), &failed);
    if (failed && n == 0 && cch > 0) return -1;
    return static_cast<LONG>(n);
}

MMRESULT mmioDescend(HMMIO hmmio, MMCKINFO* pmmcki, const MMCKINFO* /*pmmckiParent*/, UINT fuDescend) {
    if (pmmcki == nullptr) return MMIOERR_CHUNKNOTFOUND;
    *pmmcki = MMCKINFO{};
    // Only the chunk at the current position is entered; searching is not offered.
    if (!Valid(hmmio) || fuDescend != 0) return MMIOERR_CHUNKNOTFOUND;

    const off_t start = CurrentPosition(hmmio->fd);
    if (start < 0) return MMIOERR_CANNOTSEEK;
    DWORD header[2] = {};
    if (ReadFully(hmmio->fd, header, sizeof header) != static_cast<long long>(sizeof header)) {
        return MMIOERR_CHUNKNOTFOUND;
    }
    FOURCC fccType = 0;
    if (header[0] == kRiff || header[0] == kList) {
        if (ReadFully(hmmio->fd, &fccType, sizeof fccType) != static_cast<long long>(sizeof fccType)) {
            return MMIOERR_CHUNKNOTFOUND;
        }
    }
    const std::uint64_t dataOffset = static_cast<std::uint64_t>(start) + sizeof header;
    if (dataOffset > kMaxChunkOffset) return MMIOERR_CHUNKNOTFOUND;

    pmmcki->ckid = header[0];
    pmmcki->cksize = header[1];
    pmmcki->fccType = fccType;
    pmmcki->dwDataOffset = static_cast<DWORD>(dataOffset);
    return kOk;
}

MMRESULT mmioAscend(HMMIO hmmio, MMCKINFO* pmmcki, UINT /*fuAscend*/) {
    if (!Valid(hmmio) || pmmcki == nullptr) return MMIOERR_CANNOTSEEK;
    const std::uint64_t dataOffset = pmmcki->dwDataOffset;

    if ((pmmcki->dwFlags & MMIO_DIRTY) != 0) {
        // A chunk being written: its data ends at the current position.
        const off_t end = CurrentPosition(hmmio->fd);
        if (end < 0) return MMIOERR_CANNOTSEEK;
        if (static_cast<std::uint64_t>(end) < dataOffset) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return MMIOERR_CANNOTSEEK;
        }
        const std::uint64_t size = static_cast<std::uint64_t>(end) - dataOffset;
        const std::uint64_t padded = size + (size & 1);
        if (size > 0xFFFFFFFFu || dataOffset + padded > kMaxChunkOffset + 8) {
            SetLastError(ERROR_FILE_TOO_LARGE);
            return MMIOERR_CANNOTEXPAND;
        }
        const DWORD cksize = static_cast<DWORD>(size);
        if ((size & 1) != 0) {
            const char pad = 0;
            if (!WriteAllAt(hmmio->fd, &pad, 1, end)) return MMIOERR_CANNOTWRITE;
        }
        if (!WriteAllAt(hmmio->fd, &cksize, sizeof cksize, static_cast<off_t>(dataOffset - sizeof cksize))) {
            return MMIOERR_CANNOTWRITE;
        }
        pmmcki->cksize = cksize;
        pmmcki->dwFlags &= ~MMIO_DIRTY;
        if (::lseek(hmmio->fd, static_cast<off_t>(dataOffset + padded), SEEK_SET) < 0) {
            SetLastErrorFromErrno(errno);
            return MMIOERR_CANNOTSEEK;
        }
        return kOk;
    }

    const std::uint64_t size = pmmcki->cksize;
    const std::uint64_t end = dataOffset + size + (size & 1);
    if (::lseek(hmmio->fd, static_cast<off_t>(end), SEEK_SET) < 0) {
        SetLastErrorFromErrno(errno);
        return MMIOERR_CANNOTSEEK;
    }
    return kOk;
}

MMRESULT mmioCreateChunk(HMMIO hmmio, MMCKINFO* pmmcki, UINT fuCreate) {
    if (!Valid(hmmio) || pmmcki == nullptr) return MMIOERR_CANNOTWRITE;
    const off_t start = CurrentPosition(hmmio->fd);
    if (start < 0) return MMIOERR_CANNOTSEEK;

    if ((fuCreate & MMIO_CREATERIFF) != 0) pmmcki->ckid = kRiff;
    if ((fuCreate & MMIO_CREATELIST) != 0) pmmcki->ckid = kList;
    const bool form = (fuCreate & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;

    DWORD header[3] = {pmmcki->ckid, 0, pmmcki->fccType};
    const std::size_t length = form ? 12 : 8;
    const std::uint64_t dataOffset = static_cast<std::uint64_t>(start) + 8;
    if (dataOffset > kMaxChunkOffset) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return MMIOERR_CANNOTEXPAND;
    }
    bool failed = false;
    if (WriteFully(hmmio->fd, header, length, &failed) != length) return MMIOERR_CANNOTWRITE;

    pmmcki->cksize = 0;
    pmmcki->dwDataOffset = static_cast<DWORD>(dataOffset);
    pmmcki->dwFlags = MMIO_DIRTY;
    return kOk;
}
