// Conversion streams: state kept across passes, the size query, draining,
// handles, and the sample arithmetic (clipping, mixing, dither).
#include "acm/acmtest.h"
#include "platform/acm/catalogue.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>

namespace {

using acmtest::Bytes;
using acmtest::ConvertInPieces;
using acmtest::ConvertLikeProgram;

Bytes Pcm(std::uint32_t rate, std::uint16_t bits, std::uint16_t ch) {
    return acmtest::BlockOf(testsupport::PcmFormat(rate, bits, ch));
}
Bytes Float(std::uint32_t rate, std::uint16_t bits, std::uint16_t ch) {
    return acmtest::BlockOf(testsupport::FloatFormat(rate, bits, ch));
}

const Bytes& OfferedBlock(WORD tag, DWORD rate, WORD channels, DWORD avg = 0) {
    for (const acm::CatalogueFormat& f : acm::FindTag(tag)->formats) {
        const WAVEFORMATEX& h = f.Header();
        if (h.nSamplesPerSec == rate && h.nChannels == channels && (avg == 0 || h.nAvgBytesPerSec == avg))
            return f.block;
    }
    throw std::runtime_error("no such offered format");
}

Bytes Signal(const Bytes& block, std::uint32_t frames) {
    return testsupport::TestSignalBytes(*acmtest::Wfx(block), frames);
}

template <typename T>
Bytes AsBytes(const std::vector<T>& values) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(values.data());
    return Bytes(p, p + values.size() * sizeof(T));
}
template <typename T>
std::vector<T> Values(const Bytes& bytes) {
    std::vector<T> out(bytes.size() / sizeof(T));
    std::memcpy(out.data(), bytes.data(), out.size() * sizeof(T));
    return out;
}

using acmtest::HeaderFor;

TEST(Stream, SameFormatIsACopyWhateverThePieces) {
    const Bytes format = Pcm(48000, 24, 2);
    const Bytes data = Signal(format, 20000);
    const auto whole = ConvertLikeProgram(format, format, data);
    ASSERT_EQ(whole.result, 0u);
    EXPECT_EQ(whole.output, data);
    EXPECT_EQ(whole.sourceChunk, whole.destinationChunk) << "a copy needs as many source bytes as it writes";
    // Pieces that split frames, into a destination smaller than one piece.
    const auto pieces = ConvertInPieces(format, format, data, 1001, 777);
    ASSERT_EQ(pieces.result, 0u);
    EXPECT_EQ(pieces.output, data);
}

// One buffer as both source and destination gives what two buffers give, also
// in passes that cut frames: the carried partial frame and a widening
// conversion's output must not land on source bytes not read yet.
TEST(Stream, SourceAndDestinationMayShareOneBuffer) {
    for (const auto& [from, to] : {std::pair{Pcm(44100, 16, 2), Pcm(44100, 16, 2)}, {Pcm(8000, 16, 1), Pcm(8000, 24, 2)},
                                   {Pcm(48000, 24, 2), Pcm(44100, 16, 2)}}) {
        const Bytes data = Signal(from, 30000);
        const auto apart = ConvertLikeProgram(from, to, data);
        HACMSTREAM has = nullptr;
        ASSERT_EQ(acmStreamOpen(&has, nullptr, acmtest::Wfx(from), acmtest::Wfx(to), nullptr, 0, 0, 0), 0u);
        Bytes buffer(4 * apart.destinationChunk), shared;
        ACMSTREAMHEADER ash{sizeof ash, 0, 0, buffer.data(), apart.sourceChunk, 0, 0, buffer.data(), 4 * apart.destinationChunk};
        ASSERT_EQ(acmStreamPrepareHeader(has, &ash, 0), 0u);
        for (std::size_t at = 0;; at += ash.cbSrcLength) {
            ash.cbSrcLength = static_cast<DWORD>(std::min<std::size_t>(apart.sourceChunk - 1, data.size() - at));
            std::memcpy(buffer.data(), data.data() + at, ash.cbSrcLength);
            ASSERT_EQ(acmStreamConvert(has, &ash, ash.cbSrcLength == 0 ? ACM_STREAMCONVERTF_END : 0), 0u);
            shared.insert(shared.end(), buffer.begin(), buffer.begin() + ash.cbDstLengthUsed);
            if (ash.cbSrcLength == 0 && ash.cbDstLengthUsed == 0) break;
        }
        EXPECT_EQ(shared, apart.output) << acmtest::Wfx(from)->nSamplesPerSec << " -> " << acmtest::Wfx(to)->nSamplesPerSec;
        acmStreamUnprepareHeader(has, &ash, 0);
        acmStreamClose(has, 0);
    }
}

