// The codec service's catalogue, names, chooser and its refusal of broken blocks.
#include "acm/acmtest.h"
#include "platform/acm/catalogue.h"
#include "platform/acm/chooser.h"
#include "platform/acm/ffmpeg_ptr.h"
#include "platform/acm/tags.h"
#include "platform/endian.h"
#include "platform/window/window.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <set>

namespace {

using acmtest::Bytes;

Bytes Hex(const char* text) {
    Bytes out;
    for (const char* p = text; p[0] != '\0' && p[1] != '\0';) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return out;
}

const acm::CatalogueFormat* Offered(WORD tag, DWORD rate, WORD channels, DWORD avg = 0) {
    const acm::CatalogueTag* t = acm::FindTag(tag);
    if (t == nullptr) return nullptr;
    for (const acm::CatalogueFormat& f : t->formats) {
        const WAVEFORMATEX& h = f.Header();
        if (h.nSamplesPerSec == rate && h.nChannels == channels && (avg == 0 || h.nAvgBytesPerSec == avg)) return &f;
    }
    return nullptr;
}

MMRESULT Describe(const Bytes& block, std::string* name, DWORD cbwfx = 0) {
    ACMFORMATDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = acmtest::Wfx(block)->wFormatTag;
    details.pwfx = const_cast<WAVEFORMATEX*>(acmtest::Wfx(block));
    details.cbwfx = cbwfx != 0 ? cbwfx : static_cast<DWORD>(block.size());
    const MMRESULT r = acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT);
    if (r == 0 && name != nullptr) *name = details.szFormat;
    return r;
}

std::string TagName(DWORD tag, MMRESULT* result = nullptr) {
    ACMFORMATTAGDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = tag;
    const MMRESULT r = acmFormatTagDetailsA(nullptr, &details, ACM_FORMATTAGDETAILSF_FORMATTAG);
    if (result != nullptr) *result = r;
    return r == 0 ? details.szFormatTag : "";
}

TEST(Catalogue, TagsAndNamesFitTheirRecords) {
    std::set<WORD> seen;
    for (const acm::CatalogueTag& tag : acm::Catalogue()) {
        EXPECT_TRUE(seen.insert(tag.tag).second) << "tag listed twice: " << tag.tag;
        EXPECT_FALSE(tag.name.empty());
        EXPECT_LE(tag.name.size(), 47u) << tag.name;
        EXPECT_TRUE(!tag.encode || tag.decode) << tag.name << " writes what it cannot read";
        std::set<std::string> names;
        for (const acm::CatalogueFormat& f : tag.formats) {
            EXPECT_LE(f.name.size(), 127u) << f.name;
            EXPECT_TRUE(names.insert(f.name).second) << tag.name << ": two formats named " << f.name;
            EXPECT_EQ(f.block.size(), sizeof(WAVEFORMATEX) + f.Header().cbSize);
            EXPECT_LE(f.block.size(), tag.cbFormatSize);
        }
    }
    // The tags the chooser must offer, with the formats asked of each.
    const std::pair<WORD, std::size_t> wanted[] = {{WAVE_FORMAT_PCM, 416},      {WAVE_FORMAT_IEEE_FLOAT, 208},
                                                   {WAVE_FORMAT_ALAW, 14},     {WAVE_FORMAT_MULAW, 14},
                                                   {WAVE_FORMAT_IMA_ADPCM, 14}, {WAVE_FORMAT_ADPCM, 14},
                                                   {WAVE_FORMAT_GSM610, 1},    {WAVE_FORMAT_MPEGLAYER3, 72},
                                                   {WAVE_FORMAT_EXTENSIBLE, 144},
                                                   {0x0045, 4},                {0x028F, 1},
                                                   {0x0020, 14}};
    for (auto [tag, count] : wanted) {
        const acm::CatalogueTag* t = acm::FindTag(tag);
        ASSERT_NE(t, nullptr) << tag;
        EXPECT_TRUE(t->encode && t->decode) << t->name;
        EXPECT_EQ(t->formats.size(), count) << t->name;
    }
    // Formats FFmpeg only reads are still named.
    for (WORD tag : {0x0042, 0x0022, 0x0050, 0x0061}) {
        const acm::CatalogueTag* t = acm::FindTag(tag);
        ASSERT_NE(t, nullptr) << tag;
        EXPECT_TRUE(t->decode) << t->name;
        EXPECT_FALSE(t->encode) << t->name;
    }
}

