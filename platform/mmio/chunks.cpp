// RIFF chunks: entering and searching them, leaving them (patching the sizes
// of chunks being written), and creating them; 64-bit forms keep their sizes
// in a "ds64" chunk.
#include "platform/mmio/mmio.h"
#include "platform/mmio/mmio_file.h"

#include "platform/kernel/lasterror.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

using namespace mmio_io;

namespace {

constexpr FOURCC kRiff = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC kList = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC kRf64 = mmioFOURCC('R', 'F', '6', '4');
constexpr FOURCC kBw64 = mmioFOURCC('B', 'W', '6', '4');
constexpr FOURCC kDs64 = mmioFOURCC('d', 's', '6', '4');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
constexpr DWORD kSizeInDs64 = 0xFFFFFFFFu;
// The size a stream's form and "data" chunk carry: readers take it as "to the end".
constexpr DWORD kStreamedSize = 0xFFFFFFFFu;
// The "ds64" chunk as written: form size, data size, sample count (all
// 64-bit) and an empty table of further sizes.
constexpr DWORD kDs64Size = 28;
// Chunks a search skips before it gives up: real files hold a handful.
constexpr int kMaxChunksSkipped = 1 << 16;
constexpr std::uint64_t kMaxChunkOffset = 0xFFFFFFFFu;

// A chunk header read at a file offset: identifier, 32-bit size and, for
// forms and lists, the form type.
struct ChunkHeader {
    FOURCC ckid = 0;
    DWORD cksize = 0;
    FOURCC fccType = 0;
    std::size_t length = 0;  // bytes of header read: 8, or 12 with a form type
};

bool IsForm(FOURCC id) { return id == kRiff || id == kList || id == kRf64 || id == kBw64; }

bool ReadHeader(int fd, std::uint64_t offset, ChunkHeader& header) {
    BYTE bytes[12];
    if (!ReadAllAt(fd, bytes, 8, offset)) return false;
    header.ckid = Le32(bytes);
    header.cksize = Le32(bytes + 4);
    header.length = 8;
    if (IsForm(header.ckid)) {
        if (!ReadAllAt(fd, bytes + 8, 4, offset + 8)) return false;
        header.fccType = Le32(bytes + 8);
        header.length = 12;
    }
    return true;
}

// Reads the "ds64" chunk that must follow the form type of an "RF64" or "BW64"
// form at formOffset. False when there is none, so the form is not entered.
bool ReadDs64(MMIO& file, std::uint64_t formOffset) {
    ChunkHeader ds64;
    if (!ReadHeader(file.fd, formOffset + 12, ds64) || ds64.ckid != kDs64 || ds64.cksize < 28) return false;
    BYTE fields[28];
    if (!ReadAllAt(file.fd, fields, sizeof fields, formOffset + 20)) return false;
    file.wideRead = true;
    file.riffSize64 = Le64(fields);
    file.dataSize64 = Le64(fields + 8);
    file.sizeTable.clear();
    // The table of further 64-bit sizes: 12 bytes an entry, as many as the chunk holds.
    const std::uint32_t entries = std::min<std::uint32_t>(Le32(fields + 24), (ds64.cksize - 28) / 12);
    for (std::uint32_t i = 0; i < entries && i < 64; ++i) {
        BYTE entry[12];
        if (!ReadAllAt(file.fd, entry, sizeof entry, formOffset + 48 + 12ull * i)) break;
        file.sizeTable.emplace_back(Le32(entry), Le64(entry + 4));
    }
    return true;
}

// The data size of a chunk: in a 64-bit form a 32-bit size of 0xFFFFFFFF
// stands for the size "ds64" gives.
std::uint64_t DataSize(const MMIO& file, FOURCC ckid, DWORD cksize) {
    if (!file.wideRead || cksize != kSizeInDs64) return cksize;
    if (ckid == kData) return file.dataSize64;
    for (const auto& [id, size] : file.sizeTable)
        if (id == ckid) return size;
    return cksize;
}

// Fills the record of the chunk whose header was read at offset and moves the
// file position to its data (after the form type of a form).
MMRESULT Enter(MMIO& file, const ChunkHeader& header, std::uint64_t offset, MMCKINFO* pmmcki) {
    const std::uint64_t dataOffset = offset + 8;
    if (dataOffset > kMaxChunkOffset) return MMIOERR_CHUNKNOTFOUND;
    if (::lseek(file.fd, static_cast<off_t>(offset + header.length), SEEK_SET) < 0) {
        SetLastErrorFromErrno(errno);
        return MMIOERR_CANNOTSEEK;
    }
    pmmcki->ckid = header.ckid;
    pmmcki->cksize = header.cksize;
    pmmcki->fccType = header.fccType;
    pmmcki->dwDataOffset = static_cast<DWORD>(dataOffset);
    pmmcki->dwFlags = 0;
    pmmcki->cksize64 = DataSize(file, header.ckid, header.cksize);
    return kOk;
}

// Where a search inside parent must end: the end of the file, and the end of
// the parent form unless its size is a placeholder (0xFFFFFFFF, or too small
// to hold even the form type, as streaming writers leave it).
std::uint64_t SearchLimit(const MMIO& file, const MMCKINFO* parent) {
    struct stat st {};
    std::uint64_t limit = ::fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size)
                                                                             : UINT64_MAX;
    if (parent == nullptr) return limit;
    const bool placeholder = parent->cksize64 < 4 || (parent->cksize == 0xFFFFFFFFu && (parent->dwFlags & MMIO_WIDEFORM) == 0);
    if (!placeholder) limit = std::min(limit, parent->dwDataOffset + parent->cksize64 + (parent->cksize64 & 1));
    return limit;
}

