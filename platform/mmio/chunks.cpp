// RIFF chunks: entering and searching them, leaving them (patching the sizes
// of chunks being written), and creating them; 64-bit forms keep their sizes
// in a "ds64" chunk. RIFX and Wave64 files are read into the same records.
#include "platform/mmio/mmio.h"
#include "platform/mmio/mmio_file.h"
#include "platform/mmio/layout.h"

#include "platform/endian.h"
#include "platform/kernel/lasterror.h"

#include <algorithm>
#include <cerrno>

using namespace mmio_io;
using namespace mmio_layout;

namespace {

constexpr DWORD kSizeInDs64 = 0xFFFFFFFFu;
// The size a stream's form and "data" chunk carry: readers take it as "to the end".
constexpr DWORD kStreamedSize = 0xFFFFFFFFu;
// The "ds64" chunk as written: form size, data size, sample count (all
// 64-bit) and an empty table of further sizes.
constexpr DWORD kDs64Size = 28;
// Chunks a search skips before it gives up: real files hold a handful.
constexpr int kMaxChunksSkipped = 1 << 16;
constexpr std::uint64_t kMaxChunkOffset = 0xFFFFFFFFu;

// Reads the "ds64" chunk that must follow the form type of an "RF64" or "BW64"
// form at formOffset. False when there is none, so the form is not entered.
bool ReadDs64(MMIO& file, std::uint64_t formOffset) {
    ChunkHeader ds64;
    if (!ReadHeader(file, formOffset + 12, ds64) || ds64.ckid != kDs64 || ds64.cksize < 28) return false;
    BYTE fields[28];
    if (!ReadAllAt(file.fd.get(), fields, sizeof fields, formOffset + 20)) return false;
    file.wideRead = true;
    file.riffSize64 = endian::LoadLe64(fields);
    file.dataSize64 = endian::LoadLe64(fields + 8);
    file.sizeTable.clear();
    // The table of further 64-bit sizes: 12 bytes an entry, as many as the chunk holds.
    const std::uint32_t entries = std::min<std::uint32_t>(endian::LoadLe32(fields + 24), (ds64.cksize - 28) / 12);
    for (std::uint32_t i = 0; i < entries && i < 64; ++i) {
        BYTE entry[12];
        if (!ReadAllAt(file.fd.get(), entry, sizeof entry, formOffset + 48 + 12ull * i)) break;
        file.sizeTable.emplace_back(endian::LoadLe32(entry), endian::LoadLe64(entry + 4));
    }
    return true;
}

// The data size of a chunk: in a 64-bit form a 32-bit size of 0xFFFFFFFF
// stands for the size "ds64" gives.
std::uint64_t DataSize(const MMIO& file, const ChunkHeader& header) {
    if (!file.wideRead || header.cksize != kSizeInDs64) return header.size;
    if (header.ckid == kData) return file.dataSize64;
    for (const auto& [id, size] : file.sizeTable)
        if (id == header.ckid) return size;
    return header.size;
}

bool IsWaveForm(const MMCKINFO& form) { return form.ckid == kRiff && form.fccType == kWave; }

// True when a WAVE form's size was never filled in: a placeholder (0,
// 0xFFFFFFFF, or in Wave64 less than its header), or too small to hold a
// format chunk and the head of a data chunk.
bool FormSizeUnfilled(const MMIO& file, const MMCKINFO& form) {
    if ((form.dwFlags & MMIO_WIDEFORM) == 0 && form.cksize == 0xFFFFFFFFu) return true;
    return form.cksize64 < SmallestWaveForm(file.layout);
}

// The size of a data chunk inside form, whose data begins at dataOffset. A
// size never filled in (a recorder stopped before it closed its file, a
// streaming writer) is read as "to the end of the file": 0 or 0xFFFFFFFF in
// a form whose size is unfilled too or ends before the file does, and in
// Wave64 a size smaller than its header. A size of 0 followed by a chunk
// header is an empty chunk.
std::uint64_t DataSizeFilledIn(const MMIO& file, const ChunkHeader& header, std::uint64_t dataOffset,
                               const MMCKINFO& form) {
    const std::uint64_t size = DataSize(file, header);
    const std::uint64_t fileEnd = FileEnd(file.fd.get());
    if (fileEnd == UINT64_MAX || fileEnd <= dataOffset) return size;
    if (file.layout == Layout::Wave64) return header.sizeUnusable ? fileEnd - dataOffset : size;
    const bool placeholder = header.cksize == 0 || (header.cksize == 0xFFFFFFFFu && !file.wideRead);
    if (!placeholder || (header.cksize == 0 && ChunkHeaderAt(file, dataOffset, fileEnd))) return size;
    const auto formEnd = NextChunk(file.layout, form.dwDataOffset, form.cksize64, UINT64_MAX);
    const bool formShort = FormSizeUnfilled(file, form) || (formEnd && *formEnd < fileEnd);
    return formShort ? fileEnd - dataOffset : size;
}

// Fills the record of the chunk whose header was read at offset inside
// parent (null at the top level) and moves the file position to its data
// (after the form type of a form).
MMRESULT Enter(MMIO& file, const ChunkHeader& header, std::uint64_t offset, const MMCKINFO* parent,
               MMCKINFO* pmmcki) {
    const std::uint64_t dataOffset = offset + header.headerLength;
    if (dataOffset > kMaxChunkOffset) return MMIOERR_CHUNKNOTFOUND;
    if (::lseek(file.fd.get(), static_cast<off_t>(offset + header.length), SEEK_SET) < 0) {
        SetLastErrorFromErrno(errno);
        return MMIOERR_CANNOTSEEK;
    }
    pmmcki->ckid = header.ckid;
    pmmcki->cksize = header.cksize;
    pmmcki->fccType = header.fccType;
    pmmcki->dwDataOffset = static_cast<DWORD>(dataOffset);
    pmmcki->dwFlags = 0;
    const bool data = parent != nullptr && header.ckid == kData && IsWaveForm(*parent);
    pmmcki->cksize64 = data ? DataSizeFilledIn(file, header, dataOffset, *parent) : DataSize(file, header);
    NoteEnteredChunk(file, *pmmcki);
    return kOk;
}

// Enters the form at offset, the first of the file: a "RIFX" form, a Wave64
// "riff" form, and an "RF64" or "BW64" form whose first chunk is "ds64" are
// entered as a "RIFF" form; the last two and Wave64 are 64-bit forms.
MMRESULT EnterForm(MMIO& file, std::uint64_t offset, MMCKINFO* pmmcki) {
    file.layout = LayoutAt(file.fd.get(), offset);
    file.wideRead = false;
    file.copies.clear();
    file.sampleWidth = 0;
    file.samples = {};
    ChunkHeader header;
    if (!ReadHeader(file, offset, header)) return MMIOERR_CHUNKNOTFOUND;
    bool wide = file.layout == Layout::Wave64 && header.ckid == kRiff;
    if (header.ckid == kRf64 || header.ckid == kBw64) {
        // Read like a RIFF form, with its size from "ds64".
        wide = ReadDs64(file, offset);
        if (wide) header.ckid = kRiff;
    }
    if (header.ckid == kRifx) header.ckid = kRiff;
    const MMRESULT result = Enter(file, header, offset, nullptr, pmmcki);
    if (result == kOk && wide) {
        pmmcki->dwFlags = MMIO_WIDEFORM;
        if (file.wideRead) pmmcki->cksize64 = file.riffSize64;
    }
    return result;
}

// True when the parent's size is a placeholder that bounds nothing: a WAVE
// form's never filled in, another chunk's 0xFFFFFFFF or too small for a form
// type, as streaming writers and stopped recorders leave them.
bool SizeBoundsNothing(const MMIO& file, const MMCKINFO& parent) {
    if (IsWaveForm(parent)) return FormSizeUnfilled(file, parent);
    return parent.cksize64 < 4 || (parent.cksize == 0xFFFFFFFFu && (parent.dwFlags & MMIO_WIDEFORM) == 0);
}

// Where a search inside parent must end: the end of the file, and the end of
// the parent unless its size bounds nothing.
std::uint64_t SearchLimit(const MMIO& file, const MMCKINFO* parent) {
    const std::uint64_t limit = FileEnd(file.fd.get());
    if (parent == nullptr || SizeBoundsNothing(file, *parent)) return limit;
    const auto end = NextChunk(file.layout, parent->dwDataOffset, parent->cksize64, limit);
    return end ? *end : limit;
}

MMRESULT FindChunk(MMIO& file, MMCKINFO* pmmcki, const MMCKINFO* parent) {
    const FOURCC wanted = pmmcki->ckid;
    *pmmcki = MMCKINFO{};
    const off_t start = CurrentPosition(file.fd.get());
    if (start < 0) return MMIOERR_CANNOTSEEK;
    const std::uint64_t limit = SearchLimit(file, parent);
    std::uint64_t offset = static_cast<std::uint64_t>(start);
    for (int skipped = 0; skipped <= kMaxChunksSkipped && offset <= limit && limit - offset >= 8; ++skipped) {
        ChunkHeader header;
        if (!ReadHeader(file, offset, header)) break;
        // Only a data chunk is entered with a size too small for its header
        // (it runs to the end of the file); any other such size ends the search.
        if (header.sizeUnusable && header.ckid != kData) break;
        if (header.ckid == wanted) return Enter(file, header, offset, parent, pmmcki);
        // Skipped by its size and pad; a size that runs past the limit ends the search.
        const auto next = NextChunk(file.layout, offset + header.headerLength, DataSize(file, header), limit);
        if (header.sizeUnusable || !next) break;
        offset = *next;
    }
    return MMIOERR_CHUNKNOTFOUND;
}

// Leaves a chunk being written: its data ends at the current position. The
// size goes into its header (or into "ds64" in an "RF64" form), with the pad
// byte after odd data.
MMRESULT LeaveWrittenChunk(MMIO* hmmio, MMCKINFO* pmmcki) {
    const std::uint64_t dataOffset = pmmcki->dwDataOffset;
    const off_t end = CurrentPosition(hmmio->fd.get());
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
    BYTE sizeField[8];
    endian::StoreLe32(sizeField, cksize);
    if ((size & 1) != 0) {
        const char pad = 0;
        if (!WriteAllAt(hmmio->fd.get(), &pad, 1, end)) return MMIOERR_CANNOTWRITE;
    }
    if (!WriteAllAt(hmmio->fd.get(), sizeField, 4, static_cast<off_t>(dataOffset - 4))) {
        return MMIOERR_CANNOTWRITE;
    }
    if (inDs64) {
        // The form's size counts its pad byte like every other byte after its header.
        const std::uint64_t wideSize = pmmcki->ckid == kRf64 ? padded : size;
        const std::uint64_t field = hmmio->ds64Offset + (pmmcki->ckid == kRf64 ? 0 : 8);
        endian::StoreLe64(sizeField, wideSize);
        if (!WriteAllAt(hmmio->fd.get(), sizeField, sizeof sizeField, static_cast<off_t>(field))) {
            return MMIOERR_CANNOTWRITE;
        }
    }
    pmmcki->cksize = cksize;
    pmmcki->cksize64 = size;
    pmmcki->dwFlags &= ~MMIO_DIRTY;
    if (::lseek(hmmio->fd.get(), static_cast<off_t>(dataOffset + padded), SEEK_SET) < 0) {
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
        endian::StoreLe32(&hmmio->held[header - hmmio->heldFrom + 4], static_cast<std::uint32_t>(size));
        if (header == hmmio->heldFrom) {
            const std::size_t length = hmmio->held.size();
            if (WriteFully(hmmio->fd.get(), hmmio->held.data(), length, &failed) != length) return MMIOERR_CANNOTWRITE;
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
    const off_t start = CurrentPosition(hmmio->fd.get());
    if (start < 0) return MMIOERR_CANNOTSEEK;
    const auto offset = static_cast<std::uint64_t>(start);
    if (pmmckiParent == nullptr) return EnterForm(*hmmio, offset, pmmcki);
    ChunkHeader header;
    if (!ReadHeader(*hmmio, offset, header)) return MMIOERR_CHUNKNOTFOUND;
    return Enter(*hmmio, header, offset, pmmckiParent, pmmcki);
}

MMRESULT mmioAscend(HMMIO hmmio, MMCKINFO* pmmcki, UINT /*fuAscend*/) {
    if (!Valid(hmmio) || pmmcki == nullptr) return MMIOERR_CANNOTSEEK;
    const std::uint64_t dataOffset = pmmcki->dwDataOffset;

    if ((pmmcki->dwFlags & MMIO_DIRTY) != 0 && hmmio->stream) return LeaveStreamedChunk(hmmio, pmmcki);
    if ((pmmcki->dwFlags & MMIO_DIRTY) != 0) return LeaveWrittenChunk(hmmio, pmmcki);

    // A size that no file can hold leaves the position where it is.
    const auto end = NextChunk(hmmio->layout, dataOffset, pmmcki->cksize64, INT64_MAX);
    if (!end) {
        SetLastErrorFromErrno(EINVAL);
        return MMIOERR_CANNOTSEEK;
    }
    if (::lseek(hmmio->fd.get(), static_cast<off_t>(*end), SEEK_SET) < 0) {
        SetLastErrorFromErrno(errno);
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
    auto put32 = [&header](std::size_t at, std::uint32_t v) { endian::StoreLe32(header + at, v); };
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