TEST(Catalogue, LargestBlockIsTheMetric) {
    DWORD metric = 0;
    ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &metric), 0u);
    EXPECT_EQ(metric, 50u) << "MS ADPCM's block with its coefficient table is the largest";
    std::size_t largest = 0;
    for (const acm::CatalogueTag* t : acm::ChooserTags())
        for (const auto& f : t->formats) largest = std::max(largest, f.block.size());
    EXPECT_EQ(metric, largest);
    EXPECT_EQ(acmMetrics(nullptr, 49, &metric), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, nullptr), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmMetrics(reinterpret_cast<HACMOBJ>(1), ACM_METRIC_MAX_SIZE_FORMAT, &metric), MMSYSERR_INVALHANDLE);
}

// Blocks as interoperable files carry them (values from files written by sox and
// libsndfile, and the layouts documented for each format).
TEST(Catalogue, CompressedBlocksCarryTheClassicFields) {
    const acm::CatalogueFormat* ima8 = Offered(WAVE_FORMAT_IMA_ADPCM, 8000, 1);
    ASSERT_NE(ima8, nullptr);
    EXPECT_EQ(ima8->block, Hex("1100 0100 401f0000 d70f0000 0001 0400 0200 f901"));  // 256 / 505, 4055 B/s
    const acm::CatalogueFormat* ima44 = Offered(WAVE_FORMAT_IMA_ADPCM, 44100, 2);
    ASSERT_NE(ima44, nullptr);
    EXPECT_EQ(ima44->Header().nBlockAlign, 2048);
    EXPECT_EQ(endian::LoadLe16(ima44->block.data() + 18), 2041);

    const acm::CatalogueFormat* ms8 = Offered(WAVE_FORMAT_ADPCM, 8000, 1);
    ASSERT_NE(ms8, nullptr);
    EXPECT_EQ(ms8->block, Hex("0200 0100 401f0000 00100000 0001 0400 2000 f401 0700 0001 0000 0002 00ff 0000 0000 "
                              "c000 4000 f000 0000 cc01 30ff 8801 18ff"));
    const acm::CatalogueFormat* ms44 = Offered(WAVE_FORMAT_ADPCM, 44100, 2);
    ASSERT_NE(ms44, nullptr);
    EXPECT_EQ(ms44->Header().nBlockAlign, 2048);
    EXPECT_EQ(endian::LoadLe16(ms44->block.data() + 18), 2036);

    const acm::CatalogueFormat* gsm = Offered(WAVE_FORMAT_GSM610, 8000, 1);
    ASSERT_NE(gsm, nullptr);
    EXPECT_EQ(gsm->block, Hex("3100 0100 401f0000 59060000 4100 0000 0200 4001"));

    const acm::CatalogueFormat* mp3 = Offered(WAVE_FORMAT_MPEGLAYER3, 44100, 2, 16000);
    ASSERT_NE(mp3, nullptr);
    // wID 1, ISO padding, 417-byte frames, one frame a block, 1105 samples of delay.
    EXPECT_EQ(mp3->block, Hex("5500 0200 44ac0000 803e0000 0100 0000 0c00 0100 00000000 a101 0100 5104"));
    EXPECT_EQ(mp3->name, "44,100 Hz, 128 kbit/s, ステレオ");

    const acm::CatalogueFormat* surround = Offered(WAVE_FORMAT_EXTENSIBLE, 48000, 6);
    ASSERT_NE(surround, nullptr);
    EXPECT_EQ(surround->block, Hex("feff 0600 80bb0000 00ca0800 0c00 1000 1600 1000 3f000000 "
                                   "01000000 0000 1000 8000 00aa00389b71"));
    EXPECT_EQ(surround->name, "48,000 Hz, 16 ビット, 5.1 チャンネル");
}

