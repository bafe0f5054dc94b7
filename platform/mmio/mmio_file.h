// The RIFF file I/O's handle and the read and write loops both of its files
// use (for the RIFF I/O's own files only).
#pragma once

#include "platform/mmio/mmio.h"

#include "platform/kernel/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <sys/types.h>
#include <unistd.h>
#include <utility>
#include <vector>

// How the chunks of the file being read are laid out: RIFF (little-endian
// sizes, also RF64 and BW64), RIFX (the same with big-endian sizes and
// samples) or Wave64 (GUID identifiers, 64-bit sizes, chunks on 8-byte bounds).
enum class Layout { Riff, Rifx, Wave64 };

// Bytes of a RIFX file that mmioRead hands out turned little-endian: a format
// or "fact" chunk read whole when it is entered.
struct LittleEndianCopy {
    std::uint64_t offset = 0;
    std::vector<BYTE> bytes;
};

// The samples of a RIFX "data" chunk: mmioRead reverses the bytes of each
// sample of width bytes (0 or 1: they stay as they are).
struct SwappedSamples {
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    unsigned width = 0;
};

struct MMIO {
    // Closed by mmioClose, which reports the result; the owner closes what a
    // failed open or a handle never closed leaves.
    UniqueFd fd;
    // The layout of the form last entered at the top level, and for RIFX what
    // mmioRead turns little-endian: the chunks copied and the data chunk's
    // samples, whose width the last format chunk entered gives.
    Layout layout = Layout::Riff;
    std::vector<LittleEndianCopy> copies;
    unsigned sampleWidth = 0;
    SwappedSamples samples;
    // The 64-bit sizes of a form read from an "RF64" or "BW64" file: the
    // "ds64" chunk's form and data sizes and its table of other chunks.
    bool wideRead = false;
    std::uint64_t riffSize64 = 0;
    std::uint64_t dataSize64 = 0;
    std::vector<std::pair<FOURCC, std::uint64_t>> sizeTable;
    // Where the "ds64" chunk's data begins in a form being written as "RF64"; 0 when none.
    std::uint64_t ds64Offset = 0;
    // An output with no position to go back to (a character device such as
    // /dev/null or a terminal, a pipe, a socket, a file opened for appending):
    // the sizes of the chunks written to it are never patched, and its
    // position is the count of bytes written to it.
    bool stream = false;
    std::uint64_t streamPosition = 0;
    // A stream's chunk whose size is not known yet (any but the form and
    // "data") is held here from its header on, and sent once it is left.
    std::vector<BYTE> held;
    std::uint64_t heldFrom = 0;  // the stream position of held's first byte
    // A regular file being written: its pages are handed to the disk every
    // few megabytes (see mmioWrite), counted here since the last hand-over.
    bool regularWrite = false;
    std::uint64_t unstarted = 0;
};

namespace mmio_io {

constexpr MMRESULT kOk = 0;

bool Valid(HMMIO hmmio);
// Reads until count bytes are in or the file ends. Returns the count read, or
// -1 on an error (last error set).
long long ReadFully(int fd, void* buffer, std::size_t count);
// Writes all count bytes unless the file refuses. Returns the count written;
// when it is short the last error says why.
std::size_t WriteFully(int fd, const void* buffer, std::size_t count, bool* failed);
// The same for a file being written: a stream holding a chunk keeps the
// bytes in memory instead.
std::size_t Put(MMIO& file, const void* buffer, std::size_t count, bool* failed);
bool WriteAllAt(int fd, const void* buffer, std::size_t count, off_t offset);
// Reads up to count bytes at offset; returns the count read, short at the
// file's end or on an error.
std::size_t ReadAt(int fd, void* buffer, std::size_t count, std::uint64_t offset);
// Reads count bytes at offset; false when the file holds fewer.
bool ReadAllAt(int fd, void* buffer, std::size_t count, std::uint64_t offset);
// The size of the file behind fd, or UINT64_MAX when it is no regular file.
std::uint64_t FileEnd(int fd);
// The file position, or -1 with the last error set.
off_t CurrentPosition(int fd);
// Where the next byte written goes: the file position, or a stream's count.
off_t WritePosition(const MMIO& file);

// RIFX: turns the bytes just read at offset into what a RIFF file would hold
// there (format and "fact" fields, samples little-endian).
void ToLittleEndian(const MMIO& file, std::uint64_t offset, std::span<BYTE> bytes);
// RIFX: called for every chunk entered, to copy a format or "fact" chunk
// turned little-endian, or to note where a data chunk's samples lie.
void NoteEnteredChunk(MMIO& file, const MMCKINFO& chunk);

}  // namespace mmio_io
