// Reading the metadata chunks of a source and writing them into the destination.
#include "wave/metadata.h"

#include "wave/waveio.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');

// The chunks that describe the audio encoding, which the conversion writes
// anew or leaves out; every other chunk is metadata.
bool DescribesAudio(FOURCC ckid) {
    static constexpr FOURCC kAudio[] = {
        mmioFOURCC('f', 'm', 't', ' '), kData, mmioFOURCC('f', 'a', 'c', 't'), mmioFOURCC('d', 's', '6', '4'),
        mmioFOURCC('P', 'E', 'A', 'K'), mmioFOURCC('J', 'U', 'N', 'K'), mmioFOURCC('P', 'A', 'D', ' '),
        mmioFOURCC('F', 'L', 'L', 'R'),
    };
    return std::find(std::begin(kAudio), std::end(kAudio), ckid) != std::end(kAudio);
}

// A chunk identifier is four printable ASCII characters; anything else is not
// the start of a chunk (audio after a data chunk whose size is too small,
// zeros a writer left at the end).
bool IsChunkId(FOURCC ckid) {
    for (int i = 0; i < 4; ++i) {
        const unsigned c = (ckid >> (8 * i)) & 0xFFu;
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

std::uint64_t PaddedChunkBytes(std::uint64_t cb) { return 8 + cb + (cb & 1); }

// The file's length, or 0 when it cannot be had.
std::uint64_t FileEnd(HMMIO h) {
    const std::int64_t cb = mmioSeek(h, 0, SEEK_END);
    return cb < 0 ? 0 : static_cast<std::uint64_t>(cb);
}

// A form size a writer left as a placeholder: 0, 0xFFFFFFFF, less than its type.
bool IsPlaceholder(const MMCKINFO& form) {
    return form.cksize64 < 4 || (form.cksize == 0xFFFFFFFFu && (form.dwFlags & MMIO_WIDEFORM) == 0);
}

// Where the form's chunks end: the form's end within the file, or the file's
// end when the form's size is a placeholder.
std::uint64_t FormEnd(const MMCKINFO& form, std::uint64_t cbFile) {
    if (IsPlaceholder(form)) return cbFile;
    return std::min(cbFile, static_cast<std::uint64_t>(form.dwDataOffset) + form.cksize64);
}

// Whether a RIFX (big-endian) form is what the file holds; false when the
// file cannot be read.
bool ReadFormByteOrder(HMMIO h, bool& fBigEndian) {
    char id[4] = {};
    if (mmioSeek(h, 0, SEEK_SET) != 0 || mmioRead(h, id, 4) != 4) return false;
    fBigEndian = std::memcmp(id, "RIFX", 4) == 0;
    return true;
}

// Lists the chunk entered as ck and reads its data when it may be carried;
// false when its data, which the file holds, cannot be read. The position is
// then anywhere in it.
bool TakeChunk(HMMIO h, const MMCKINFO& ck, SourceMetadata& metadata) {
    MetadataChunk chunk;
    chunk.ckid = ck.ckid;
    // A list type is only what a LIST chunk holds; the reader takes four bytes past a shorter one.
    chunk.fccType = ck.ckid == mmioFOURCC('L', 'I', 'S', 'T') && ck.cksize64 >= 4 ? ck.fccType : 0;
    chunk.cbSource = ck.cksize64;
    const std::uint64_t cbWritten = PaddedChunkBytes(ck.cksize64);
    if (ck.cksize64 > kMaxMetadataChunkBytes) {
        metadata.chunks.push_back(std::move(chunk));
        return true;
    }
    if (metadata.cbCarried + cbWritten > kMaxMetadataBytes) {
        ++metadata.cSkippedForTotal;
        metadata.chunks.push_back(std::move(chunk));
        return true;
    }
    chunk.bytes.resize(static_cast<std::size_t>(ck.cksize64));
    const LONG cb = static_cast<LONG>(ck.cksize64);
    if (mmioSeek(h, ck.dwDataOffset, SEEK_SET) < 0 ||
        mmioRead(h, reinterpret_cast<char*>(chunk.bytes.data()), cb) != cb) {
        return false;
    }
    chunk.fCarried = true;
    metadata.cbCarried += cbWritten;
    metadata.chunks.push_back(std::move(chunk));
    return true;
}

}  // namespace

bool ReadSourceMetadata(HMMIO hSrcWaveFile, const MMCKINFO& SrcWaveFile, SourceMetadata& metadata) {
    metadata = SourceMetadata{};
    if (!ReadFormByteOrder(hSrcWaveFile, metadata.fBigEndian)) return false;
    if (metadata.fBigEndian) return true;
    const std::uint64_t cbFile = FileEnd(hSrcWaveFile);
    std::uint64_t limit = FormEnd(SrcWaveFile, cbFile);
    // The form entered again from the file's start leaves the position at its
    // first chunk, whatever the layout (a Wave64 form type is a 16-byte GUID).
    MMCKINFO form{};
    std::int64_t at = -1;
    if (mmioSeek(hSrcWaveFile, 0, SEEK_SET) == 0 && mmioDescend(hSrcWaveFile, &form, nullptr, 0) == 0)
        at = mmioSeek(hSrcWaveFile, 0, SEEK_CUR);
    while (at >= 0 && static_cast<std::uint64_t>(at) + 8 <= limit) {
        MMCKINFO ck{};
        if (mmioDescend(hSrcWaveFile, &ck, &SrcWaveFile, 0) != 0 || !IsChunkId(ck.ckid)) break;
        const std::uint64_t end = static_cast<std::uint64_t>(ck.dwDataOffset) + ck.cksize64;
        // A form too small for its own data chunk is read to the end of the file.
        if (ck.ckid == kData && end > limit && end <= cbFile) limit = cbFile;
        // Audio that runs to the end (the reader takes a data size never filled
        // in as that) leaves no chunk after it, and nothing unread.
        const bool toTheEnd = ck.ckid == kData && end >= cbFile;
        if (end > limit || toTheEnd) {
            if (DescribesAudio(ck.ckid)) at = static_cast<std::int64_t>(limit);
            break;
        }
        // A Wave64 chunk whose GUID names no code has no RIFF identifier to be written under.
        if (!DescribesAudio(ck.ckid) && ck.ckid != mmioFOURCC('?', '?', '?', '?')) {
            if (metadata.chunks.size() >= kMaxMetadataChunks) {
                metadata.fTooMany = true;
                return true;
            }
            if (!TakeChunk(hSrcWaveFile, ck, metadata)) return false;
        }
        if (mmioAscend(hSrcWaveFile, &ck, 0) != 0) break;
        at = mmioSeek(hSrcWaveFile, 0, SEEK_CUR);
    }
    // A pad byte or a few stray bytes at the end are no chunk anyone could lose.
    if (at >= 0 && static_cast<std::uint64_t>(at) + 8 <= limit) {
        metadata.cbUnread = limit - static_cast<std::uint64_t>(at);
    }
    return true;
}

bool ReadMetadataOf(const char* path, SourceMetadata& metadata) {
    MmioFile hSrcWaveFile(mmioOpenA(path, nullptr, MMIO_READ));
    if (!hSrcWaveFile) return false;
    MMCKINFO SrcWaveFile{};
    if (mmioDescend(hSrcWaveFile.get(), &SrcWaveFile, nullptr, 0) != 0 ||
        SrcWaveFile.ckid != mmioFOURCC('R', 'I', 'F', 'F') || SrcWaveFile.fccType != mmioFOURCC('W', 'A', 'V', 'E')) {
        return false;
    }
    return ReadSourceMetadata(hSrcWaveFile.get(), SrcWaveFile, metadata);
}

void ReportLeftOutMetadata(const SourceMetadata& metadata, Reporter& reporter) {
    if (metadata.fBigEndian) reporter.Warning(Text::MetadataBigEndian, 0);
    for (const MetadataChunk& chunk : metadata.chunks) {
        if (chunk.cbSource > kMaxMetadataChunkBytes) reporter.Warning(Text::MetadataChunkTooLarge, chunk.cbSource);
    }
    if (metadata.cSkippedForTotal > 0) reporter.Warning(Text::MetadataTooMuch, metadata.cSkippedForTotal);
    if (metadata.fTooMany) reporter.Warning(Text::MetadataTooMany, kMaxMetadataChunks);
    if (metadata.cbUnread > 0) reporter.Warning(Text::MetadataUnread, metadata.cbUnread);
}

bool WriteMetadata(HMMIO hDstWaveFile, const SourceMetadata& metadata) {
    // The chunks are laid out here, header, data and pad byte, and written a
    // batch at a time: a file may hold tens of thousands of small ones; a large
    // one's data goes out as it is. They may start past 4 GiB in an RF64 form,
    // which chunk records cannot address.
    constexpr std::size_t kBatch = 1 << 20;
    std::vector<BYTE> batch;
    auto write = [hDstWaveFile](const BYTE* pb, std::size_t cb) {
        const auto cch = static_cast<LONG>(cb);
        return cch == 0 || mmioWrite(hDstWaveFile, reinterpret_cast<const char*>(pb), cch) == cch;
    };
    for (const MetadataChunk& chunk : metadata.chunks) {
        if (!chunk.fCarried) continue;
        const DWORD header[2] = {chunk.ckid, static_cast<DWORD>(chunk.bytes.size())};
        const auto* pbHeader = reinterpret_cast<const BYTE*>(header);
        batch.insert(batch.end(), pbHeader, pbHeader + sizeof header);
        if (chunk.bytes.size() >= kBatch) {
            if (!write(batch.data(), batch.size()) || !write(chunk.bytes.data(), chunk.bytes.size())) return false;
            batch.clear();
        } else {
            batch.insert(batch.end(), chunk.bytes.begin(), chunk.bytes.end());
        }
        if ((chunk.bytes.size() & 1) != 0) batch.push_back(0);
        if (batch.size() >= kBatch) {
            if (!write(batch.data(), batch.size())) return false;
            batch.clear();
        }
    }
    return write(batch.data(), batch.size());
}

std::uint64_t RescaleSamples(std::uint64_t n, DWORD nFrom, DWORD nTo) {
    if (nFrom == 0 || nFrom == nTo) return n;
    // 64 bits times 32 bits does not fit 64 bits: the product is split at the rate.
    const std::uint64_t whole = n / nFrom, part = n % nFrom;
    const std::uint64_t rest = (part * nTo + nFrom / 2) / nFrom;
    if (whole > (UINT64_MAX - rest) / nTo) return UINT64_MAX;
    return whole * nTo + rest;
}

std::string FourccText(FOURCC fcc) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((fcc >> (8 * i)) & 0xFFu);
        text[i] = c >= 0x20 && c <= 0x7E ? c : '?';
    }
    return text;
}