MMRESULT FindChunk(MMIO& file, MMCKINFO* pmmcki, const MMCKINFO* parent) {
    const FOURCC wanted = pmmcki->ckid;
    *pmmcki = MMCKINFO{};
    const off_t start = CurrentPosition(file.fd);
    if (start < 0) return MMIOERR_CANNOTSEEK;
    const std::uint64_t limit = SearchLimit(file, parent);
    std::uint64_t offset = static_cast<std::uint64_t>(start);
    for (int skipped = 0; skipped <= kMaxChunksSkipped && offset + 8 <= limit; ++skipped) {
        ChunkHeader header;
        if (!ReadHeader(file.fd, offset, header)) break;
        if (header.ckid == wanted) return Enter(file, header, offset, pmmcki);
        const std::uint64_t size = DataSize(file, header.ckid, header.cksize);
        if (size > limit - offset - 8) break;
        offset += 8 + size + (size & 1);
    }
    return MMIOERR_CHUNKNOTFOUND;
}

// Leaves a chunk being written: its data ends at the current position. The
// size goes into its header (or into "ds64" in an "RF64" form), with the pad
// byte after odd data.
MMRESULT LeaveWrittenChunk(MMIO* hmmio, MMCKINFO* pmmcki) {
    const std::uint64_t dataOffset = pmmcki->dwDataOffset;
    const off_t end = CurrentPosition(hmmio->fd);
    if (end < 0) return MMIOERR_CANNOTSEEK;
    if (static_cast<std::uint64_t>(end) < dataOffset) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return MMIOERR_CANNOTSEEK;
    }
    const std::uint64_t size = static_cast<std::uint64_t>(end) - dataOffset;
    const std::uint64_t padded = size + (size & 1);
    // In an "RF64" form the form's and the data chunk's sizes go to "ds64".
    const bool inDs64 = hmmio->ds64Offset != 0 && (pmmcki->ckid == kRf64 || pmmcki->ckid == kData);
    if (!inDs64 && (size > 0xFFFFFFFFu || dataOffset + padded > kMaxChunkOffset + 8)) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return MMIOERR_CANNOTEXPAND;
    }
    const DWORD cksize = inDs64 ? kSizeInDs64 : static_cast<DWORD>(size);
    if ((size & 1) != 0) {
        const char pad = 0;
        if (!WriteAllAt(hmmio->fd, &pad, 1, end)) return MMIOERR_CANNOTWRITE;
    }
    if (!WriteAllAt(hmmio->fd, &cksize, sizeof cksize, static_cast<off_t>(dataOffset - sizeof cksize))) {
        return MMIOERR_CANNOTWRITE;
    }
    if (inDs64) {
        // The form's size counts its pad byte like every other byte after its header.
        const std::uint64_t wideSize = pmmcki->ckid == kRf64 ? padded : size;
        const std::uint64_t field = hmmio->ds64Offset + (pmmcki->ckid == kRf64 ? 0 : 8);
        if (!WriteAllAt(hmmio->fd, &wideSize, sizeof wideSize, static_cast<off_t>(field))) {
            return MMIOERR_CANNOTWRITE;
        }
    }
    pmmcki->cksize = cksize;
    pmmcki->cksize64 = size;
    pmmcki->dwFlags &= ~MMIO_DIRTY;
    if (::lseek(hmmio->fd, static_cast<off_t>(dataOffset + padded), SEEK_SET) < 0) {
        SetLastErrorFromErrno(errno);
        return MMIOERR_CANNOTSEEK;
    }
    return kOk;
}

