// What the codec service knows about each format tag, kept in one table: its
// name, the FFmpeg codecs that read and write it, how its data is framed, the
// rule that counts the samples in its blocks, and the short name the command
// line gives it. The catalogue, the format reader, the stream stages and the
// command line all read this table.
#pragma once

#include "platform/acm/acm.h"

#include <span>

namespace acm {

// How many samples a number of data bytes holds.
enum class BlockFamily {
    Other,     // counted from the stated byte rate
    Linear,    // PCM and float: whole sample frames of nBlockAlign bytes
    G711,      // one byte per sample and channel
    ImaAdpcm,  // a 4-byte header per channel, then 8 samples per 4 bytes per channel
    MsAdpcm,   // a 7-byte header per channel, then 2 samples per byte per channel
    Gsm,       // 320 samples in every block
    Mpeg,      // self-framing MPEG audio, counted at its version's lowest bit rate
};

struct TagFacts {
    WORD tag;
    const char* name;        // at most 47 characters
    int decoder;             // the FFmpeg codec (AVCodecID) that reads it; for PCM and float it only marks them readable
    const char* encoder;     // the FFmpeg encoder that writes it, null when the service offers none
    bool needsBlockAlign;    // the data cannot be read without nBlockAlign
    bool parsed;             // a self-framing stream, cut into packets by FFmpeg's parser
    BlockFamily family;
    const char* key;         // the command line's name for it, null where it names the tag by number
    DWORD cbFormatSize;      // the block size files carry where the chooser offers none

    bool IsLinear() const { return family == BlockFamily::Linear; }
};

// Every known tag, in the chooser's order first, then the tags that are only read.
std::span<const TagFacts> AllTags();
// The facts of a tag, or null for a tag the service does not know.
const TagFacts* FindTagFacts(WORD tag);

// Whether the FFmpeg at hand reads or writes the tag.
bool CanDecode(const TagFacts& facts);
bool CanEncode(const TagFacts& facts);

// The bytes of the per-channel headers that open every block of the family (0
// where blocks have none): a block shorter than its headers holds no sample.
unsigned BlockHeaderBytes(BlockFamily family, unsigned channels);

// How many blocks the family's data is written in whole groups of: GSM 6.10's
// 65-byte blocks in pairs (readers that take two at a time misread an odd
// count), 1 for the others.
unsigned BlocksPerGroup(BlockFamily family);

}  // namespace acm
