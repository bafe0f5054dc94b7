// What the codec service knows about each format tag, kept in one table: its
// name, the FFmpeg codecs that read and write it, how its data is framed, the
// rule that counts the samples in its blocks, and the short name the command
// line gives it. The catalogue, the format reader, the stream stages and the
// command line all read this table.
#pragma once

#include "platform/acm/acm.h"
#include "platform/acm/format.h"
#include "platform/acm/offers.h"

#include <cstdint>
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
    Codes,       // fixed-size codes packed with no block headers (G.726, G.722)
    CodeBlocks,  // 4-bit codes with no headers in blocks of the encoder's size (Yamaha ADPCM)
};

struct TagFacts;

// What a family's blocks are made of, one record per family: how the chooser's
// blocks are built, which blocks the encoder writes as described, the options
// the encoder is given, and how samples and bytes are counted.
struct FamilyRules {
    // The block offered for one choice of rate, bits (depth or bits per code),
    // channels and bit rate in kbit/s; empty where the family has no such block.
    Block (*make)(const TagFacts& facts, DWORD rate, unsigned bits, unsigned channels, unsigned kbps);
    // Whether the encoder writes blocks exactly as the destination block describes them.
    bool (*writes)(const FormatInfo& d);
    // The sample frames every whole block decodes to, 0 where there is no such rule.
    unsigned (*framesPerBlock)(const FormatInfo& f);
    // How many sample frames a number of data bytes holds, at most.
    double (*framesFor)(const FormatInfo& f, std::uint64_t bytes);
    bool blockSizeOption;  // the encoder is given nBlockAlign as its block size
    bool bitRateOption;    // the encoder is given nAvgBytesPerSec as its bit rate
    bool bytesByRate;      // encoded bytes follow the data rate, not whole blocks per frame
    unsigned headerBytesPerChannel;  // the header each block opens with, per channel
    unsigned blocksPerGroup;         // blocks are written in whole groups of this many
};

const FamilyRules& RulesOf(BlockFamily family);

// What the chooser offers of a tag: every combination of these that its family
// builds a block for. An empty bits or kbps list means the field is not chosen.
struct Offers {
    std::span<const DWORD> rates;
    std::span<const unsigned> bits;
    std::span<const unsigned> channels;
    std::span<const unsigned> kbps;
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
    WORD subTag = 0;         // an extensible block's sub-format, 0 for a plain block
    Offers offers = {};      // what the chooser offers, when the tag is written

    bool IsLinear() const { return family == BlockFamily::Linear; }
    const FamilyRules& Rules() const { return RulesOf(family); }
    // Whether the command line's key names the bit rate (several offered).
    bool KeyHasBitRate() const { return !offers.kbps.empty(); }
};

// Every known tag, in the chooser's order first, then the tags that are only read.
std::span<const TagFacts> AllTags();
// The facts of a tag, or null for a tag the service does not know; for
// WAVE_FORMAT_EXTENSIBLE the first of its rows.
const TagFacts* FindTagFacts(WORD tag);

// Whether the FFmpeg at hand reads or writes the tag.
bool CanDecode(const TagFacts& facts);
bool CanEncode(const TagFacts& facts);

// The bytes of the per-channel headers that open every block of the family (0
// where blocks have none): a block shorter than its headers holds no sample.
inline unsigned BlockHeaderBytes(BlockFamily family, unsigned channels) {
    return RulesOf(family).headerBytesPerChannel * channels;
}

// How many blocks the family's data is written in whole groups of: GSM 6.10's
// 65-byte blocks in pairs (readers that take two at a time misread an odd
// count), 1 for the others.
inline unsigned BlocksPerGroup(BlockFamily family) { return RulesOf(family).blocksPerGroup; }

}  // namespace acm