// Leaves a chunk written to a stream, after the pad byte odd data needs. A
// chunk that was held (its size not known when it was created) gets its size
// and is sent once the outermost held chunk is left; the form and the "data"
// chunk went out at once with the placeholder size.
MMRESULT LeaveStreamedChunk(MMIO* hmmio, MMCKINFO* pmmcki) {
    const std::uint64_t size = hmmio->streamPosition - pmmcki->dwDataOffset;
    bool failed = false;
    const BYTE pad = 0;
    if ((size & 1) != 0 && Put(*hmmio, &pad, 1, &failed) != 1) return MMIOERR_CANNOTWRITE;
    hmmio->streamPosition += size & 1;
    const std::uint64_t header = pmmcki->dwDataOffset - 8;
    if (!hmmio->held.empty() && header >= hmmio->heldFrom) {
        if (size > 0xFFFFFFFFu) {
            SetLastError(ERROR_FILE_TOO_LARGE);
            return MMIOERR_CANNOTEXPAND;
        }
        for (int i = 0; i < 4; ++i) hmmio->held[header - hmmio->heldFrom + 4 + i] = static_cast<BYTE>(size >> (8 * i));
        if (header == hmmio->heldFrom) {
            const std::size_t length = hmmio->held.size();
            if (WriteFully(hmmio->fd, hmmio->held.data(), length, &failed) != length) return MMIOERR_CANNOTWRITE;
            hmmio->held.clear();
        }
    }
    pmmcki->cksize64 = size;
    pmmcki->dwFlags &= ~MMIO_DIRTY;
    return kOk;
}

}  // namespace

MMRESULT mmioDescend(HMMIO hmmio, MMCKINFO* pmmcki, const MMCKINFO* pmmckiParent, UINT fuDescend) {
    if (pmmcki == nullptr) return MMIOERR_CHUNKNOTFOUND;
    if (!Valid(hmmio) || (fuDescend != 0 && fuDescend != MMIO_FINDCHUNK)) {
        *pmmcki = MMCKINFO{};
        return MMIOERR_CHUNKNOTFOUND;
    }
    if (fuDescend == MMIO_FINDCHUNK) return FindChunk(*hmmio, pmmcki, pmmckiParent);

    *pmmcki = MMCKINFO{};
    const off_t start = CurrentPosition(hmmio->fd);
    if (start < 0) return MMIOERR_CANNOTSEEK;
    const auto offset = static_cast<std::uint64_t>(start);
    ChunkHeader header;
    if (!ReadHeader(hmmio->fd, offset, header)) return MMIOERR_CHUNKNOTFOUND;
    bool wide = false;
    if (pmmckiParent == nullptr && (header.ckid == kRf64 || header.ckid == kBw64)) {
        hmmio->wideRead = false;
        wide = ReadDs64(*hmmio, offset);
        // Read like a RIFF form, with its size from "ds64".
        if (wide) header.ckid = kRiff;
    }
    const MMRESULT result = Enter(*hmmio, header, offset, pmmcki);
    if (result == kOk && wide) {
        pmmcki->dwFlags = MMIO_WIDEFORM;
        pmmcki->cksize64 = hmmio->riffSize64;
    }
    return result;
}

