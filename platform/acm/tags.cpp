#include "platform/acm/tags.h"

#include "platform/acm/ffmpeg_ptr.h"

#include <unordered_set>

namespace acm {

namespace {

using F = BlockFamily;
constexpr bool kAlign = true, kNoAlign = false, kParsed = true, kBlocks = false;

// Self-framing streams (MPEG audio, AC-3, DTS, FLAC) are read through a parser and
// need no alignment; G.723.1 is parsed too, but its blocks are fixed by the file.
// The AAC and Vorbis tags have no parser for what WAVE files carry, so their
// blocks must be given.
constexpr DWORD kPcmRates[] = {8000,  11025, 12000, 16000, 22050,  24000, 32000,
                               44100, 48000, 88200, 96000, 176400, 192000};
constexpr DWORD kSpeechRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
constexpr DWORD kExtensibleRates[] = {44100, 48000, 96000};
// The MPEG versions' rates, highest version first, and every bit rate any of them
// takes: the family record keeps the combinations each version allows.
constexpr DWORD kMp3Rates[] = {32000, 44100, 48000, 16000, 22050, 24000, 8000, 11025, 12000};
constexpr unsigned kMp3BitRates[] = {8, 16, 24, 32, 48, 64, 96, 128, 160, 192, 256, 320};
constexpr DWORD kRate8k[] = {8000}, kRate16k[] = {16000};
// 64-bit integer samples only in extensible blocks: sox reads a plain block of
// 64 bits as floating point.
constexpr unsigned kPcmBits[] = {8, 16, 24, 32}, kFloatBits[] = {32, 64}, kExtensibleBits[] = {16, 24, 32, 64};
constexpr unsigned kMono[] = {1}, kMonoStereo[] = {1, 2}, kOneToEight[] = {1, 2, 3, 4, 5, 6, 7, 8};
constexpr unsigned kG726BitRates[] = {16, 24, 32, 40}, kFourBits[] = {4};
constexpr std::span<const unsigned> kNone;

constexpr TagFacts kTags[] = {
    {WAVE_FORMAT_PCM, "PCM", AV_CODEC_ID_PCM_S16LE, nullptr, kAlign, kBlocks, F::Linear, "pcm", 18, 0,
     {kPcmRates, kPcmBits, kOneToEight, kNone}},
    {WAVE_FORMAT_IEEE_FLOAT, "IEEE Float", AV_CODEC_ID_PCM_F32LE, nullptr, kAlign, kBlocks, F::Linear, "float", 18, 0,
     {kPcmRates, kFloatBits, kOneToEight, kNone}},
    {WAVE_FORMAT_EXTENSIBLE, "Extensible", AV_CODEC_ID_PCM_S16LE, nullptr, kAlign, kBlocks, F::Linear, nullptr, 40,
     WAVE_FORMAT_PCM, {kExtensibleRates, kExtensibleBits, kOneToEight, kNone}},
    // Float in extensible blocks: its formats join those of the tag's first row.
    {WAVE_FORMAT_EXTENSIBLE, "Extensible", AV_CODEC_ID_PCM_F32LE, nullptr, kAlign, kBlocks, F::Linear, nullptr,
     40, WAVE_FORMAT_IEEE_FLOAT, {kExtensibleRates, kFloatBits, kOneToEight, kNone}},
    {WAVE_FORMAT_ALAW, "A-law (G.711)", AV_CODEC_ID_PCM_ALAW, "pcm_alaw", kAlign, kBlocks, F::G711, "alaw", 18, 0,
     {kSpeechRates, kNone, kMonoStereo, kNone}},
    {WAVE_FORMAT_MULAW, "mu-law (G.711)", AV_CODEC_ID_PCM_MULAW, "pcm_mulaw", kAlign, kBlocks, F::G711, "mulaw", 18, 0,
     {kSpeechRates, kNone, kMonoStereo, kNone}},
    {WAVE_FORMAT_IMA_ADPCM, "IMA ADPCM", AV_CODEC_ID_ADPCM_IMA_WAV, "adpcm_ima_wav", kAlign, kBlocks, F::ImaAdpcm,
     "ima-adpcm", 20, 0, {kSpeechRates, kNone, kMonoStereo, kNone}},
    {WAVE_FORMAT_ADPCM, "MS ADPCM", AV_CODEC_ID_ADPCM_MS, "adpcm_ms", kAlign, kBlocks, F::MsAdpcm, "ms-adpcm", 50, 0,
     {kSpeechRates, kNone, kMonoStereo, kNone}},
    {WAVE_FORMAT_GSM610, "GSM 6.10", AV_CODEC_ID_GSM_MS, "libgsm_ms", kAlign, kBlocks, F::Gsm, "gsm", 20, 0,
     {kRate8k, kNone, kMono, kNone}},
    {WAVE_FORMAT_MPEGLAYER3, "MPEG Layer-3", AV_CODEC_ID_MP3, "libmp3lame", kNoAlign, kParsed, F::Mpeg, "mp3", 30, 0,
     {kMp3Rates, kNone, kMonoStereo, kMp3BitRates}},
    {0x0045, "G.726 ADPCM", AV_CODEC_ID_ADPCM_G726, "g726", kAlign, kBlocks, F::Codes, "g726", 18, 0,
     {kRate8k, kNone, kMono, kG726BitRates}},
    {0x028F, "G.722 ADPCM", AV_CODEC_ID_ADPCM_G722, "g722", kAlign, kBlocks, F::Codes, "g722", 18, 0,
     {kRate16k, kFourBits, kMono, kNone}},
    {0x0020, "Yamaha ADPCM", AV_CODEC_ID_ADPCM_YAMAHA, "adpcm_yamaha", kAlign, kBlocks, F::CodeBlocks, "yamaha-adpcm",
     18, 0, {kSpeechRates, kNone, kMonoStereo, kNone}},
    // Read only.
    {0x000A, "WMA Voice", AV_CODEC_ID_WMAVOICE, nullptr, kAlign, kBlocks, F::Other, nullptr, 64},
    {0x0010, "OKI ADPCM", AV_CODEC_ID_ADPCM_IMA_OKI, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x0017, "Dialogic OKI ADPCM", AV_CODEC_ID_ADPCM_IMA_OKI, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x0022, "TrueSpeech", AV_CODEC_ID_TRUESPEECH, nullptr, kAlign, kBlocks, F::Other, nullptr, 50},
    {0x0038, "AMR Narrowband", AV_CODEC_ID_AMR_NB, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x0042, "G.723.1", AV_CODEC_ID_G723_1, nullptr, kAlign, kParsed, F::Other, nullptr, 28},
    {0x0050, "MPEG Layer-2", AV_CODEC_ID_MP2, nullptr, kNoAlign, kParsed, F::Mpeg, nullptr, 40},
    {0x0057, "AMR Narrowband", AV_CODEC_ID_AMR_NB, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x0058, "AMR Wideband", AV_CODEC_ID_AMR_WB, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x0061, "DK4 IMA ADPCM", AV_CODEC_ID_ADPCM_IMA_DK4, nullptr, kAlign, kBlocks, F::Other, nullptr, 20},
    {0x0062, "DK3 IMA ADPCM", AV_CODEC_ID_ADPCM_IMA_DK3, nullptr, kAlign, kBlocks, F::Other, nullptr, 20},
    {0x0069, "IMA ADPCM (0x0069)", AV_CODEC_ID_ADPCM_IMA_WAV, nullptr, kAlign, kBlocks, F::ImaAdpcm, nullptr, 20},
    {0x0075, "MetaSound", AV_CODEC_ID_METASOUND, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x00FF, "AAC", AV_CODEC_ID_AAC, nullptr, kAlign, kBlocks, F::Other, nullptr, 20},
    {0x0130, "SIPR", AV_CODEC_ID_SIPR, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x0160, "WMA version 1", AV_CODEC_ID_WMAV1, nullptr, kAlign, kBlocks, F::Other, nullptr, 22},
    {0x0161, "WMA version 2", AV_CODEC_ID_WMAV2, nullptr, kAlign, kBlocks, F::Other, nullptr, 28},
    {0x0162, "WMA Professional", AV_CODEC_ID_WMAPRO, nullptr, kAlign, kBlocks, F::Other, nullptr, 36},
    {0x0163, "WMA Lossless", AV_CODEC_ID_WMALOSSLESS, nullptr, kAlign, kBlocks, F::Other, nullptr, 36},
    {0x0200, "CT ADPCM", AV_CODEC_ID_ADPCM_CT, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x0270, "ATRAC3", AV_CODEC_ID_ATRAC3, nullptr, kAlign, kBlocks, F::Other, nullptr, 32},
    {0x0401, "IMC", AV_CODEC_ID_IMC, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x0402, "IAC", AV_CODEC_ID_IAC, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x1500, "GSM 6.10 (0x1500)", AV_CODEC_ID_GSM_MS, nullptr, kAlign, kBlocks, F::Gsm, nullptr, 20},
    {0x1501, "TrueSpeech (0x1501)", AV_CODEC_ID_TRUESPEECH, nullptr, kAlign, kBlocks, F::Other, nullptr, 50},
    {0x1600, "AAC (ADTS)", AV_CODEC_ID_AAC, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x1602, "AAC (LATM)", AV_CODEC_ID_AAC_LATM, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x2000, "AC-3", AV_CODEC_ID_AC3, nullptr, kNoAlign, kParsed, F::Other, nullptr, 18},
    {0x2001, "DTS", AV_CODEC_ID_DTS, nullptr, kNoAlign, kParsed, F::Other, nullptr, 18},
    {0x2048, "Sonic", AV_CODEC_ID_SONIC, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x4143, "AAC (0x4143)", AV_CODEC_ID_AAC, nullptr, kAlign, kBlocks, F::Other, nullptr, 20},
    {0x6C75, "mu-law (0x6C75)", AV_CODEC_ID_PCM_MULAW, nullptr, kAlign, kBlocks, F::G711, nullptr, 18},
    {0x706D, "AAC (0x706D)", AV_CODEC_ID_AAC, nullptr, kAlign, kBlocks, F::Other, nullptr, 20},
    {0xA100, "G.723.1 (0xA100)", AV_CODEC_ID_G723_1, nullptr, kAlign, kParsed, F::Other, nullptr, 28},
    {0xA106, "AAC (0xA106)", AV_CODEC_ID_AAC, nullptr, kAlign, kBlocks, F::Other, nullptr, 20},
    {0xA109, "Speex", AV_CODEC_ID_SPEEX, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0xF1AC, "FLAC", AV_CODEC_ID_FLAC, nullptr, kNoAlign, kParsed, F::Other, nullptr, 18},
    {0x5346, "SWF ADPCM", AV_CODEC_ID_ADPCM_SWF, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
    {0x566F, "Vorbis", AV_CODEC_ID_VORBIS, nullptr, kAlign, kBlocks, F::Other, nullptr, 18},
};

}  // namespace

std::span<const TagFacts> AllTags() { return kTags; }

const TagFacts* FindTagFacts(WORD tag) {
    for (const TagFacts& facts : kTags)
        if (facts.tag == tag) return &facts;
    return nullptr;
}

bool CanDecode(const TagFacts& facts) {
    if (facts.IsLinear()) return true;
    // The codecs a decoder opens for without a strictness override (experimental
    // decoders refuse), from one walk over FFmpeg's codec list: a lookup per tag
    // would walk the whole list once for each of the fifty tags.
    static const std::unordered_set<int> usable = [] {
        std::unordered_set<int> ids;
        void* iterator = nullptr;
        while (const AVCodec* codec = av_codec_iterate(&iterator)) {
            if (av_codec_is_decoder(codec) != 0 && (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) == 0)
                ids.insert(codec->id);
        }
        return ids;
    }();
    return usable.count(facts.decoder) != 0;
}

bool CanEncode(const TagFacts& facts) {
    return facts.IsLinear() || (facts.encoder != nullptr && avcodec_find_encoder_by_name(facts.encoder) != nullptr);
}

}  // namespace acm