// Pieces that cut frames leave the rest of a pass starting at an odd address;
// float and wide integer samples must still be read correctly (and, under the
// sanitizers, without a misaligned load).
TEST(Stream, SourcePiecesThatCutFramesAreReadAligned) {
    for (const Bytes& from : {Float(44100, 32, 2), Float(44100, 64, 1), Pcm(44100, 32, 2)}) {
        // Same rate and channels, fewer bits: the path that looks at every sample.
        const Bytes to = Pcm(44100, 16, acmtest::Wfx(from)->nChannels);
        const Bytes data = Signal(from, 20000);
        const auto whole = ConvertInPieces(from, to, data, data.size(), 1 << 24);
        ASSERT_EQ(whole.result, 0u);
        const auto pieces = ConvertInPieces(from, to, data, 1001, 4096);
        ASSERT_EQ(pieces.result, 0u);
        EXPECT_EQ(pieces.output, whole.output);
    }
}

// How the source is cut into passes, and how small the destination is, never
// changes what comes out: partial blocks, partial frames and surplus output are
// all carried to the next pass.
TEST(Stream, OutputDoesNotDependOnThePasses) {
    const Bytes pcm44 = Pcm(44100, 16, 2);
    const Bytes data = Signal(pcm44, 30000);
    struct Case {
        const char* what;
        Bytes from, to;
    };
    const Case cases[] = {
        {"resample and narrow", Pcm(44100, 16, 2), Pcm(22050, 8, 1)},
        {"resample up to float", Pcm(44100, 16, 2), Float(96000, 32, 2)},
        {"IMA ADPCM encode", Pcm(44100, 16, 2), OfferedBlock(WAVE_FORMAT_IMA_ADPCM, 22050, 2)},
        {"MS ADPCM encode", Pcm(44100, 16, 2), OfferedBlock(WAVE_FORMAT_ADPCM, 44100, 1)},
        {"MP3 encode", Pcm(44100, 16, 2), OfferedBlock(WAVE_FORMAT_MPEGLAYER3, 44100, 2, 16000)},
        {"GSM encode", Pcm(44100, 16, 2), OfferedBlock(WAVE_FORMAT_GSM610, 8000, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto reference = ConvertInPieces(c.from, c.to, data, data.size(), 1 << 24);
        ASSERT_EQ(reference.result, 0u);
        ASSERT_FALSE(reference.output.empty());
        const auto pieces = ConvertInPieces(c.from, c.to, data, 998, 301);
        ASSERT_EQ(pieces.result, 0u);
        EXPECT_EQ(pieces.output, reference.output);
        // And the encoded stream read back in pieces that cut its blocks.
        const auto back = ConvertInPieces(c.to, pcm44, reference.output, reference.output.size(), 1 << 24);
        ASSERT_EQ(back.result, 0u);
        const auto backPieces = ConvertInPieces(c.to, pcm44, reference.output, 333, 1000);
        ASSERT_EQ(backPieces.result, 0u);
        EXPECT_EQ(backPieces.output, back.output);
    }
}

TEST(Stream, DrainingEndsAndStays) {
    const Bytes pcm = Pcm(44100, 16, 2);
    const Bytes mp3 = OfferedBlock(WAVE_FORMAT_MPEGLAYER3, 44100, 2, 16000);
    HACMSTREAM has = nullptr;
    ASSERT_EQ(acmStreamOpen(&has, nullptr, acmtest::Wfx(pcm), acmtest::Wfx(mp3), nullptr, 0, 0, 4), 0u);
    Bytes src = Signal(pcm, 5000), dst(100000);
    ACMSTREAMHEADER h = HeaderFor(src, dst);
    ASSERT_EQ(acmStreamPrepareHeader(has, &h, 0), 0u);
    ASSERT_EQ(acmStreamConvert(has, &h, 0), 0u);
    EXPECT_EQ(h.cbSrcLengthUsed, src.size());
    h.cbSrcLength = 0;
    ASSERT_EQ(acmStreamConvert(has, &h, ACM_STREAMCONVERTF_END), 0u);
    EXPECT_GT(h.cbDstLengthUsed, 0u) << "the encoder's held-back frames come out at the end";
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(acmStreamConvert(has, &h, ACM_STREAMCONVERTF_END), 0u);
        EXPECT_EQ(h.cbDstLengthUsed, 0u);
    }
    h.cbSrcLength = 100;
    EXPECT_EQ(acmStreamConvert(has, &h, 0), ACMERR_NOTPOSSIBLE) << "source after the end";
    EXPECT_EQ(acmStreamUnprepareHeader(has, &h, 0), 0u);
    EXPECT_EQ(acmStreamClose(has, 0), 0u);
}

// Blocks the decoder cannot read are skipped and counted; a clean source counts none.
TEST(Stream, CountsTheDamagedBlocksItSkips) {
    const Bytes pcm = Pcm(8000, 16, 1);
    const Bytes ima = OfferedBlock(WAVE_FORMAT_IMA_ADPCM, 8000, 1);
    const Bytes clean = ConvertInPieces(pcm, ima, Signal(pcm, 8 * 505), 1 << 20, 1 << 24).output;
    ASSERT_EQ(clean.size(), 8u * 256);
    Bytes damaged = clean;
    damaged[256 + 2] = damaged[3 * 256 + 2] = 200;  // step indexes beyond the table's 89 steps
    for (const auto& [data, count] : {std::pair{clean, 0u}, std::pair{damaged, 2u}}) {
        HACMSTREAM has = nullptr;
        ASSERT_EQ(acmStreamOpen(&has, nullptr, acmtest::Wfx(ima), acmtest::Wfx(pcm), nullptr, 0, 0, 4), 0u);
        Bytes src = data, dst(1 << 16);
        ACMSTREAMHEADER h = HeaderFor(src, dst);
        ASSERT_EQ(acmStreamPrepareHeader(has, &h, 0), 0u);
        ASSERT_EQ(acmStreamConvert(has, &h, ACM_STREAMCONVERTF_END), 0u);
        DWORD damagedBlocks = 99;
        EXPECT_EQ(acmStreamDamagedBlocks(has, &damagedBlocks), 0u);
        EXPECT_EQ(damagedBlocks, count);
        acmStreamUnprepareHeader(has, &h, 0);
        acmStreamClose(has, 0);
        EXPECT_EQ(acmStreamDamagedBlocks(has, &damagedBlocks), MMSYSERR_INVALHANDLE);
    }
}

TEST(Stream, SizeQueryGivesWholeBlocksThatFit) {
    const Bytes pcm = Pcm(44100, 16, 2);
    const Bytes ima = OfferedBlock(WAVE_FORMAT_IMA_ADPCM, 44100, 2);
    struct Case {
        Bytes from, to;
        DWORD destination;
    };
    const Case cases[] = {
        {pcm, ima, 2048 * 32},                                   // 32 blocks of 2041 frames
        {ima, pcm, 4 * 4096},                                    // whole ADPCM blocks in
        {pcm, Pcm(8000, 8, 1), 4096},                            // resampled and narrowed
        {pcm, OfferedBlock(WAVE_FORMAT_GSM610, 8000, 1), 65 * 32},
        {pcm, Pcm(44100, 16, 2), 10},                            // less than... still whole frames
    };
    for (const Case& c : cases) {
        HACMSTREAM has = nullptr;
        ASSERT_EQ(acmStreamOpen(&has, nullptr, acmtest::Wfx(c.from), acmtest::Wfx(c.to), nullptr, 0, 0, 4), 0u);
        DWORD source = 0;
        ASSERT_EQ(acmStreamSize(has, c.destination, &source, ACM_STREAMSIZEF_DESTINATION), 0u);
        const WORD align = acmtest::Wfx(c.from)->nBlockAlign;
        EXPECT_GE(source, align);
        EXPECT_EQ(source % align, 0u);
        // One fresh pass of that many source bytes fits, with nothing left over.
        Bytes src = Signal(pcm, source / 4 + 1);
        if (acmtest::Wfx(c.from)->wFormatTag != WAVE_FORMAT_PCM) {
            src = ConvertInPieces(pcm, c.from, Signal(pcm, 200000), 1 << 20, 1 << 24).output;
        }
        src.resize(source);
        Bytes dst(c.destination + 64, 0);
        ACMSTREAMHEADER h{};
        h.cbStruct = sizeof h;
        h.pbSrc = src.data();
        h.cbSrcLength = source;
        h.pbDst = dst.data();
        h.cbDstLength = c.destination;
        ASSERT_EQ(acmStreamPrepareHeader(has, &h, 0), 0u);
        ASSERT_EQ(acmStreamConvert(has, &h, 0), 0u);
        EXPECT_LE(h.cbDstLengthUsed, c.destination);
        DWORD bound = 0;
        ASSERT_EQ(acmStreamSize(has, source, &bound, ACM_STREAMSIZEF_SOURCE), 0u);
        EXPECT_LE(h.cbDstLengthUsed, bound) << "by source is an upper bound";
        h.cbSrcLength = 0;
        ASSERT_EQ(acmStreamConvert(has, &h, 0), 0u);
        EXPECT_EQ(h.cbDstLengthUsed, 0u) << "output was held over although the size query said it fits";
        acmStreamUnprepareHeader(has, &h, 0);
        acmStreamClose(has, 0);
    }
}

// A resampler releases what it buffers in bursts; the surplus waits but does not
// grow with the length of the file.
TEST(Stream, SurplusStaysBounded) {
    const Bytes pcm = Pcm(44100, 16, 2), hi = Pcm(192000, 24, 2);
    const auto shorter = ConvertLikeProgram(pcm, hi, Signal(pcm, 44100));
    const auto longer = ConvertLikeProgram(pcm, hi, Signal(pcm, 4 * 44100));
    ASSERT_EQ(shorter.result, 0u);
    ASSERT_EQ(longer.result, 0u);
    EXPECT_EQ(longer.output.size(), 4 * shorter.output.size());
    EXPECT_LE(longer.endBytes, shorter.endBytes + 4096) << "held-over output grows with the input";
}

TEST(Stream, BadHandlesHeadersAndFlags) {
    const Bytes pcm = Pcm(44100, 16, 2);
    HACMSTREAM a = nullptr, b = nullptr;
    ASSERT_EQ(acmStreamOpen(&a, nullptr, acmtest::Wfx(pcm), acmtest::Wfx(pcm), nullptr, 0, 0, 4), 0u);
    ASSERT_EQ(acmStreamOpen(&b, nullptr, acmtest::Wfx(pcm), acmtest::Wfx(pcm), nullptr, 0, 0, 0), 0u);
    Bytes src(400), dst(400);
    ACMSTREAMHEADER h{};
    h.cbStruct = sizeof h;
    h.pbSrc = src.data();
    h.cbSrcLength = 400;
    h.pbDst = dst.data();
    h.cbDstLength = 400;
    DWORD n = 0;
    EXPECT_EQ(acmStreamConvert(a, &h, 0), MMSYSERR_INVALPARAM) << "unprepared";
    ASSERT_EQ(acmStreamPrepareHeader(a, &h, 0), 0u);
    EXPECT_EQ(acmStreamPrepareHeader(a, &h, 0), MMSYSERR_INVALPARAM) << "prepared twice";
    EXPECT_EQ(acmStreamConvert(b, &h, 0), MMSYSERR_INVALPARAM) << "prepared for another stream";
    EXPECT_EQ(acmStreamConvert(a, &h, 0x100), MMSYSERR_INVALFLAG);
    h.cbSrcLength = 401;
    EXPECT_EQ(acmStreamConvert(a, &h, 0), MMSYSERR_INVALPARAM) << "longer than prepared";
    h.cbSrcLength = 400;
    EXPECT_EQ(acmStreamConvert(a, &h, 0), 0u);
    EXPECT_EQ(acmStreamSize(a, 100, &n, 7), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamSize(a, 100, nullptr, 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamClose(a, 1), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamUnprepareHeader(a, &h, 0), 0u);
    EXPECT_EQ(acmStreamClose(a, 0), 0u);

    // Closed, never opened, and null handles.
    for (HACMSTREAM bad : {a, static_cast<HACMSTREAM>(nullptr), reinterpret_cast<HACMSTREAM>(&h)}) {
        EXPECT_EQ(acmStreamSize(bad, 100, &n, 1), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(acmStreamPrepareHeader(bad, &h, 0), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(acmStreamConvert(bad, &h, 0), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(acmStreamUnprepareHeader(bad, &h, 0), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(acmStreamClose(bad, 0), MMSYSERR_INVALHANDLE);
    }
    EXPECT_EQ(acmStreamClose(b, 0), 0u);

    // Opening: flags, filters, queries, null blocks.
    HACMSTREAM c = nullptr;
    EXPECT_EQ(acmStreamOpen(&c, nullptr, acmtest::Wfx(pcm), acmtest::Wfx(pcm), nullptr, 0, 0, 0x2), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamOpen(&c, nullptr, nullptr, acmtest::Wfx(pcm), nullptr, 0, 0, 4), MMSYSERR_INVALPARAM);
    EXPECT_EQ(acmStreamOpen(&c, reinterpret_cast<HACMDRIVER>(1), acmtest::Wfx(pcm), acmtest::Wfx(pcm), nullptr, 0, 0, 4),
              MMSYSERR_INVALHANDLE);
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, acmtest::Wfx(pcm), acmtest::Wfx(pcm), nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
              0u);
    // 32 kbit/s G.726 in 2-byte blocks: read, but not laid out as the encoder writes it.
    const Bytes g726 = {0x45, 0, 1, 0, 0x40, 0x1f, 0, 0, 0xa0, 0x0f, 0, 0, 2, 0, 4, 0, 0, 0};
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, acmtest::Wfx(pcm), acmtest::Wfx(g726), nullptr, 0, 0,
                            ACM_STREAMOPENF_QUERY),
              ACMERR_NOTPOSSIBLE)
        << "G.726 in blocks its encoder does not write";
    EXPECT_EQ(acmStreamOpen(nullptr, nullptr, acmtest::Wfx(g726), acmtest::Wfx(pcm), nullptr, 0, 0,
                            ACM_STREAMOPENF_QUERY),
              0u);
}

TEST(Stream, RefusesBlocksItsEncodersCannotWrite) {
    const Bytes pcm = Pcm(44100, 16, 2);
    auto refused = [&](Bytes block, std::size_t at, std::uint16_t value) {
        std::memcpy(block.data() + at, &value, 2);
        return acmStreamOpen(nullptr, nullptr, acmtest::Wfx(pcm), acmtest::Wfx(block), nullptr, 0, 0,
                             ACM_STREAMOPENF_QUERY) == ACMERR_NOTPOSSIBLE;
    };
    const Bytes ima = OfferedBlock(WAVE_FORMAT_IMA_ADPCM, 8000, 1);
    const Bytes ms = OfferedBlock(WAVE_FORMAT_ADPCM, 8000, 1);
    const Bytes gsm = OfferedBlock(WAVE_FORMAT_GSM610, 8000, 1);
    EXPECT_TRUE(refused(ima, 18, 500)) << "samples per block disagree with the block size";
    EXPECT_TRUE(refused(ima, 12, 300)) << "block size the encoder cannot make";
    EXPECT_TRUE(refused(ms, 22, 300)) << "foreign coefficient table";
    EXPECT_TRUE(refused(gsm, 2, 2)) << "stereo GSM";
    EXPECT_TRUE(refused(OfferedBlock(WAVE_FORMAT_MPEGLAYER3, 8000, 1, 1000), 4, 7000)) << "rate MP3 lacks";
    // A valid block other than the offered one is written as described.
    Bytes ima512 = ima;
    const std::uint16_t align = 512, spb = 1017;
    std::memcpy(ima512.data() + 12, &align, 2);
    std::memcpy(ima512.data() + 18, &spb, 2);
    const auto c = ConvertLikeProgram(pcm, ima512, Signal(pcm, 10000));
    ASSERT_EQ(c.result, 0u);
    EXPECT_EQ(c.output.size() % 512, 0u);
    EXPECT_EQ(c.output.size(), (10000 * 8000 / 44100 + 1016) / 1017 * 512);
}

// Float beyond full scale clips, never wraps; mixing never overflows.
TEST(Stream, SampleArithmetic) {
    std::vector<float> f = {1.5f, -1.5f, 0.5f, -0.5f, 1.0f, -1.0f};
    const Bytes fb = AsBytes(f);
    auto c = ConvertLikeProgram(Float(44100, 32, 2), Pcm(44100, 16, 2), fb);
    ASSERT_EQ(c.result, 0u);
    EXPECT_EQ(acmtest::Samples16(c.output), (std::vector<std::int16_t>{32767, -32768, 16384, -16384, 32767, -32768}));
    EXPECT_EQ(c.clipped, 3u) << "1.5, -1.5 and 1.0 lie beyond 16 bits; -1.0 does not";
    c = ConvertLikeProgram(Float(44100, 32, 2), Pcm(44100, 24, 2), fb);
    ASSERT_EQ(c.result, 0u);
    ASSERT_EQ(c.output.size(), 18u);
    EXPECT_EQ(Bytes(c.output.begin(), c.output.begin() + 6), (Bytes{0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80}));

    // Stereo to mono averages; mono to stereo copies.
    const std::vector<std::int16_t> stereo = {32767, 32767, -32768, -32768, 10000, -10000, 20000, 0};
    c = ConvertLikeProgram(Pcm(44100, 16, 2), Pcm(44100, 16, 1), acmtest::Bytes16(stereo));
    ASSERT_EQ(c.result, 0u);
    EXPECT_EQ(acmtest::Samples16(c.output), (std::vector<std::int16_t>{32767, -32768, 0, 10000}));
    c = ConvertLikeProgram(Pcm(44100, 16, 1), Pcm(44100, 16, 2), acmtest::Bytes16({32767, -5}));
    ASSERT_EQ(c.result, 0u);
    EXPECT_EQ(acmtest::Samples16(c.output), (std::vector<std::int16_t>{32767, 32767, -5, -5}));
    // Nine channels name no speakers: mono is their average.
    std::vector<std::int16_t> nine(18, -900);
    nine[0] = 9000;
    std::fill(nine.begin() + 1, nine.begin() + 9, 0);
    c = ConvertLikeProgram(Pcm(44100, 16, 9), Pcm(44100, 16, 1), acmtest::Bytes16(nine));
    ASSERT_EQ(c.result, 0u);
    EXPECT_EQ(acmtest::Samples16(c.output), (std::vector<std::int16_t>{1000, -900}));
}

// Float sources may hold values that are not numbers or far beyond full scale
// (huge ones would overflow an integer conversion):
// they become silence or full scale, also on the way into an encoder (the MP3
// encoder aborts the process on such input) and through the resampler.
TEST(Stream, FloatsThatAreNotNumbersOrHugeAreSilencedOrClipped) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> f;
    for (int i = 0; i < 44100; ++i) {
        const float v[] = {nan, inf, -inf, 1e20f, -3e38f, 0.25f};
        f.push_back(v[i % 6]);
    }
    const Bytes fb = AsBytes(f);
    auto c = ConvertLikeProgram(Float(44100, 32, 2), Pcm(44100, 16, 2), fb);
    ASSERT_EQ(c.result, 0u);
    const auto out = acmtest::Samples16(c.output);
    ASSERT_EQ(out.size(), f.size());
    EXPECT_EQ(std::vector<std::int16_t>(out.begin(), out.begin() + 6),
              (std::vector<std::int16_t>{0, 32767, -32768, 32767, -32768, 8192}));
    EXPECT_EQ(c.clipped, 44100u / 6 * 4) << "the infinite and huge ones clip; not a number is silence";
    for (const Bytes& to : {OfferedBlock(WAVE_FORMAT_MPEGLAYER3, 44100, 2, 16000), Pcm(22050, 16, 1), Float(48000, 32, 2)}) {
        c = ConvertLikeProgram(Float(44100, 32, 2), to, fb);
        ASSERT_EQ(c.result, 0u);
        EXPECT_FALSE(c.output.empty());
    }
    for (float v : Values<float>(c.output)) ASSERT_TRUE(std::isfinite(v)) << "spread through the resampler";
}

// Float keeps its headroom wherever the destination is float, resampled or
// not; into integers it clips after the resampler, and every clipped sample is
// counted, the resampler's overshoot too.
TEST(Stream, FloatHeadroomIsKeptOrClippedAfterTheResampler) {
    auto c = ConvertLikeProgram(Float(44100, 32, 2), Float(44100, 64, 2), AsBytes<float>({2.0f, -2.0f, 1.5f, -0.25f}));
    EXPECT_EQ(Values<double>(c.output), (std::vector<double>{2.0, -2.0, 1.5, -0.25}));
    std::vector<float> sine, square;  // left channel peaking at 2.0; a square of 0.99 near 1 kHz
    for (int i = 0; i < 2 * 44100; ++i) {
        const float s = static_cast<float>(std::sin(2 * M_PI * 1000 * i / 44100.0)), q = (i / 22) % 2 ? 0.99f : -0.99f;
        sine.insert(sine.end(), {2 * s, s});
        square.insert(square.end(), {q, q});
    }
    c = ConvertLikeProgram(Float(44100, 32, 2), Float(48000, 32, 2), AsBytes(sine));
    ASSERT_EQ(c.result, 0u);
    const std::vector<float> resampled = Values<float>(c.output);
    EXPECT_GT(*std::max_element(resampled.begin(), resampled.end()), 1.9f);
    EXPECT_EQ(c.clipped, 0u);
    // Into 16 bits, samples of 1 - 2^-16 and beyond clip.
    const auto beyond = std::count_if(sine.begin(), sine.end(), [](double v) { return v >= 1 - 0x1p-16 || v < -1 - 0x1p-16; });
    EXPECT_EQ(ConvertLikeProgram(Float(44100, 32, 2), Pcm(44100, 16, 2), AsBytes(sine)).clipped, beyond);
    EXPECT_EQ(ConvertLikeProgram(Float(44100, 32, 2), Pcm(44100, 16, 2), AsBytes(square)).clipped, 0u);
    c = ConvertLikeProgram(Float(44100, 32, 2), Pcm(48000, 16, 2), AsBytes(square));
    ASSERT_EQ(c.result, 0u);
    EXPECT_GT(c.clipped, 0u) << "the resampler's overshoot";
    const auto out = acmtest::Samples16(c.output);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 32767);
}

// Same channel count: channel n of the source is channel n of the destination,
// sample for sample, whatever either block says of its speakers (nothing, mask
// 0, a mask naming too few, the usual one, other ones). A tone of its own in
// every channel shows any mixing.
TEST(Stream, KeptChannelCountIsNeverRemixed) {
    const std::uint32_t usual[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x13F, 0x63F};
    const std::uint32_t other[9] = {0, 0x1, 0x600, 0x103, 0x107, 0x607, 0x60F, 0x70F, 0xFF};
    for (std::uint16_t ch = 1; ch <= 8; ++ch) {
        const auto ext = [ch](unsigned bits, std::uint32_t mask) {
            return acm::MakeExtensibleBlock(WAVE_FORMAT_PCM, 48000, bits, ch, mask);
        };
        const Bytes data = Signal(Pcm(48000, 16, ch), 2000);
        Bytes wide;  // the same samples in 24 bits
        for (std::size_t i = 0; i < data.size(); i += 2) wide.insert(wide.end(), {0, data[i], data[i + 1]});
        for (const Bytes& from : {Pcm(48000, 16, ch), ext(16, 0), ext(16, usual[ch] & (usual[ch] - 1)), ext(16, usual[ch])}) {
            for (const Bytes& to :
                 {Pcm(48000, 16, ch), ext(16, other[ch]), Pcm(48000, 24, ch), ext(24, usual[ch]), ext(24, other[ch])}) {
                EXPECT_EQ(ConvertLikeProgram(from, to, data).output, acmtest::Wfx(to)->wBitsPerSample == 16 ? data : wide)
                    << ch << " channels, tag " << acmtest::Wfx(from)->wFormatTag << " to " << acmtest::Wfx(to)->wFormatTag;
            }
        }
    }
}

// GSM 6.10 is written in whole pairs of 65-byte blocks, as readers that take
// two at a time need; the frames out stay the true length, and cut to them
// the data reads back exactly that long.
TEST(Stream, GsmIsWrittenInPairsOfBlocks) {
    const Bytes pcm = Pcm(8000, 16, 1), gsm = OfferedBlock(WAVE_FORMAT_GSM610, 8000, 1);
    for (const auto& [frames, blocks] : {std::pair{8000u, 26u}, {7680u, 24u}, {7681u, 26u}, {0u, 0u}}) {
        const auto c = ConvertLikeProgram(pcm, gsm, Signal(pcm, frames));
        ASSERT_EQ(c.result, 0u);
        EXPECT_EQ(c.output.size(), blocks * 65u) << frames;
        EXPECT_EQ(c.framesOut, frames);
        const auto back = ConvertLikeProgram(gsm, pcm, c.output, c.framesOut);
        EXPECT_EQ(back.limitResult, 0u);
        EXPECT_EQ(back.output.size(), frames * 2u);
    }
}

// A length is cut only when it ends within the last block the data holds;
// otherwise nothing is cut.
TEST(Stream, LimitFramesTakesOnlyPlausibleCounts) {
    const Bytes pcm = Pcm(8000, 16, 1), ima = OfferedBlock(WAVE_FORMAT_IMA_ADPCM, 8000, 1);
    const Bytes blocks = ConvertLikeProgram(pcm, ima, Signal(pcm, 8 * 505)).output;  // 8 blocks of 505
    for (std::uint64_t frames : {7u * 505 + 1, 8u * 505, 7u * 505, 8u * 505 + 1, 0u}) {
        const bool cut = frames > 7 * 505 && frames <= 8 * 505;
        const auto c = ConvertLikeProgram(ima, pcm, blocks, frames);
        EXPECT_EQ(c.limitResult, cut ? 0u : ACMERR_NOTPOSSIBLE) << frames;
        EXPECT_EQ(c.output.size(), 2 * (cut ? frames : 8 * 505)) << frames;
    }
}

// Dropping bits dithers: a level half-way between two 16-bit steps comes out as a
// mix of both, averaging to the level, not as one constant step.
TEST(Stream, DitherOnlyWhereBitsAreDropped) {
    const std::size_t frames = 20000;
    Bytes half(frames * 3);
    for (std::size_t i = 0; i < frames; ++i) half[3 * i] = 0x80;  // +0.5 of a 16-bit step
    auto c = ConvertLikeProgram(Pcm(44100, 24, 1), Pcm(44100, 16, 1), half);
    ASSERT_EQ(c.result, 0u);
    const auto out = acmtest::Samples16(c.output);
    ASSERT_EQ(out.size(), frames);
    std::set<std::int16_t> values(out.begin(), out.end());
    double mean = 0;
    for (auto v : out) mean += v;
    mean /= static_cast<double>(out.size());
    EXPECT_GE(values.size(), 2u);
    EXPECT_NEAR(mean, 0.5, 0.05);
    for (auto v : values) EXPECT_LE(std::abs(v), 2) << "dither louder than two steps";

    // Widening and narrowing back, the same depth in and out: nothing added.
    const Bytes pcm = Pcm(44100, 16, 1);
    const Bytes data = Signal(pcm, 5000);
    const auto wide = ConvertLikeProgram(pcm, Pcm(44100, 32, 1), data);
    const auto narrow = ConvertLikeProgram(Pcm(44100, 32, 1), pcm, wide.output);
    EXPECT_EQ(narrow.output, data);
    const auto asFloat = ConvertLikeProgram(pcm, Float(44100, 64, 1), data);
    EXPECT_EQ(ConvertLikeProgram(Float(44100, 64, 1), pcm, asFloat.output).output, data);
}

}  // namespace
