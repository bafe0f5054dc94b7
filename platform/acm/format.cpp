#include "platform/acm/format.h"

#include "platform/acm/tags.h"
#include "platform/endian.h"
#include "res/strings.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace acm {

namespace {

// The GUID tail shared by every wave sub-format: {tttttttt-0000-0010-8000-00AA00389B71}.
constexpr std::uint8_t kSubFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

Block MakeHeader(WORD tag, unsigned channels, DWORD rate, DWORD avg, unsigned align, unsigned bits, WORD cbSize) {
    Block b(sizeof(WAVEFORMATEX) + cbSize, 0);
    endian::StoreLe16(&b[0], tag);
    endian::StoreLe16(&b[2], channels);
    endian::StoreLe32(&b[4], rate);
    endian::StoreLe32(&b[8], avg);
    endian::StoreLe16(&b[12], align);
    endian::StoreLe16(&b[14], bits);
    endian::StoreLe16(&b[16], cbSize);
    return b;
}

// Thousands separated by commas: 44,100.
std::string Grouped(std::uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    const std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[i];
        if ((n - i - 1) % 3 == 0 && i + 1 < n) out += ',';
    }
    return out;
}

}  // namespace

namespace {

// Reads the extensible fields: the sub-format tag, valid bits and speaker mask.
bool ReadExtensible(FormatInfo& f) {
    if (f.extra.size() < kExtensibleExtraBytes) return false;
    const std::uint8_t* x = f.extra.data();
    const unsigned valid = endian::LoadLe16(x);
    const std::uint32_t mask = endian::LoadLe32(x + 2);
    const std::uint32_t sub = endian::LoadLe32(x + 6);
    if (std::memcmp(x + 10, kSubFormatTail, sizeof kSubFormatTail) != 0) return false;
    if (sub == 0 || sub >= WAVE_FORMAT_EXTENSIBLE) return false;
    f.codingTag = static_cast<WORD>(sub);
    // A mask that names a different number of speakers than there are channels
    // says nothing usable about their order.
    if (std::popcount(mask) == static_cast<int>(f.channels)) f.channelMask = mask;
    if (valid != 0) f.validBits = valid;
    f.extra = f.extra.subspan(kExtensibleExtraBytes);
    return true;
}

// Whether the block alignment gives every channel one container of a size the
// coding has, and the bits fit in it.
bool ContainerFits(const FormatInfo& f, bool pcm) {
    if (f.blockAlign == 0 || f.blockAlign % f.channels != 0) return false;
    const unsigned container = f.blockAlign / f.channels;
    if (f.bitsPerSample == 0 || f.bitsPerSample > container * 8) return false;
    if (pcm) return container <= 4 || container == 8;
    return (container == 4 || container == 8) && f.bitsPerSample == container * 8;
}

// PCM and float: whole samples per channel in each block, bits that fit them.
bool CheckLinear(FormatInfo& f) {
    const bool pcm = f.codingTag == WAVE_FORMAT_PCM;
    // Samples of 8 bits or fewer are unsigned bytes, one per channel, whatever a
    // plain PCM block's alignment says: they are read as other readers read them.
    if (f.tag == WAVE_FORMAT_PCM && f.bitsPerSample != 0 && f.bitsPerSample <= 8 && f.blockAlign != 0)
        f.blockAlign = f.channels;
    // A plain PCM alignment that holds no whole sample per channel (a 3-channel
    // 24-bit file saying 4) is a writer's slip: the channels and bits say how
    // the samples lie, and ffprobe, sox and libsndfile read them so.
    if (f.tag == WAVE_FORMAT_PCM && f.bitsPerSample != 0 && !ContainerFits(f, true)) {
        f.blockAlign = f.channels * ((f.bitsPerSample + 7) / 8);
        f.alignmentFromBits = true;
    }
    if (!ContainerFits(f, pcm) || f.validBits == 0 || f.validBits > f.bitsPerSample) return false;
    f.containerBytes = f.blockAlign / f.channels;
    f.coding = pcm ? Coding::Pcm : Coding::Float;
    return true;
}

bool CheckCompressed(FormatInfo& f) {
    f.coding = Coding::Compressed;
    // Tags the service does not know are held to the stricter rule.
    const TagFacts* facts = FindTagFacts(f.codingTag);
    if (f.blockAlign == 0 && (facts == nullptr || facts->needsBlockAlign)) return false;
    // An ADPCM block begins with a header per channel; a block shorter than its
    // headers holds no sample at all.
    return facts == nullptr || f.blockAlign >= BlockHeaderBytes(facts->family, f.channels);
}

}  // namespace

