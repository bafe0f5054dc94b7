// RIFF chunk file I/O with no buffer between the program and the file: every
// read and write goes straight to the file.
#pragma once

#include "platform/wintypes.h"

struct MMIO;
using HMMIO = MMIO*;

constexpr DWORD MMIO_READ = 0x0000;
constexpr DWORD MMIO_WRITE = 0x0001;
constexpr DWORD MMIO_READWRITE = 0x0002;
constexpr DWORD MMIO_CREATE = 0x1000;
constexpr UINT MMIO_TOUPPER = 0x0010;
constexpr UINT MMIO_CREATERIFF = 0x0020;
constexpr UINT MMIO_CREATELIST = 0x0040;
constexpr UINT MMIO_FINDCHUNK = 0x0010;
constexpr UINT MMIO_FINDRIFF = 0x0020;
constexpr UINT MMIO_FINDLIST = 0x0040;
constexpr DWORD MMIO_DIRTY = 0x10000000;

constexpr MMRESULT MMIOERR_CANNOTOPEN = 259;
constexpr MMRESULT MMIOERR_CANNOTREAD = 261;
constexpr MMRESULT MMIOERR_CANNOTWRITE = 262;
constexpr MMRESULT MMIOERR_CANNOTSEEK = 263;
constexpr MMRESULT MMIOERR_CANNOTEXPAND = 264;
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = 265;

struct MMIOINFO;

// One RIFF chunk: identifier, data size, form type (RIFF and LIST chunks) and
// the file offset of its data. Sizes are unsigned 32-bit.
struct MMCKINFO {
    FOURCC ckid;
    DWORD cksize;
    FOURCC fccType;
    DWORD dwDataOffset;
    DWORD dwFlags;
};

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return static_cast<FOURCC>(static_cast<BYTE>(a)) | (static_cast<FOURCC>(static_cast<BYTE>(b)) << 8) |
           (static_cast<FOURCC>(static_cast<BYTE>(c)) << 16) | (static_cast<FOURCC>(static_cast<BYTE>(d)) << 24);
}

// The code of up to four characters, padded with blanks; MMIO_TOUPPER upper-cases them.
FOURCC mmioStringToFOURCC(const char* sz, UINT uFlags);

// Opens path for reading (MMIO_READ), or creates or empties it for writing
// (MMIO_CREATE | MMIO_WRITE). info must be null. Null on failure, with the
// thread's last error set.
HMMIO mmioOpenA(const char* path, MMIOINFO* info, DWORD dwOpenFlags);
MMRESULT mmioClose(HMMIO hmmio, UINT uFlags);

// Bytes read or written, or -1 on an error (last error set).
LONG mmioRead(HMMIO hmmio, char* pch, LONG cch);
LONG mmioWrite(HMMIO hmmio, const char* pch, LONG cch);

// Enters the chunk whose header stands at the current position (no search with
// flags 0). For "RIFF" and "LIST" also reads the form type. A header that cannot
// be read in full leaves ckid 0 and returns MMIOERR_CHUNKNOTFOUND.
MMRESULT mmioDescend(HMMIO hmmio, MMCKINFO* pmmcki, const MMCKINFO* pmmckiParent, UINT fuDescend);
// Leaves a chunk: for a chunk being written, writes its real size and the pad byte
// when the size is odd; then moves to the end of the chunk (after the pad byte).
MMRESULT mmioAscend(HMMIO hmmio, MMCKINFO* pmmcki, UINT fuAscend);
// Writes a chunk header at the current position with size 0 (and the form type for
// MMIO_CREATERIFF / MMIO_CREATELIST) and remembers where its data begins.
MMRESULT mmioCreateChunk(HMMIO hmmio, MMCKINFO* pmmcki, UINT fuCreate);
