#include "platform/acm/catalogue.h"

#include "platform/acm/ffmpeg_ptr.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace acm {

namespace {

struct TagRow {
    WORD tag;
    const char* name;
    AVCodecID decoder;
    const char* encoder;  // FFmpeg encoder name, null when none is offered
    DWORD cbFormatSize;   // block size files carry when the chooser offers none
};

// PCM and float need no codec object; their decoder ids only mark them decodable.
constexpr TagRow kTags[] = {
    {WAVE_FORMAT_PCM, "PCM", AV_CODEC_ID_PCM_S16LE, nullptr, 18},
    {WAVE_FORMAT_IEEE_FLOAT, "IEEE Float", AV_CODEC_ID_PCM_F32LE, nullptr, 18},
    {WAVE_FORMAT_EXTENSIBLE, "Extensible PCM", AV_CODEC_ID_PCM_S16LE, nullptr, 40},
    {WAVE_FORMAT_ALAW, "A-law (G.711)", AV_CODEC_ID_PCM_ALAW, "pcm_alaw", 18},
    {WAVE_FORMAT_MULAW, "mu-law (G.711)", AV_CODEC_ID_PCM_MULAW, "pcm_mulaw", 18},
    {WAVE_FORMAT_IMA_ADPCM, "IMA ADPCM", AV_CODEC_ID_ADPCM_IMA_WAV, "adpcm_ima_wav", 20},
    {WAVE_FORMAT_ADPCM, "MS ADPCM", AV_CODEC_ID_ADPCM_MS, "adpcm_ms", 50},
    {WAVE_FORMAT_GSM610, "GSM 6.10", AV_CODEC_ID_GSM_MS, "libgsm_ms", 20},
    {WAVE_FORMAT_MPEGLAYER3, "MPEG Layer-3", AV_CODEC_ID_MP3, "libmp3lame", 30},
    // Decode only.
    {0x000A, "WMA Voice", AV_CODEC_ID_WMAVOICE, nullptr, 64},
    {0x0010, "OKI ADPCM", AV_CODEC_ID_ADPCM_IMA_OKI, nullptr, 18},
    {0x0017, "Dialogic OKI ADPCM", AV_CODEC_ID_ADPCM_IMA_OKI, nullptr, 18},
    {0x0020, "Yamaha ADPCM", AV_CODEC_ID_ADPCM_YAMAHA, nullptr, 18},
    {0x0022, "TrueSpeech", AV_CODEC_ID_TRUESPEECH, nullptr, 50},
    {0x028F, "G.722 ADPCM", AV_CODEC_ID_ADPCM_G722, nullptr, 18},
    {0x0038, "AMR Narrowband", AV_CODEC_ID_AMR_NB, nullptr, 18},
    {0x0042, "G.723.1", AV_CODEC_ID_G723_1, nullptr, 28},
    {0x0045, "G.726 ADPCM", AV_CODEC_ID_ADPCM_G726, nullptr, 18},
    {0x0050, "MPEG Layer-2", AV_CODEC_ID_MP2, nullptr, 40},
    {0x0057, "AMR Narrowband", AV_CODEC_ID_AMR_NB, nullptr, 18},
    {0x0058, "AMR Wideband", AV_CODEC_ID_AMR_WB, nullptr, 18},
    {0x0061, "DK4 IMA ADPCM", AV_CODEC_ID_ADPCM_IMA_DK4, nullptr, 20},
    {0x0062, "DK3 IMA ADPCM", AV_CODEC_ID_ADPCM_IMA_DK3, nullptr, 20},
    {0x0069, "IMA ADPCM (0x0069)", AV_CODEC_ID_ADPCM_IMA_WAV, nullptr, 20},
    {0x0075, "MetaSound", AV_CODEC_ID_METASOUND, nullptr, 18},
    {0x00FF, "AAC", AV_CODEC_ID_AAC, nullptr, 20},
    {0x0130, "SIPR", AV_CODEC_ID_SIPR, nullptr, 18},
    {0x0160, "WMA version 1", AV_CODEC_ID_WMAV1, nullptr, 22},
    {0x0161, "WMA version 2", AV_CODEC_ID_WMAV2, nullptr, 28},
    {0x0162, "WMA Professional", AV_CODEC_ID_WMAPRO, nullptr, 36},
    {0x0163, "WMA Lossless", AV_CODEC_ID_WMALOSSLESS, nullptr, 36},
    {0x0200, "CT ADPCM", AV_CODEC_ID_ADPCM_CT, nullptr, 18},
    {0x0270, "ATRAC3", AV_CODEC_ID_ATRAC3, nullptr, 32},
    {0x0401, "IMC", AV_CODEC_ID_IMC, nullptr, 18},
    {0x0402, "IAC", AV_CODEC_ID_IAC, nullptr, 18},
    {0x1500, "GSM 6.10 (0x1500)", AV_CODEC_ID_GSM_MS, nullptr, 20},
    {0x1501, "TrueSpeech (0x1501)", AV_CODEC_ID_TRUESPEECH, nullptr, 50},
    {0x1600, "AAC (ADTS)", AV_CODEC_ID_AAC, nullptr, 18},
    {0x1602, "AAC (LATM)", AV_CODEC_ID_AAC_LATM, nullptr, 18},
    {0x2000, "AC-3", AV_CODEC_ID_AC3, nullptr, 18},
    {0x2001, "DTS", AV_CODEC_ID_DTS, nullptr, 18},
    {0x2048, "Sonic", AV_CODEC_ID_SONIC, nullptr, 18},
    {0x4143, "AAC (0x4143)", AV_CODEC_ID_AAC, nullptr, 20},
    {0x6C75, "mu-law (0x6C75)", AV_CODEC_ID_PCM_MULAW, nullptr, 18},
    {0x706D, "AAC (0x706D)", AV_CODEC_ID_AAC, nullptr, 20},
    {0xA100, "G.723.1 (0xA100)", AV_CODEC_ID_G723_1, nullptr, 28},
    {0xA106, "AAC (0xA106)", AV_CODEC_ID_AAC, nullptr, 20},
    {0xA109, "Speex", AV_CODEC_ID_SPEEX, nullptr, 18},
    {0xF1AC, "FLAC", AV_CODEC_ID_FLAC, nullptr, 18},
    {0x5346, "SWF ADPCM", AV_CODEC_ID_ADPCM_SWF, nullptr, 18},
    {0x566F, "Vorbis", AV_CODEC_ID_VORBIS, nullptr, 18},
};

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

// The codecs a decoder opens for without a strictness override (experimental
// decoders refuse), from one walk over FFmpeg's codec list: a lookup per tag
// walked the whole list once for each of the fifty tags.
std::unordered_set<int> UsableDecoders() {
    std::unordered_set<int> ids;
    void* iterator = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&iterator)) {
        if (av_codec_is_decoder(codec) != 0 && (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) == 0)
            ids.insert(codec->id);
    }
    return ids;
}