// FFmpeg's own encoders, opened on each offered block, agree with its fields.
TEST(Catalogue, EncodersAgreeWithEveryOfferedBlock) {
    for (const acm::CatalogueTag* t : acm::ChooserTags()) {
        const char* name = acm::FindTagFacts(t->tag)->encoder;
        if (name == nullptr) continue;
        const AVCodec* codec = avcodec_find_encoder_by_name(name);
        ASSERT_NE(codec, nullptr) << name;
        for (const acm::CatalogueFormat& f : t->formats) {
            const WAVEFORMATEX& h = f.Header();
            acm::CodecContextPtr ctx(avcodec_alloc_context3(codec));
            ctx->sample_rate = static_cast<int>(h.nSamplesPerSec);
            av_channel_layout_default(&ctx->ch_layout, h.nChannels);
            ctx->sample_fmt = codec->sample_fmts[0];
            if (t->tag == WAVE_FORMAT_MPEGLAYER3) ctx->bit_rate = h.nAvgBytesPerSec * 8;
            if (t->tag == WAVE_FORMAT_IMA_ADPCM || t->tag == WAVE_FORMAT_ADPCM)
                av_opt_set_int(ctx->priv_data, "block_size", h.nBlockAlign, 0);
            ASSERT_EQ(avcodec_open2(ctx.get(), codec, nullptr), 0) << f.name;
            switch (t->tag) {
            case WAVE_FORMAT_IMA_ADPCM:
            case WAVE_FORMAT_GSM610:
                EXPECT_EQ(ctx->block_align, h.nBlockAlign) << f.name;
                EXPECT_EQ(ctx->frame_size, endian::LoadLe16(f.block.data() + 18)) << f.name;
                break;
            case WAVE_FORMAT_ADPCM:
                EXPECT_EQ(ctx->block_align, h.nBlockAlign) << f.name;
                ASSERT_EQ(ctx->extradata_size, 32) << f.name;
                EXPECT_EQ(0, std::memcmp(ctx->extradata, f.block.data() + 18, 32)) << f.name;
                break;
            case WAVE_FORMAT_MPEGLAYER3:
                EXPECT_EQ(ctx->initial_padding, acm::kMp3CodecDelay) << f.name;
                EXPECT_EQ(ctx->bit_rate, h.nAvgBytesPerSec * 8) << f.name;
                break;
            default:
                break;
            }
        }
    }
}

TEST(Details, TagNamesByTag) {
    EXPECT_EQ(TagName(WAVE_FORMAT_PCM), "PCM");
    EXPECT_EQ(TagName(WAVE_FORMAT_MPEGLAYER3), "MPEG Layer-3");
    EXPECT_EQ(TagName(0x0045), "G.726 ADPCM");
    MMRESULT r = 0;
    TagName(0x1234, &r);
    EXPECT_EQ(r, ACMERR_NOTPOSSIBLE);
    TagName(0, &r);
    EXPECT_EQ(r, ACMERR_NOTPOSSIBLE);
    TagName(0x10001, &r);
    EXPECT_EQ(r, ACMERR_NOTPOSSIBLE);

    ACMFORMATTAGDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = WAVE_FORMAT_ADPCM;
    ASSERT_EQ(acmFormatTagDetailsA(nullptr, &details, ACM_FORMATTAGDETAILSF_FORMATTAG), 0u);
    EXPECT_EQ(details.cbFormatSize, 50u);
    EXPECT_EQ(details.fdwSupport, ACMDRIVERDETAILS_SUPPORTF_CODEC);
    EXPECT_EQ(details.cStandardFormats, 14u);
    EXPECT_EQ(acmFormatTagDetailsA(nullptr, &details, 7), MMSYSERR_INVALFLAG);
    details.cbStruct = 12;
    EXPECT_EQ(acmFormatTagDetailsA(nullptr, &details, ACM_FORMATTAGDETAILSF_FORMATTAG), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmFormatTagDetailsA(nullptr, nullptr, ACM_FORMATTAGDETAILSF_FORMATTAG), MMSYSERR_INVALPARAM);
}