MMRESULT ParseFormat(const void* bytes, std::size_t cb, FormatInfo* info) {
    if (bytes == nullptr || info == nullptr || cb < 16) return MMSYSERR_INVALPARAM;
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    FormatInfo f;
    f.tag = endian::LoadLe16(p);
    f.channels = endian::LoadLe16(p + 2);
    f.rate = endian::LoadLe32(p + 4);
    f.avgBytesPerSec = endian::LoadLe32(p + 8);
    f.blockAlign = endian::LoadLe16(p + 12);
    f.bitsPerSample = endian::LoadLe16(p + 14);
    // A 16-byte block is the short PCM header: no extra-size field, no extra bytes.
    const std::size_t cbSize = cb >= sizeof(WAVEFORMATEX) ? endian::LoadLe16(p + 16) : 0;
    if (cb < sizeof(WAVEFORMATEX) && f.tag != WAVE_FORMAT_PCM) return MMSYSERR_INVALPARAM;
    if (cbSize > cb - std::min(cb, sizeof(WAVEFORMATEX))) return MMSYSERR_INVALPARAM;
    f.block = {p, std::min(cb, sizeof(WAVEFORMATEX) + cbSize)};
    f.extra = {p + std::min(cb, sizeof(WAVEFORMATEX)), cbSize};

    if (f.tag == WAVE_FORMAT_UNKNOWN) return ACMERR_NOTPOSSIBLE;
    if (f.channels == 0 || f.channels > kMaxChannels) return ACMERR_NOTPOSSIBLE;
    if (f.rate == 0 || f.rate > kMaxSampleRate) return ACMERR_NOTPOSSIBLE;
    f.codingTag = f.tag;
    f.validBits = f.bitsPerSample;
    if (f.tag == WAVE_FORMAT_EXTENSIBLE && !ReadExtensible(f)) return ACMERR_NOTPOSSIBLE;
    const bool linear = f.codingTag == WAVE_FORMAT_PCM || f.codingTag == WAVE_FORMAT_IEEE_FLOAT;
    if (!(linear ? CheckLinear(f) : CheckCompressed(f))) return ACMERR_NOTPOSSIBLE;
    *info = f;
    return MMSYSERR_NOERROR;
}

namespace {

Words gWords = Words::Japanese;

// A row of the text table in the chosen words, filled in with number.
std::string Word(Text id, Words words, unsigned long number = 0) {
    const char* format = words == Words::English ? PlainText(id) : DialogText(id);
    char text[128];
    std::snprintf(text, sizeof text, format, number);
    return text;
}

std::string Word(Text id, Words words, const std::string& value) {
    const char* format = words == Words::English ? PlainText(id) : DialogText(id);
    char text[128];
    std::snprintf(text, sizeof text, format, value.c_str());
    return text;
}

}  // namespace

void SetNameWords(Words words) { gWords = words; }
Words NameWords() { return gWords; }

std::string ChannelsName(unsigned channels, std::uint32_t mask, Words words) {
    if (channels == 1) return Word(Text::NameMono, words);
    if (channels == 2) return Word(Text::NameStereo, words);
    const std::uint32_t kSurround51 = 0x3F, kSurround51Side = 0x60F, kSurround71 = 0x63F, kSurround71Wide = 0xFF;
    if (mask == kSurround51 || mask == kSurround51Side) return Word(Text::NameSurround51, words);
    if (mask == kSurround71 || mask == kSurround71Wide) return Word(Text::NameSurround71, words);
    return Word(Text::NameChannels, words, channels);
}

std::string FormatName(const FormatInfo& f, Words words) {
    std::string name = Word(Text::NameRate, words, Grouped(f.rate));
    if (f.coding == Coding::Float && f.tag == WAVE_FORMAT_EXTENSIBLE) {
        name += Word(Text::NameFloatBits, words, f.validBits);
    } else if (f.IsLinear()) {
        name += Word(Text::NameBits, words, f.validBits);
    } else if (f.bitsPerSample != 0) {
        name += Word(Text::NameBits, words, f.bitsPerSample);
    } else if (f.avgBytesPerSec != 0) {
        const std::uint64_t bitsPerSec = static_cast<std::uint64_t>(f.avgBytesPerSec) * 8;
        char rate[32];
        if (bitsPerSec % 1000 == 0)
            std::snprintf(rate, sizeof rate, "%llu", static_cast<unsigned long long>(bitsPerSec / 1000));
        else
            std::snprintf(rate, sizeof rate, "%.1f", static_cast<double>(bitsPerSec) / 1000.0);
        name += Word(Text::NameBitRate, words, rate);
    }
    name += ChannelsName(f.channels, f.channelMask, words);
    return name;
}

