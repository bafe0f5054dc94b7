// Chunk headers in the three layouts the reader knows: RIFF and RIFX (four
// characters and a 32-bit size, little- or big-endian) and Wave64 (a 16-byte
// GUID and a 64-bit size that counts the header, chunks on 8-byte bounds).
#pragma once

#include "platform/mmio/mmio_file.h"

#include <cstdint>
#include <optional>

namespace mmio_layout {

// The codes the reader looks for.
constexpr FOURCC kRiff = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC kRifx = mmioFOURCC('R', 'I', 'F', 'X');
constexpr FOURCC kList = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC kRf64 = mmioFOURCC('R', 'F', '6', '4');
constexpr FOURCC kBw64 = mmioFOURCC('B', 'W', '6', '4');
constexpr FOURCC kDs64 = mmioFOURCC('d', 's', '6', '4');
constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');

// A chunk header read at a file offset.
struct ChunkHeader {
    FOURCC ckid = 0;
    FOURCC fccType = 0;
    DWORD cksize = 0;         // the 32-bit size as the file holds it (Wave64: the data size, at most 0xFFFFFFFF)
    std::uint64_t size = 0;   // the data size (a 64-bit form's real size is looked up later)
    bool sizeUnusable = false;  // Wave64: a size smaller than the header it counts
    std::uint32_t headerLength = 0;  // bytes before the data: 8, or 24 in Wave64
    std::uint32_t length = 0;        // bytes read: the header, and a form's type
};

// The layout of a file whose first form starts at offset: "RIFX" is RIFX, the
// Wave64 "riff" GUID is Wave64, anything else is read as RIFF.
Layout LayoutAt(int fd, std::uint64_t offset);

// Reads the header at offset in the handle's layout; false when the file
// holds less than a whole header (and form type).
bool ReadHeader(const MMIO& file, std::uint64_t offset, ChunkHeader& header);

// True when the bytes at offset look like a chunk header whose data the file
// holds: an identifier of printable characters and a size that fits.
bool ChunkHeaderAt(const MMIO& file, std::uint64_t offset, std::uint64_t fileEnd);

// Where the chunk after one of dataSize bytes, whose data begins at
// dataOffset, begins: after the pad byte (RIFF, RIFX) or on the next 8-byte
// bound (Wave64). Nothing when that would pass limit.
std::optional<std::uint64_t> NextChunk(Layout layout, std::uint64_t dataOffset, std::uint64_t dataSize,
                                       std::uint64_t limit);

// The smallest WAVE form that holds its form type, a format chunk and the
// header of a data chunk, counted as the layout counts a form's size.
std::uint64_t SmallestWaveForm(Layout layout);

}  // namespace mmio_layout