TEST(Details, AnyWellFormedBlockIsNamed) {
    std::string name;
    const Bytes surround = acmtest::BlockOf(testsupport::PcmFormat(44100, 24, 6));
    Bytes ext = surround;
    ext[0] = 0xFE, ext[1] = 0xFF;
    ext[16] = 22;
    ext.resize(18 + 22, 0);
    const Bytes tail = Hex("1800 3f000000 01000000 0000 1000 8000 00aa00389b71");
    std::memcpy(ext.data() + 18, tail.data(), tail.size());
    ASSERT_EQ(Describe(ext, &name), 0u);
    EXPECT_EQ(name, "44,100 Hz, 24 ビット, 5.1 チャンネル");
    ASSERT_EQ(Describe(surround, &name), 0u);
    EXPECT_EQ(name, "44,100 Hz, 24 ビット, 6 チャンネル");
    // Float sub-format, no channel mask.
    ext[24] = 3;
    std::memset(ext.data() + 20, 0, 4);
    ext[12] = 24;  // block alignment: 6 channels of 4 bytes
    ext[14] = 32, ext[18] = 32;
    ASSERT_EQ(Describe(ext, &name), 0u);
    EXPECT_EQ(name, "44,100 Hz, 32 ビット浮動小数点, 6 チャンネル");

    // The short PCM header of 16 bytes.
    Bytes shortPcm = acmtest::BlockOf(testsupport::PcmFormat(8000, 8, 1));
    ASSERT_EQ(Describe(shortPcm, &name, 16), 0u);
    EXPECT_EQ(name, "8,000 Hz, 8 ビット, モノラル");
    ASSERT_EQ(Describe(acmtest::BlockOf(testsupport::PcmFormat(192000, 16, 2)), &name), 0u);
    EXPECT_EQ(name, "192,000 Hz, 16 ビット, ステレオ");

    // Formats only read: G.726 at 32 kbit/s and G.723.1 as ffmpeg writes them.
    ASSERT_EQ(Describe(Hex("4500 0100 401f0000 a00f0000 0100 0400 0000"), &name), 0u);
    EXPECT_EQ(name, "8,000 Hz, 4 ビット, モノラル");
    ASSERT_EQ(Describe(Hex("4200 0100 401f0000 20030000 1800 0000 0a00 0200 ce9a 32f7 a2ae deac"), &name), 0u);
    EXPECT_EQ(name, "8,000 Hz, 6.4 kbit/s, モノラル");

    // The same names in English, for a program that asks for them.
    acm::SetNameWords(acm::Words::English);
    const std::pair<Bytes, const char*> english[] = {
        {ext, "44,100 Hz, 32 bits float, 6 channels"},
        {shortPcm, "8,000 Hz, 8 bits, mono"},
        {acmtest::BlockOf(testsupport::PcmFormat(192000, 16, 2)), "192,000 Hz, 16 bits, stereo"},
        {Hex("4200 0100 401f0000 20030000 1800 0000 0a00 0200 ce9a 32f7 a2ae deac"), "8,000 Hz, 6.4 kbit/s, mono"},
    };
    for (const auto& [block, expected] : english) {
        EXPECT_EQ(Describe(block, &name), 0u);
        EXPECT_EQ(name, expected);
    }
    acm::SetNameWords(acm::Words::Japanese);
}

// Plain PCM whose alignment holds no whole sample per channel is read by its
// channels and bits, as ffprobe reads it: named, and converted as the right
// block converts; but never written so.
TEST(Details, PlainPcmAlignmentSlipsAreReadByChannelsAndBits) {
    // channels, bits, alignment
    for (const auto [channels, bits, align] : {std::array<std::uint16_t, 3>{3, 24, 4}, {2, 16, 2}, {2, 16, 5}, {1, 16, 0},
                                               {1, 16, 5}, {2, 17, 4}}) {
        SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(bits) + " bits, " + std::to_string(align));
        const Bytes right = acmtest::BlockOf(testsupport::PcmFormat(48000, bits, channels));
        Bytes slipped = right, data(999u * acmtest::Wfx(right)->nBlockAlign);
        std::memcpy(slipped.data() + 12, &align, 2);
        std::string name, rightName;
        ASSERT_EQ(Describe(slipped, &name), 0u);
        ASSERT_EQ(Describe(right, &rightName), 0u);
        EXPECT_EQ(name, rightName);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 37);
        EXPECT_EQ(acmtest::ConvertLikeProgram(slipped, right, data).output, data);
        EXPECT_EQ(acmStreamOpen(nullptr, nullptr, acmtest::Wfx(right), acmtest::Wfx(slipped), nullptr, 0, 0,
                                ACM_STREAMOPENF_QUERY),
                  ACMERR_NOTPOSSIBLE);
    }
}

