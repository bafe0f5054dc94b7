// RIFF chunk file I/O with no buffer between the program and the file: every
// read and write goes straight to the file.
//
// 64-bit forms (EBU Tech 3306): a form "RF64" or "BW64" whose first chunk is
// "ds64" is read like a "RIFF" form, with the 64-bit sizes the "ds64" chunk
// holds; an output that may pass 4 GiB is created as "RF64" from the start.
// RIFX (big-endian RIFF) and Wave64 (GUID identifiers, 64-bit sizes) files
// are read like RIFF files too: the records and the bytes read are those a
// RIFF file with the same contents would give.
#pragma once

#include "platform/kernel/unique_fd.h"
#include "platform/wintypes.h"

#include <cstdint>

struct MMIO;
using HMMIO = MMIO*;

constexpr DWORD MMIO_READ = 0x0000;
constexpr DWORD MMIO_WRITE = 0x0001;
constexpr DWORD MMIO_CREATE = 0x1000;
constexpr UINT MMIO_TOUPPER = 0x0010;
constexpr UINT MMIO_CREATERIFF = 0x0020;
// Creates an "RF64" form with a "ds64" chunk first: the form's and the "data"
// chunk's sizes go into "ds64" when they are left, so both may pass 4 GiB.
constexpr UINT MMIO_CREATERF64 = 0x0080;
constexpr UINT MMIO_FINDCHUNK = 0x0010;
constexpr DWORD MMIO_DIRTY = 0x10000000;
// Set by mmioDescend on a form read from a 64-bit file ("RF64"/"BW64", Wave64).
constexpr DWORD MMIO_WIDEFORM = 0x20000000;

constexpr MMRESULT MMIOERR_CANNOTWRITE = 262;
constexpr MMRESULT MMIOERR_CANNOTSEEK = 263;
constexpr MMRESULT MMIOERR_CANNOTEXPAND = 264;
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = 265;

struct MMIOINFO;

// One RIFF chunk: identifier, data size, form type (RIFF and LIST chunks) and
// the file offset of its data. Sizes are unsigned.
struct MMCKINFO {
    FOURCC ckid;
    DWORD cksize;  // the 32-bit size as the file holds it (Wave64: the data size, at most 0xFFFFFFFF)
    FOURCC fccType;
    DWORD dwDataOffset;
    DWORD dwFlags;
    // The data size: cksize, or in a 64-bit form the size "ds64" gives for a
    // chunk whose 32-bit size is 0xFFFFFFFF, or Wave64's 64-bit size; for a
    // "data" chunk whose size was never filled in, the bytes to the file's end.
    std::uint64_t cksize64;
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
// Opens the RIFF file I/O for writing (MMIO_WRITE) on a descriptor open for
// writing, which the handle owns from then on (the descriptor is closed when
// the open fails). Writing starts at the descriptor's position. An output with no
// position to go back to (a pipe, a socket, a character device, a file opened
// for appending) is written as a stream: a form and its "data" chunk go out
// at once with the streaming placeholder size 0xFFFFFFFF (a "RIFF" form even
// when an "RF64" one is asked for), any other chunk once it is left, with its
// size. Null on failure, with the last error set; for an empty fd, as the
// call that gave it left it.
HMMIO mmioOpenFd(UniqueFd fd, DWORD dwOpenFlags);
MMRESULT mmioClose(HMMIO hmmio, UINT uFlags);

// Bytes read or written, or -1 on an error (last error set). In a RIFX file
// the format and "fact" chunks' numbers and the PCM and float samples of the
// "data" chunk entered last are read little-endian.
LONG mmioRead(HMMIO hmmio, char* pch, LONG cch);
LONG mmioWrite(HMMIO hmmio, const char* pch, LONG cch);
// Moves the file position (SEEK_SET, SEEK_CUR, SEEK_END); returns the new
// position, or -1 with the last error set.
std::int64_t mmioSeek(HMMIO hmmio, std::int64_t lOffset, int iOrigin);

// With flags 0, enters the chunk whose header stands at the current position.
// For "RIFF" and "LIST" it also reads the form type; a "RF64" or "BW64" form
// whose first chunk is "ds64" is entered as a "RIFF" form (MMIO_WIDEFORM set)
// whose sizes come from "ds64". Entering a form with no parent decides how
// the file is read: a "RIFX" form and a Wave64 "riff" GUID (MMIO_WIDEFORM
// set) are entered as "RIFF" forms, and their chunks after them as RIFF
// chunks (Wave64: a GUID of the form xxxxxxxx-ACF3-11D3-8CD1-00C04F8EDB8A
// gives the code of its first four bytes, "wave" "WAVE"; other GUIDs "????").
// A "data" chunk in a "WAVE" form whose size was never filled in (0 or
// 0xFFFFFFFF when the form's size is a placeholder, too small or ends before
// the file; in Wave64 a size below its header) runs to the end of the file;
// a size of 0 followed at once by a chunk header is kept. A header that
// cannot be read in full leaves ckid 0 and returns MMIOERR_CHUNKNOTFOUND.
//
// With MMIO_FINDCHUNK, searches from the current position for the first chunk
// whose identifier is pmmcki->ckid, skipping every other chunk by its size and
// pad byte (Wave64: to the next 8-byte bound), and enters it. The search stays
// inside the parent form and the file: a size that runs past either, or a very
// long run of chunks, ends it with ckid 0 and MMIOERR_CHUNKNOTFOUND. A "WAVE"
// form whose size was never filled in bounds nothing but the file.
MMRESULT mmioDescend(HMMIO hmmio, MMCKINFO* pmmcki, const MMCKINFO* pmmckiParent, UINT fuDescend);
// Leaves a chunk: for a chunk being written, writes its real size and the pad
// byte when the size is odd; then moves to the end of the chunk (after the pad
// byte, or to the next 8-byte bound in Wave64). A chunk written to a character
// device is left as it was sent; a size no file can hold is MMIOERR_CANNOTSEEK.
MMRESULT mmioAscend(HMMIO hmmio, MMCKINFO* pmmcki, UINT fuAscend);
// Writes a chunk header at the current position with size 0 (and the form type
// for MMIO_CREATERIFF and MMIO_CREATERF64) and remembers where its data begins.
MMRESULT mmioCreateChunk(HMMIO hmmio, MMCKINFO* pmmcki, UINT fuCreate);