MMRESULT mmioAscend(HMMIO hmmio, MMCKINFO* pmmcki, UINT /*fuAscend*/) {
    if (!Valid(hmmio) || pmmcki == nullptr) return MMIOERR_CANNOTSEEK;
    const std::uint64_t dataOffset = pmmcki->dwDataOffset;

    if ((pmmcki->dwFlags & MMIO_DIRTY) != 0 && hmmio->stream) return LeaveStreamedChunk(hmmio, pmmcki);
    if ((pmmcki->dwFlags & MMIO_DIRTY) != 0) return LeaveWrittenChunk(hmmio, pmmcki);

    const std::uint64_t size = pmmcki->cksize64;
    const std::uint64_t end = dataOffset + size + (size & 1);
    if (end > static_cast<std::uint64_t>(INT64_MAX) || ::lseek(hmmio->fd, static_cast<off_t>(end), SEEK_SET) < 0) {
        SetLastErrorFromErrno(errno != 0 ? errno : EINVAL);
        return MMIOERR_CANNOTSEEK;
    }
    return kOk;
}

MMRESULT mmioCreateChunk(HMMIO hmmio, MMCKINFO* pmmcki, UINT fuCreate) {
    if (!Valid(hmmio) || pmmcki == nullptr) return MMIOERR_CANNOTWRITE;
    const off_t start = WritePosition(*hmmio);
    if (start < 0) return MMIOERR_CANNOTSEEK;

    // No size can go into a stream's "ds64" later: a stream's form is RIFF.
    const bool wide = (fuCreate & MMIO_CREATERF64) != 0 && !hmmio->stream;
    const bool form = (fuCreate & (MMIO_CREATERF64 | MMIO_CREATERIFF)) != 0;
    if (form) pmmcki->ckid = wide ? kRf64 : kRiff;
    const bool streamed = hmmio->stream && (form || pmmcki->ckid == kData);

    // A 64-bit form starts with its "ds64" chunk, whose sizes are written when
    // the form and its data chunk are left.
    BYTE header[12 + 8 + kDs64Size] = {};
    auto put32 = [&header](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) header[at + i] = static_cast<BYTE>(v >> (8 * i));
    };
    put32(0, pmmcki->ckid);
    put32(4, wide ? kSizeInDs64 : streamed ? kStreamedSize : 0);
    put32(8, pmmcki->fccType);
    put32(12, kDs64);
    put32(16, kDs64Size);
    const std::size_t length = wide ? sizeof header : form ? 12 : 8;
    const std::uint64_t dataOffset = static_cast<std::uint64_t>(start) + 8;
    if (dataOffset > kMaxChunkOffset) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return MMIOERR_CANNOTEXPAND;
    }
    bool failed = false;
    if (hmmio->stream && !streamed && hmmio->held.empty()) {
        // A stream's chunk other than the form and "data" is held, from its
        // header on, until it is left and its size known.
        hmmio->heldFrom = static_cast<std::uint64_t>(start);
        hmmio->held.assign(header, header + length);
    } else if (Put(*hmmio, header, length, &failed) != length) {
        return MMIOERR_CANNOTWRITE;
    }
    if (hmmio->stream) hmmio->streamPosition += length;

    if (wide) hmmio->ds64Offset = static_cast<std::uint64_t>(start) + 20;
    pmmcki->cksize = 0;
    pmmcki->cksize64 = 0;
    pmmcki->dwDataOffset = static_cast<DWORD>(dataOffset);
    pmmcki->dwFlags = MMIO_DIRTY;
    return kOk;
}