// Blocks that describe nothing playable, or claim more bytes than they have.
struct Hostile {
    const char* what;
    Bytes block;
    DWORD cbwfx;  // 0: the block's size
    MMRESULT details;
};

std::vector<Hostile> HostileBlocks() {
    auto pcm = [](std::uint32_t rate, std::uint16_t bits, std::uint16_t ch) {
        return acmtest::BlockOf(testsupport::PcmFormat(rate, bits, ch));
    };
    auto with = [](Bytes b, std::size_t at, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        return b;
    };
    const Bytes ok = pcm(44100, 16, 2);
    const Bytes ima = acm::FindTag(WAVE_FORMAT_IMA_ADPCM)->formats[0].block;
    const Bytes ext = acm::FindTag(WAVE_FORMAT_EXTENSIBLE)->formats[0].block;
    return {
        {"zero channels", with(ok, 2, 0, 2), 0, ACMERR_NOTPOSSIBLE},
        {"zero rate", with(ok, 4, 0, 4), 0, ACMERR_NOTPOSSIBLE},
        // Only plain PCM is read by its bits where its alignment is a slip.
        {"zero block alignment", with(ext, 12, 0, 2), 0, ACMERR_NOTPOSSIBLE},
        {"zero bits", with(ok, 14, 0, 2), 0, ACMERR_NOTPOSSIBLE},
        {"alignment not a whole sample per channel", with(ext, 12, 5, 2), 0, ACMERR_NOTPOSSIBLE},
        {"bits beyond the container", with(ext, 14, 40, 2), 0, ACMERR_NOTPOSSIBLE},
        {"float bits beyond the container", with(with(ok, 0, 3, 2), 14, 64, 2), 0, ACMERR_NOTPOSSIBLE},
        {"absurd rate", with(ok, 4, 0xFFFFFFFF, 4), 0, ACMERR_NOTPOSSIBLE},
        {"absurd channel count", with(with(ok, 2, 65535, 2), 12, 65535 * 2 % 65536, 2), 0, ACMERR_NOTPOSSIBLE},
        {"extra size beyond the block", with(ok, 16, 0xFFFF, 2), 0, MMSYSERR_INVALPARAM},
        {"extra size one beyond", with(ima, 16, 3, 2), 20, MMSYSERR_INVALPARAM},
        {"block shorter than its header", ima, 17, MMSYSERR_INVALPARAM},
        {"24-bit float", with(with(pcm(44100, 24, 2), 0, 3, 2), 14, 24, 2), 0, ACMERR_NOTPOSSIBLE},
        {"IMA ADPCM without alignment", with(ima, 12, 0, 2), 0, ACMERR_NOTPOSSIBLE},
        {"extensible too short", with(ext, 16, 10, 2), 0, ACMERR_NOTPOSSIBLE},
        {"extensible foreign GUID", with(ext, 30, 0x1234, 2), 0, ACMERR_NOTPOSSIBLE},
        {"extensible inside extensible", with(ext, 24, 0xFFFE, 2), 0, ACMERR_NOTPOSSIBLE},
        {"unknown tag", with(ok, 0, 0x7777, 2), 0, ACMERR_NOTPOSSIBLE},
        {"tag zero", with(ok, 0, 0, 2), 0, ACMERR_NOTPOSSIBLE},
    };
}

TEST(Hostile, BlocksAreRefusedEverywhere) {
    const Bytes pcm = acmtest::BlockOf(testsupport::PcmFormat(44100, 16, 2));
    for (const Hostile& h : HostileBlocks()) {
        SCOPED_TRACE(h.what);
        EXPECT_EQ(Describe(h.block, nullptr, h.cbwfx), h.details);
        // A stream reads 18 + cbSize bytes, so only blocks that hold their extra bytes go there.
        if (h.cbwfx != 0 || h.details == MMSYSERR_INVALPARAM) continue;
        HACMSTREAM has = reinterpret_cast<HACMSTREAM>(1);
        MMRESULT r = acmStreamOpen(&has, nullptr, acmtest::Wfx(h.block), acmtest::Wfx(pcm), nullptr, 0, 0,
                                   ACM_STREAMOPENF_NONREALTIME);
        EXPECT_EQ(r, ACMERR_NOTPOSSIBLE);
        EXPECT_EQ(has, nullptr);
        r = acmStreamOpen(&has, nullptr, acmtest::Wfx(pcm), acmtest::Wfx(h.block), nullptr, 0, 0,
                          ACM_STREAMOPENF_NONREALTIME);
        EXPECT_EQ(r, ACMERR_NOTPOSSIBLE);
    }
}