std::vector<CatalogueTag> BuildCatalogue() {
    const std::unordered_set<int> decoders = UsableDecoders();
    std::vector<CatalogueTag> tags;
    for (const TagRow& row : kTags) {
        CatalogueTag tag;
        tag.tag = row.tag;
        tag.name = row.name;
        const bool linear = row.tag == WAVE_FORMAT_PCM || row.tag == WAVE_FORMAT_IEEE_FLOAT ||
                            row.tag == WAVE_FORMAT_EXTENSIBLE;
        tag.decode = linear || decoders.count(row.decoder) != 0;
        tag.encode = linear || (row.encoder != nullptr && avcodec_find_encoder_by_name(row.encoder) != nullptr);
        if (tag.encode) AddFormats(tag);
        tag.cbFormatSize = row.cbFormatSize;
        for (const CatalogueFormat& f : tag.formats)
            tag.cbFormatSize = std::max<DWORD>(tag.cbFormatSize, static_cast<DWORD>(f.block.size()));
        if (linear)
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

int DecoderIdForTag(WORD tag) {
    for (const TagRow& row : kTags)
        if (row.tag == tag) return row.decoder;
    return AV_CODEC_ID_NONE;
}

const char* EncoderNameForTag(WORD tag) {
    for (const TagRow& row : kTags)
        if (row.tag == tag) return row.encoder;
    return nullptr;
}

}  // namespace acm
