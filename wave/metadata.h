// What a source carries besides its audio: every chunk of the WAVE form that
// does not describe the audio encoding (LIST/INFO, bext, iXML, cue, LIST/adtl,
// smpl, id3, unknown chunks), read with its bytes, made to fit the destination
// (sample positions at the destination's rate, a line in bext's coding history)
// and written after the destination's "data" and "fact" chunks.
#pragma once

#include "core/reporter.h"
#include "platform/acm/acm.h"
#include "platform/mmio/mmio.h"
#include "platform/wintypes.h"

#include <cstdint>
#include <string>
#include <vector>

// One chunk of the source outside the audio-describing set.
struct MetadataChunk {
    FOURCC ckid = 0;
    FOURCC fccType = 0;           // a LIST chunk's list type ("INFO", "adtl"); 0 for other chunks
    std::uint64_t cbSource = 0;   // its data size in the source
    bool fCarried = false;        // false when it is left out (too large); its bytes were not read
    std::vector<BYTE> bytes;      // its data as it is written (a LIST's type included), no pad byte
};

// The metadata chunks of a source, in its order, and what could not be carried.
struct SourceMetadata {
    std::vector<MetadataChunk> chunks;
    std::uint64_t cbCarried = 0;         // bytes the carried chunks take, headers and pad bytes included
    std::uint64_t cSkippedForTotal = 0;  // chunks left out because the total would pass its limit
    std::uint64_t cbUnread = 0;          // bytes at the end of the form that are no whole chunk
    bool fTooMany = false;               // the walk stopped at the limit on the count of chunks
    bool fBigEndian = false;             // a RIFX source: its chunks' fields are big-endian, none is carried
};

// The most a single chunk, and all chunks together, may hold to be carried.
constexpr std::uint64_t kMaxMetadataChunkBytes = 64ull << 20;
constexpr std::uint64_t kMaxMetadataBytes = 64ull << 20;
// The most chunks the reader lists; real files hold a handful.
constexpr std::size_t kMaxMetadataChunks = 1u << 17;

// Reads every chunk of the form except "fmt ", "data", "fact", "ds64", "PEAK",
// "JUNK", "PAD " and "FLLR", before and after "data", in the form's order.
// Never reads past the form or the file; a chunk larger than its limit is
// listed but not read. Returns false when the file cannot be read (the last
// error says why). Leaves the file position anywhere.
//   [in]  hSrcWaveFile  the source, its form entered
//   [in]  SrcWaveFile   the form's record
//   [out] metadata      the chunks
bool ReadSourceMetadata(HMMIO hSrcWaveFile, const MMCKINFO& SrcWaveFile, SourceMetadata& metadata);

// The same for a file by its path, for a listing; false when the file cannot
// be opened or read, or is no RIFF WAVE file.
bool ReadMetadataOf(const char* path, SourceMetadata& metadata);

// Tells the reporter, as warnings, what ReadSourceMetadata left out.
void ReportLeftOutMetadata(const SourceMetadata& metadata, Reporter& reporter);

// Makes the carried chunks fit a destination in another format: positions
// counted in samples (cue points, smpl loops and sample period, bext's time
// reference, LIST/adtl lengths, iXML's timestamp) go from nSrcRate to the
// destination's rate, to the nearest frame, and bext's coding history gets a
// line for this conversion. A chunk whose layout is broken stays as it was,
// and the reporter hears of it as a note.
void AdaptMetadata(SourceMetadata& metadata, DWORD nSrcRate, const WAVEFORMATEX& wfxDst, Reporter& reporter);

// Writes the carried chunks at the destination's current position, each
// padded to even length. False when a write failed (last error set).
bool WriteMetadata(HMMIO hDstWaveFile, const SourceMetadata& metadata);

// n samples at nFrom per second counted at nTo per second, to the nearest.
std::uint64_t RescaleSamples(std::uint64_t n, DWORD nFrom, DWORD nTo);

// A chunk identifier as its four characters, '?' for a byte that is not printable ASCII.
std::string FourccText(FOURCC fcc);

// A field of a LIST/INFO or bext chunk, for a listing.
struct MetadataField {
    Text word;          // the field's name in words; Text::Count for an INFO field with none
    FOURCC ckid = 0;    // the INFO field's identifier; 0 for bext's fields
    std::string value;  // its text, trailing NUL bytes removed
};

// The fields of a LIST/INFO or a bext chunk in the chunk's order; none for
// other chunks. An INFO list whose sub-chunks run past it gives the fields
// before that point.
std::vector<MetadataField> MetadataFields(const MetadataChunk& chunk);