// Random blocks, well-formed or not, through every call that reads one: only the
// listed codes come back, and a stream that opens converts random bytes.
TEST(Hostile, RandomBlocksGiveOnlyResultCodes) {
    std::mt19937 rng(7);
    const Bytes pcm = acmtest::BlockOf(testsupport::PcmFormat(22050, 16, 1));
    std::vector<WORD> tags;
    for (const acm::CatalogueTag& t : acm::Catalogue()) tags.push_back(t.tag);
    const std::set<MMRESULT> allowed = {0, MMSYSERR_INVALPARAM, ACMERR_NOTPOSSIBLE, MMSYSERR_NOMEM};
    int opened = 0;
    for (int i = 0; i < 600; ++i) {
        Bytes block(18 + 64);
        for (auto& b : block) b = static_cast<std::uint8_t>(rng());
        const WORD tag = tags[rng() % tags.size()];
        std::memcpy(block.data(), &tag, 2);
        // Mostly plausible fields so decoders get exercised, sometimes absurd ones.
        if (rng() % 4 != 0) {
            const WORD channels = static_cast<WORD>(1 + rng() % 3);
            const DWORD rate = 8000u * (1 + rng() % 6);
            const WORD cbSize = static_cast<WORD>(rng() % 65);
            std::memcpy(block.data() + 2, &channels, 2);
            std::memcpy(block.data() + 4, &rate, 4);
            std::memcpy(block.data() + 16, &cbSize, 2);
            const WORD align = static_cast<WORD>(rng() % 2 ? channels * 2 : 1 + rng() % 2048);
            std::memcpy(block.data() + 12, &align, 2);
        }
        const WORD cbSize = acmtest::Wfx(block)->cbSize;
        EXPECT_TRUE(allowed.count(Describe(block, nullptr)) == 1);
        if (cbSize > 64) continue;
        HACMSTREAM has = nullptr;
        const MMRESULT r = acmStreamOpen(&has, nullptr, acmtest::Wfx(block), acmtest::Wfx(pcm), nullptr, 0, 0,
                                         ACM_STREAMOPENF_NONREALTIME);
        ASSERT_TRUE(allowed.count(r) == 1) << r;
        if (r != 0) continue;
        ++opened;
        Bytes data(3000);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        DWORD srcBytes = 0;
        EXPECT_EQ(acmStreamSize(has, 4096, &srcBytes, ACM_STREAMSIZEF_DESTINATION), 0u);
        EXPECT_GT(srcBytes, 0u);
        Bytes dst(4096);
        ACMSTREAMHEADER header = acmtest::HeaderFor(data, dst);
        ASSERT_EQ(acmStreamPrepareHeader(has, &header, 0), 0u);
        EXPECT_TRUE(allowed.count(acmStreamConvert(has, &header, 0)) == 1);
        header.cbSrcLength = 0;
        for (int pass = 0; pass < 64; ++pass) {
            const MMRESULT c = acmStreamConvert(has, &header, ACM_STREAMCONVERTF_END);
            EXPECT_TRUE(allowed.count(c) == 1);
            if (c != 0 || header.cbDstLengthUsed == 0) break;
            EXPECT_LE(header.cbDstLengthUsed, dst.size());
        }
        EXPECT_EQ(acmStreamUnprepareHeader(has, &header, 0), 0u);
        EXPECT_EQ(acmStreamClose(has, 0), 0u);
    }
    EXPECT_GT(opened, 20) << "too few random blocks opened to exercise the decoders";
}

