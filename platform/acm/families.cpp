// One record per block family: how its blocks are built for the chooser, which
// blocks its encoder writes as described, the options the encoder takes, and
// how its samples and bytes are counted. A new tag of a known family is one row
// of the table in tags.cpp; a tag whose block rules are new adds a record here.
#include "platform/acm/tags.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>

namespace acm {

namespace {

// The usual speaker mask for a channel count: mono, stereo, 3.0, quad, 5.0, 5.1, 6.1, 7.1.
constexpr std::uint32_t kDefaultMasks[] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};

std::uint32_t DefaultMask(unsigned channels) { return channels < std::size(kDefaultMasks) ? kDefaultMasks[channels] : 0; }

// The MPEG versions' rates and the bit rates kept for each, the common ones.
struct Mp3Rates {
    DWORD rates[3];
    unsigned mono[4];    // kbit/s, 0 ends the list
    unsigned stereo[6];  // kbit/s, 0 ends the list
};
constexpr Mp3Rates kMp3[] = {
    {{32000, 44100, 48000}, {64, 96, 128, 0}, {96, 128, 160, 192, 256, 320}},
    {{16000, 22050, 24000}, {32, 48, 64, 0}, {48, 64, 96, 128, 0, 0}},
    {{8000, 11025, 12000}, {8, 16, 24, 32}, {16, 24, 32, 48, 0, 0}},
};

bool Mp3BitRateValid(DWORD rate, unsigned channels, unsigned kbps) {
    for (const Mp3Rates& version : kMp3) {
        if (std::find(std::begin(version.rates), std::end(version.rates), rate) == std::end(version.rates)) continue;
        const auto* first = channels == 1 ? std::begin(version.mono) : std::begin(version.stereo);
        const auto* last = channels == 1 ? std::end(version.mono) : std::end(version.stereo);
        return channels <= 2 && kbps != 0 && std::find(first, last, kbps) != last;
    }
    return false;
}

bool IsPowerOfTwo(unsigned v) { return v != 0 && (v & (v - 1)) == 0; }

// The block sizes FFmpeg's block-size option takes: a power of two from 32 to 8192 bytes.
bool EncoderBlockSize(unsigned blockAlign) { return IsPowerOfTwo(blockAlign) && blockAlign >= 32 && blockAlign <= 8192; }

// ADPCM blocks with headers: 4 bits, a block size the encoder takes, larger than
// the headers, and the samples-per-block field that size gives.
bool AdpcmBlockFits(const FormatInfo& d, unsigned headerBytes, unsigned samplesPerBlock) {
    return d.bitsPerSample == 4 && EncoderBlockSize(d.blockAlign) && d.blockAlign > headerBytes &&
           SamplesPerBlockField(d) == samplesPerBlock;
}

// Counted from the stated byte rate, with a margin for a rate stated low.
double FramesFromRate(const FormatInfo& s, std::uint64_t bytes) {
    if (s.avgBytesPerSec != 0) return static_cast<double>(bytes) * s.rate / s.avgBytesPerSec * 1.25;
    if (s.bitsPerSample != 0) return static_cast<double>(bytes) * 8 / (s.bitsPerSample * s.channels);
    return static_cast<double>(bytes) * 16;
}

double Blocks(const FormatInfo& s, std::uint64_t bytes) {
    return s.blockAlign != 0 ? std::ceil(static_cast<double>(bytes) / s.blockAlign) : 0;
}

// Codes of a fixed size with no headers: the samples the block's bits hold.
unsigned CodeFrames(const FormatInfo& f) {
    const unsigned codeBits = f.bitsPerSample * f.channels;
    return codeBits != 0 && f.blockAlign * 8 % codeBits == 0 ? f.blockAlign * 8 / codeBits : 0;
}

double CodeFramesFor(const FormatInfo& s, std::uint64_t bytes) {
    if (s.bitsPerSample == 0) return FramesFromRate(s, bytes);
    return static_cast<double>(bytes) * 8 / (s.bitsPerSample * s.channels);
}

Block NoBlock(const TagFacts&, DWORD, unsigned, unsigned, unsigned) { return {}; }
bool WritesNone(const FormatInfo&) { return false; }
unsigned NoFramesPerBlock(const FormatInfo&) { return 0; }

constexpr FamilyRules kOther = {NoBlock, WritesNone, NoFramesPerBlock, FramesFromRate, false, false, false, 0, 1};

constexpr FamilyRules kLinear = {
    [](const TagFacts& t, DWORD rate, unsigned bits, unsigned ch, unsigned) {
        if (t.subTag != 0) return MakeExtensibleBlock(t.subTag, rate, bits, ch, DefaultMask(ch));
        return MakePcmBlock(t.tag, rate, bits, ch);
    },
    WritesNone,  // no encoder: the sink packs the samples itself
    [](const FormatInfo& f) { return f.coding == Coding::Float ? 1u : 0u; },
    [](const FormatInfo& s, std::uint64_t bytes) { return static_cast<double>(bytes / s.blockAlign); },
    false, false, false, 0, 1};

constexpr FamilyRules kG711 = {
    [](const TagFacts& t, DWORD rate, unsigned, unsigned ch, unsigned) { return MakeG711Block(t.tag, rate, ch); },
    [](const FormatInfo& d) { return d.bitsPerSample == 8 && d.blockAlign == d.channels; },
    [](const FormatInfo& f) { return f.blockAlign % f.channels == 0 ? f.blockAlign / f.channels : 0; },
    [](const FormatInfo& s, std::uint64_t bytes) { return static_cast<double>(bytes / s.channels); },
    false, false, false, 0, 1};

// IMA's decoder reads whole 4-byte words per channel after the headers.
constexpr FamilyRules kImaAdpcm = {
    [](const TagFacts&, DWORD rate, unsigned, unsigned ch, unsigned) {
        return MakeImaAdpcmBlock(rate, ch, ClassicAdpcmBlockAlign(rate, ch));
    },
    [](const FormatInfo& d) { return AdpcmBlockFits(d, 4 * d.channels, ImaSamplesPerBlock(d.blockAlign, d.channels)); },
    [](const FormatInfo& f) {
        return f.bitsPerSample == 4 ? 1 + (f.blockAlign - 4 * f.channels) / (4 * f.channels) * 8 : 0;
    },
    [](const FormatInfo& s, std::uint64_t bytes) {
        // The larger of the stated samples per block and what the block size gives.
        const unsigned align = std::max(s.blockAlign, 4 * s.channels);
        return Blocks(s, bytes) * std::max(SamplesPerBlockField(s), ImaSamplesPerBlock(align, s.channels));
    },
    true, false, false, 4, 1};

constexpr FamilyRules kMsAdpcm = {
    [](const TagFacts&, DWORD rate, unsigned, unsigned ch, unsigned) {
        return MakeMsAdpcmBlock(rate, ch, ClassicAdpcmBlockAlign(rate, ch));
    },
    [](const FormatInfo& d) {
        if (d.extra.size() < 32 || !AdpcmBlockFits(d, 7 * d.channels, MsSamplesPerBlock(d.blockAlign, d.channels)))
            return false;
        const Block expected = MakeMsAdpcmBlock(d.rate, d.channels, d.blockAlign);
        return std::equal(d.extra.begin() + 2, d.extra.begin() + 32, expected.begin() + 20);
    },
    [](const FormatInfo& f) { return f.bitsPerSample == 4 ? MsSamplesPerBlock(f.blockAlign, f.channels) : 0; },
    [](const FormatInfo& s, std::uint64_t bytes) {
        const unsigned align = std::max(s.blockAlign, 7 * s.channels);
        return Blocks(s, bytes) * std::max(SamplesPerBlockField(s), MsSamplesPerBlock(align, s.channels));
    },
    true, false, false, 7, 1};

// GSM 6.10's 65-byte blocks are written in pairs: readers that take two at a
// time misread an odd count.
constexpr FamilyRules kGsm = {
    [](const TagFacts&, DWORD rate, unsigned, unsigned ch, unsigned) {
        return rate == 8000 && ch == 1 ? MakeGsmBlock() : Block{};
    },
    [](const FormatInfo& d) { return d.channels == 1 && d.rate == 8000 && d.blockAlign == 65; },
    [](const FormatInfo& f) { return f.blockAlign == 65 ? 320u : 0u; },
    [](const FormatInfo& s, std::uint64_t bytes) { return Blocks(s, bytes) * 320; },
    false, false, false, 0, 2};

// MPEG frames may be smaller than the stated rate says (variable bit rate):
// counted at the version's lowest bit rate, 32 kbit/s or 8 kbit/s. The decoded
// length includes the encoder's delay, so blocks have no exact frame count.
constexpr FamilyRules kMpeg = {
    [](const TagFacts&, DWORD rate, unsigned, unsigned ch, unsigned kbps) {
        return Mp3BitRateValid(rate, ch, kbps) ? MakeMp3Block(rate, ch, kbps) : Block{};
    },
    [](const FormatInfo& d) { return d.channels <= 2 && d.avgBytesPerSec != 0; },
    NoFramesPerBlock,
    [](const FormatInfo& s, std::uint64_t bytes) {
        const double lowestBitRate = s.rate >= 32000 ? 32000 : 8000;
        return static_cast<double>(bytes) * 8 * s.rate / lowestBitRate;
    },
    false, true, true, 0, 1};

// Codes of a fixed size packed without headers, as FFmpeg writes them: a block
// is the fewest bytes holding whole codes (G.726 at 24 kbit/s: 8 codes in 3 bytes).
// The bits per code come from the bit rate where the tag offers several.
constexpr FamilyRules kCodes = {
    [](const TagFacts& t, DWORD rate, unsigned bits, unsigned ch, unsigned kbps) {
        if (kbps != 0) bits = kbps * 1000 / rate;
        return MakeCodeBlock(t.tag, rate, ch, bits, std::lcm(bits * ch, 8u) / 8);
    },
    [](const FormatInfo& d) {
        const unsigned codeBits = d.bitsPerSample * d.channels;
        return d.bitsPerSample >= 2 && d.bitsPerSample <= 5 && d.blockAlign == std::lcm(codeBits, 8u) / 8 &&
               static_cast<std::uint64_t>(d.avgBytesPerSec) * 8 == static_cast<std::uint64_t>(d.rate) * codeBits;
    },
    CodeFrames, CodeFramesFor, false, true, true, 0, 1};

// 4-bit codes without headers in blocks of the encoder's block size (Yamaha ADPCM).
constexpr FamilyRules kCodeBlocks = {
    [](const TagFacts& t, DWORD rate, unsigned, unsigned ch, unsigned) {
        return MakeCodeBlock(t.tag, rate, ch, 4, 1024);
    },
    [](const FormatInfo& d) { return d.bitsPerSample == 4 && d.channels <= 2 && EncoderBlockSize(d.blockAlign); },
    CodeFrames, CodeFramesFor, true, false, false, 0, 1};

}  // namespace

const FamilyRules& RulesOf(BlockFamily family) {
    switch (family) {
    case BlockFamily::Linear: return kLinear;
    case BlockFamily::G711: return kG711;
    case BlockFamily::ImaAdpcm: return kImaAdpcm;
    case BlockFamily::MsAdpcm: return kMsAdpcm;
    case BlockFamily::Gsm: return kGsm;
    case BlockFamily::Mpeg: return kMpeg;
    case BlockFamily::Codes: return kCodes;
    case BlockFamily::CodeBlocks: return kCodeBlocks;
    default: return kOther;
    }
}

}  // namespace acm
