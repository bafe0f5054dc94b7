// Reading, checking, naming and building WAVEFORMATEX blocks.
#pragma once

#include "platform/acm/acm.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace acm {

using Block = std::vector<std::uint8_t>;

constexpr unsigned kMaxChannels = 64;
constexpr DWORD kMaxSampleRate = 1'000'000;
constexpr WORD kExtensibleExtraBytes = 22;

enum class Coding { Pcm, Float, Compressed };

// A checked view of one format block. The spans point into the block it was read from.
struct FormatInfo {
    WORD tag = 0;        // wFormatTag as written
    WORD codingTag = 0;  // the sub-format of an extensible block, otherwise wFormatTag
    Coding coding = Coding::Compressed;
    unsigned channels = 0;
    DWORD rate = 0;
    DWORD avgBytesPerSec = 0;
    unsigned blockAlign = 0;
    unsigned bitsPerSample = 0;
    unsigned validBits = 0;       // PCM and float: significant bits per sample
    unsigned containerBytes = 0;  // PCM and float: bytes one sample occupies
    std::uint32_t channelMask = 0;       // speaker positions, 0 when none are given
    bool alignmentFromBits = false;      // plain PCM whose nBlockAlign held no whole sample per channel
    std::span<const std::uint8_t> extra;  // codec-specific bytes (after the extensible fields)
    std::span<const std::uint8_t> block;  // the whole block, 18 + cbSize bytes

    bool IsLinear() const { return coding != Coding::Compressed; }
};

// Reads and checks the block at bytes (cb bytes readable). 0 and *info filled, or
// MMSYSERR_INVALPARAM when the block does not fit its bytes (extra-size beyond cb),
// or ACMERR_NOTPOSSIBLE when its fields describe no playable format (no channels,
// no rate, no block alignment where one is needed, absurd values).
MMRESULT ParseFormat(const void* bytes, std::size_t cb, FormatInfo* info);

// The description: rate, bits or bit rate, channels ("44,100 Hz, 16 ビット, ステレオ",
// "44,100 Hz, 16 bits, stereo").
std::string FormatName(const FormatInfo& info, Words words);

// The channel count in words: モノラル, ステレオ, 5.1 チャンネル, 6 チャンネル, ...
std::string ChannelsName(unsigned channels, std::uint32_t mask, Words words);

// Blocks laid out as interoperable WAVE files carry them.
Block MakePcmBlock(WORD tag, DWORD rate, unsigned bits, unsigned channels);
Block MakeExtensibleBlock(WORD subTag, DWORD rate, unsigned bits, unsigned channels, std::uint32_t mask);
Block MakeG711Block(WORD tag, DWORD rate, unsigned channels);
Block MakeImaAdpcmBlock(DWORD rate, unsigned channels, unsigned blockAlign);
Block MakeMsAdpcmBlock(DWORD rate, unsigned channels, unsigned blockAlign);
Block MakeGsmBlock();
Block MakeMp3Block(DWORD rate, unsigned channels, unsigned kbps);
// Codes of bitsPerCode bits with no headers, blockAlign bytes to a block.
Block MakeCodeBlock(WORD tag, DWORD rate, unsigned channels, unsigned bitsPerCode, unsigned blockAlign);

// Classic ADPCM block size: 256 bytes per channel, doubled per 11,025 Hz step.
unsigned ClassicAdpcmBlockAlign(DWORD rate, unsigned channels);
unsigned ImaSamplesPerBlock(unsigned blockAlign, unsigned channels);
unsigned MsSamplesPerBlock(unsigned blockAlign, unsigned channels);
// The samples-per-block field of IMA and MS ADPCM blocks, 0 when absent.
unsigned SamplesPerBlockField(const FormatInfo& f);

// The encoder delay, in samples, that MPEG Layer-3 blocks record (nCodecDelay):
// the encoder's look-ahead plus the decoder's filter delay, as FFmpeg counts them.
constexpr WORD kMp3CodecDelay = 1105;

// MS ADPCM's seven predictor coefficient pairs, as every block carries them.
constexpr std::int16_t kMsAdpcmCoefficients[7][2] = {{256, 0},  {512, -256}, {0, 0},    {192, 64},
                                                     {240, 0}, {460, -208}, {392, -232}};

}  // namespace acm