// A window backend that shows no window: it keeps the chooser's model and gives a
// set answer.
class ChooserStub final : public WindowBackend {
public:
    std::optional<FormatChoice> answer;
    FormatChooserModel model;
    int calls = 0;
    INT_PTR RunDialog(const DialogTemplate&, DLGPROC, LPARAM) override { return -1; }
    HWND ControlHandle(HWND, int) override { return nullptr; }
    std::string ControlText(HWND) override { return {}; }
    bool SetControlText(HWND, std::string_view) override { return false; }
    HWND SetFocus(HWND) override { return nullptr; }
    void EndDialog(HWND, INT_PTR) override {}
    void MessageBox(HWND, std::string_view, std::string_view, UINT) override {}
    std::optional<std::string> PickFile(const FilePickerRequest&) override { return std::nullopt; }
    std::optional<FormatChoice> ChooseFormat(HWND, const FormatChooserModel& m) override {
        ++calls;
        model = m;
        return answer;
    }
};

class Chooser : public testing::Test {
protected:
    void SetUp() override { SetWindowBackend(&stub); }
    void TearDown() override { SetWindowBackend(nullptr); }
    MMRESULT Choose(DWORD cbwfx, DWORD style = 0) {
        std::memset(&record, 0, sizeof record);
        record.cbStruct = sizeof record;
        record.fdwStyle = style;
        record.pwfx = reinterpret_cast<WAVEFORMATEX*>(buffer.data());
        record.cbwfx = cbwfx;
        return acmFormatChooseA(&record);
    }
    ChooserStub stub;
    ACMFORMATCHOOSEA record{};
    Bytes buffer = Bytes(64, 0xAB);
};

TEST_F(Chooser, ModelListsTheCatalogueAndStartsOnCdQuality) {
    stub.answer = std::nullopt;
    EXPECT_EQ(Choose(50), ACMERR_CANCELED);
    EXPECT_EQ(buffer, Bytes(64, 0xAB)) << "a cancelled chooser wrote the block";
    const auto tags = acm::ChooserTags();
    ASSERT_EQ(stub.model.tags.size(), tags.size());
    for (std::size_t t = 0; t < tags.size(); ++t) {
        EXPECT_EQ(stub.model.tags[t].name, tags[t]->name);
        ASSERT_EQ(stub.model.tags[t].formats.size(), tags[t]->formats.size());
        for (std::size_t f = 0; f < tags[t]->formats.size(); ++f) {
            EXPECT_EQ(stub.model.tags[t].formats[f].name, tags[t]->formats[f].name);
            EXPECT_EQ(stub.model.tags[t].formats[f].avgBytesPerSec, tags[t]->formats[f].Header().nAvgBytesPerSec);
        }
    }
    const auto& start = stub.model.tags[stub.model.defaultTag];
    EXPECT_EQ(start.name, "PCM");
    EXPECT_EQ(start.formats[stub.model.defaultFormat].name, "44,100 Hz, 16 ビット, ステレオ");
}

TEST_F(Chooser, AnswerFillsTheBlockAndNames) {
    const auto tags = acm::ChooserTags();
    int msTag = -1;
    for (std::size_t t = 0; t < tags.size(); ++t)
        if (tags[t]->tag == WAVE_FORMAT_ADPCM) msTag = static_cast<int>(t);
    ASSERT_GE(msTag, 0);
    stub.answer = FormatChoice{msTag, 3};
    const Bytes& expected = tags[msTag]->formats[3].block;

    EXPECT_EQ(Choose(49), ACMERR_NOTPOSSIBLE) << "a 50-byte block does not fit 49 bytes";
    EXPECT_EQ(buffer, Bytes(64, 0xAB));
    ASSERT_EQ(Choose(50), 0u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 50), expected);
    EXPECT_EQ(buffer[50], 0xAB);
    EXPECT_EQ(std::string(record.szFormatTag), "MS ADPCM");
    EXPECT_EQ(std::string(record.szFormat), tags[msTag]->formats[3].name);

    // Opened again on the block it gave, it starts there.
    constexpr DWORD kInitToWfxStruct = 0x40;
    stub.answer = std::nullopt;
    EXPECT_EQ(Choose(50, kInitToWfxStruct), ACMERR_CANCELED);
    EXPECT_EQ(stub.model.defaultTag, msTag);
    EXPECT_EQ(stub.model.defaultFormat, 3);

    stub.answer = FormatChoice{msTag, 999};
    EXPECT_EQ(Choose(50), ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acmFormatChooseA(nullptr), MMSYSERR_INVALPARAM);
}

}  // namespace
