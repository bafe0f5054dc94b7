// Pieces shared by source inspection and conversion, and the sizing rules the
// tests check on their own.
#pragma once

#include "core/reporter.h"
#include "platform/acm/acm.h"
#include "platform/mmio/mmio.h"
#include "platform/wintypes.h"

#include <cstdint>
#include <memory>
#include <vector>

// Closes a file handle on scope exit. The success path closes by hand with
// mmioClose(h.release(), 0) so that it can look at the result.
struct MmioCloser {
    void operator()(HMMIO hmmio) const { mmioClose(hmmio, 0); }
};
using MmioFile = std::unique_ptr<MMIO, MmioCloser>;

// A format block read from a file: at least 18 bytes, zero-filled beyond what
// the chunk held, its cbSize cut to the bytes the block really has.
struct FormatBlock {
    std::vector<BYTE> bytes;
    WAVEFORMATEX* get() { return reinterpret_cast<WAVEFORMATEX*>(bytes.data()); }
    DWORD size() const { return static_cast<DWORD>(bytes.size()); }
};

// Enters the RIFF form and the format chunk of an open source file, checks
// both, reads the format block into pwfxSrc and leaves the format chunk.
// A failed check has been reported when it returns false.
//   [in]  reporter      hears of a failed check
//   [in]  hSrcWaveFile  source opened for reading, positioned at its start
//   [out] SrcWaveFile   the RIFF form's record
//   [out] SrcWaveFmt    the format chunk's record
//   [out] pwfxSrc       the format block
bool ReadSourceFormat(HMMIO hSrcWaveFile, MMCKINFO& SrcWaveFile, MMCKINFO& SrcWaveFmt, FormatBlock& pwfxSrc,
                      Reporter& reporter);

// Reads the format block of the WAVE file at path, telling no one of a
// failure: for a caller that only wants to know the format, when there is one.
//   [in]  path     the source file
//   [out] pwfxSrc  the format block, when it returns true
bool ReadSourceFormatOf(const char* path, FormatBlock& pwfxSrc);

// Destination buffer size D for a destination block alignment: 4096 blocks
// when a block is at most 4 bytes long; otherwise at least 32 blocks and at
// least 8 KiB, so that 6- and 8-byte frames (24- and 32-bit PCM, float) do
// not move a few hundred bytes per pass. Whole blocks either way.
constexpr DWORD DestinationBufferSize(WORD nBlockAlign) {
    if (nBlockAlign <= 4) return static_cast<DWORD>(nBlockAlign) * 4096u;
    const DWORD blocksFor8KiB = (8192u + nBlockAlign - 1) / nBlockAlign;
    return static_cast<DWORD>(nBlockAlign) * (blocksFor8KiB > 32u ? blocksFor8KiB : 32u);
}

// Whether converting cbSrcData bytes of source data, followed by cbAfterData
// bytes of further chunks, may give more output than a RIFF form holds
// (4 GiB): the data's length is estimated from the two formats' byte rates,
// with a margin, so that only outputs near or past the limit are written as RF64.
bool OutputMayPassRiffLimit(const WAVEFORMATEX& wfxSrc, const WAVEFORMATEX& wfxDst, std::uint64_t cbSrcData,
                            std::uint64_t cbAfterData = 0);

// The sub-format of an extensible block (its first two GUID bytes), or the tag.
WORD CodingTag(const WAVEFORMATEX& wfx);

// True when a data chunk of cbData bytes whose data starts at dwDataOffset
// still leaves the RIFF form's size (file length less 8, pad byte included)
// within 32 bits.
constexpr bool DataFitsRiffForm(std::uint64_t dwDataOffset, std::uint64_t cbData) {
    return dwDataOffset + cbData + (cbData & 1) - 8 <= 0xFFFFFFFFull;
}
