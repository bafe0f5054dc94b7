#include "platform/acm/catalogue.h"

#include "platform/acm/ffmpeg_ptr.h"
#include "platform/acm/tags.h"

#include <algorithm>
#include <cstring>

namespace acm {

namespace {

constexpr DWORD kPcmRates[] = {8000,  11025, 12000, 16000, 22050,  24000, 32000,
                               44100, 48000, 88200, 96000, 176400, 192000};
constexpr DWORD kSpeechRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
constexpr DWORD kExtensibleRates[] = {44100, 48000, 96000};
constexpr std::uint32_t kQuadMask = 0x33, kSurround51Mask = 0x3F, kSurround71Mask = 0x63F;

struct Mp3Rates {
    DWORD rates[3];
    unsigned mono[4];    // kbit/s, 0 ends the list
    unsigned stereo[6];  // kbit/s, 0 ends the list
};
// Bit rates valid at each MPEG version's rates, kept to the common ones.
constexpr Mp3Rates kMp3[] = {
    {{32000, 44100, 48000}, {64, 96, 128, 0}, {96, 128, 160, 192, 256, 320}},
    {{16000, 22050, 24000}, {32, 48, 64, 0}, {48, 64, 96, 128, 0, 0}},
    {{8000, 11025, 12000}, {8, 16, 24, 32}, {16, 24, 32, 48, 0, 0}},
};

void Offer(CatalogueTag& tag, Block block) {
    FormatInfo info;
    // Every block built here is well formed; a failure is a fault in the builders.
    if (ParseFormat(block.data(), block.size(), &info) != MMSYSERR_NOERROR) return;
    CatalogueFormat format;
    format.name = FormatName(info);
    format.block = std::move(block);
    tag.formats.push_back(std::move(format));
}

void AddFormats(CatalogueTag& tag) {
    switch (tag.tag) {
    case WAVE_FORMAT_PCM:
        for (DWORD rate : kPcmRates)
            for (unsigned bits : {8u, 16u, 24u, 32u})
                for (unsigned ch : {1u, 2u}) Offer(tag, MakePcmBlock(WAVE_FORMAT_PCM, rate, bits, ch));
        break;
    case WAVE_FORMAT_IEEE_FLOAT:
        for (DWORD rate : kPcmRates)
            for (unsigned bits : {32u, 64u})
                for (unsigned ch : {1u, 2u}) Offer(tag, MakePcmBlock(WAVE_FORMAT_IEEE_FLOAT, rate, bits, ch));
        break;
    case WAVE_FORMAT_EXTENSIBLE:
        for (DWORD rate : kExtensibleRates)
            for (unsigned bits : {16u, 24u})
                for (std::uint32_t mask : {kQuadMask, kSurround51Mask, kSurround71Mask})
                    Offer(tag, MakeExtensibleBlock(WAVE_FORMAT_PCM, rate, bits,
                                                   static_cast<unsigned>(__builtin_popcount(mask)), mask));
        break;
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
        for (DWORD rate : kSpeechRates)
            for (unsigned ch : {1u, 2u}) Offer(tag, MakeG711Block(tag.tag, rate, ch));
        break;
    case WAVE_FORMAT_IMA_ADPCM:
        for (DWORD rate : kSpeechRates)
            for (unsigned ch : {1u, 2u}) Offer(tag, MakeImaAdpcmBlock(rate, ch, ClassicAdpcmBlockAlign(rate, ch)));
        break;
    case WAVE_FORMAT_ADPCM:
        for (DWORD rate : kSpeechRates)
            for (unsigned ch : {1u, 2u}) Offer(tag, MakeMsAdpcmBlock(rate, ch, ClassicAdpcmBlockAlign(rate, ch)));
        break;
    case WAVE_FORMAT_GSM610:
        Offer(tag, MakeGsmBlock());
        break;
    case WAVE_FORMAT_MPEGLAYER3:
        for (const Mp3Rates& version : kMp3)
            for (DWORD rate : version.rates) {
                for (unsigned kbps : version.mono)
                    if (kbps != 0) Offer(tag, MakeMp3Block(rate, 1, kbps));
                for (unsigned kbps : version.stereo)
                    if (kbps != 0) Offer(tag, MakeMp3Block(rate, 2, kbps));
            }
        break;
    default:
        break;
    }
}

std::vector<CatalogueTag> BuildCatalogue() {
    std::vector<CatalogueTag> tags;
    for (const TagFacts& facts : AllTags()) {
        CatalogueTag tag;
        tag.tag = facts.tag;
        tag.name = facts.name;
        tag.decode = CanDecode(facts);
        tag.encode = CanEncode(facts);
        if (tag.encode) AddFormats(tag);
        tag.cbFormatSize = facts.cbFormatSize;
        for (const CatalogueFormat& f : tag.formats)
            tag.cbFormatSize = std::max<DWORD>(tag.cbFormatSize, static_cast<DWORD>(f.block.size()));
        if (facts.IsLinear())
            tag.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CONVERTER;
        else if (tag.decode || tag.encode)
            tag.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
        tags.push_back(std::move(tag));
    }
    return tags;
}

}  // namespace

void QuietCodecLog() {
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
}

const std::vector<CatalogueTag>& Catalogue() {
    QuietCodecLog();
    static const std::vector<CatalogueTag> catalogue = BuildCatalogue();
    return catalogue;
}

const CatalogueTag* FindTag(WORD tag) {
    for (const CatalogueTag& t : Catalogue())
        if (t.tag == tag) return &t;
    return nullptr;
}

std::vector<const CatalogueTag*> ChooserTags() {
    std::vector<const CatalogueTag*> out;
    for (const CatalogueTag& t : Catalogue())
        if (t.encode && !t.formats.empty()) out.push_back(&t);
    return out;
}

ChooserPosition DefaultChoice() {
    const Block wanted = MakePcmBlock(WAVE_FORMAT_PCM, 44100, 16, 2);
    ChooserPosition position;
    FindChoice(wanted.data(), wanted.size(), &position);
    return position;
}

bool FindChoice(const void* block, std::size_t cb, ChooserPosition* position) {
    const auto tags = ChooserTags();
    for (std::size_t t = 0; t < tags.size(); ++t)
        for (std::size_t f = 0; f < tags[t]->formats.size(); ++f) {
            const Block& b = tags[t]->formats[f].block;
            if (b.size() <= cb && std::memcmp(b.data(), block, b.size()) == 0) {
                *position = {static_cast<int>(t), static_cast<int>(f)};
                return true;
            }
        }
    return false;
}

DWORD MaxFormatSize() {
    DWORD largest = sizeof(WAVEFORMATEX);
    for (const CatalogueTag& t : Catalogue())
        for (const CatalogueFormat& f : t.formats) largest = std::max<DWORD>(largest, static_cast<DWORD>(f.block.size()));
    return largest;
}

}  // namespace acm