Block MakePcmBlock(WORD tag, DWORD rate, unsigned bits, unsigned channels) {
    const unsigned align = channels * ((bits + 7) / 8);
    return MakeHeader(tag, channels, rate, rate * align, align, bits, 0);
}

Block MakeExtensibleBlock(WORD subTag, DWORD rate, unsigned bits, unsigned channels, std::uint32_t mask) {
    const unsigned align = channels * ((bits + 7) / 8);
    Block b = MakeHeader(WAVE_FORMAT_EXTENSIBLE, channels, rate, rate * align, align, bits, kExtensibleExtraBytes);
    endian::StoreLe16(&b[18], bits);
    endian::StoreLe32(&b[20], mask);
    endian::StoreLe32(&b[24], subTag);
    std::memcpy(b.data() + 28, kSubFormatTail, sizeof kSubFormatTail);
    return b;
}

Block MakeG711Block(WORD tag, DWORD rate, unsigned channels) {
    return MakeHeader(tag, channels, rate, rate * channels, channels, 8, 0);
}

unsigned ClassicAdpcmBlockAlign(DWORD rate, unsigned channels) {
    return 256 * channels * std::max<unsigned>(1, rate / 11025);
}

unsigned ImaSamplesPerBlock(unsigned blockAlign, unsigned channels) {
    return (blockAlign - 4 * channels) * 8 / (4 * channels) + 1;
}

unsigned MsSamplesPerBlock(unsigned blockAlign, unsigned channels) {
    return (blockAlign - 7 * channels) * 2 / channels + 2;
}

unsigned SamplesPerBlockField(const FormatInfo& f) { return f.extra.size() >= 2 ? endian::LoadLe16(f.extra.data()) : 0; }

Block MakeImaAdpcmBlock(DWORD rate, unsigned channels, unsigned blockAlign) {
    const unsigned spb = ImaSamplesPerBlock(blockAlign, channels);
    const DWORD avg = static_cast<DWORD>(static_cast<std::uint64_t>(rate) * blockAlign / spb);
    Block b = MakeHeader(WAVE_FORMAT_IMA_ADPCM, channels, rate, avg, blockAlign, 4, 2);
    endian::StoreLe16(&b[18], spb);
    return b;
}

Block MakeMsAdpcmBlock(DWORD rate, unsigned channels, unsigned blockAlign) {
    const unsigned spb = MsSamplesPerBlock(blockAlign, channels);
    const DWORD avg = static_cast<DWORD>(static_cast<std::uint64_t>(rate) * blockAlign / spb);
    Block b = MakeHeader(WAVE_FORMAT_ADPCM, channels, rate, avg, blockAlign, 4, 32);
    endian::StoreLe16(&b[18], spb);
    endian::StoreLe16(&b[20], 7);
    for (int i = 0; i < 7; ++i) {
        endian::StoreLe16(&b[22 + 4 * i], static_cast<std::uint16_t>(kMsAdpcmCoefficients[i][0]));
        endian::StoreLe16(&b[24 + 4 * i], static_cast<std::uint16_t>(kMsAdpcmCoefficients[i][1]));
    }
    return b;
}

Block MakeGsmBlock() {
    // Two GSM frames of 160 samples packed into 65 bytes.
    Block b = MakeHeader(WAVE_FORMAT_GSM610, 1, 8000, 8000 * 65 / 320, 65, 0, 2);
    endian::StoreLe16(&b[18], 320);
    return b;
}

Block MakeMp3Block(DWORD rate, unsigned channels, unsigned kbps) {
    // MPEG-1 frames hold 1152 samples (144 bytes per bit/s per Hz), MPEG-2 and 2.5 hold 576.
    const unsigned bytesPerFrameFactor = rate >= 32000 ? 144 : 72;
    const unsigned frameBytes = bytesPerFrameFactor * kbps * 1000 / rate;
    Block b = MakeHeader(WAVE_FORMAT_MPEGLAYER3, channels, rate, kbps * 1000 / 8, 1, 0, 12);
    endian::StoreLe16(&b[18], 1);           // wID: MPEG audio
    endian::StoreLe32(&b[20], 0);           // fdwFlags: ISO padding, as the encoder pads
    endian::StoreLe16(&b[24], frameBytes);  // nBlockSize
    endian::StoreLe16(&b[26], 1);           // nFramesPerBlock
    endian::StoreLe16(&b[28], kMp3CodecDelay);
    return b;
}

Block MakeCodeBlock(WORD tag, DWORD rate, unsigned channels, unsigned bitsPerCode, unsigned blockAlign) {
    const DWORD avg = static_cast<DWORD>(static_cast<std::uint64_t>(rate) * channels * bitsPerCode / 8);
    return MakeHeader(tag, channels, rate, avg, blockAlign, bitsPerCode, 0);
}

}  // namespace acm
