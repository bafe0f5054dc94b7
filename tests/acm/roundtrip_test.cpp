// Every format the chooser offers: a test signal converted into it and back keeps
// every sample and stays above the noise floor of its codec family.
#include "acm/acmtest.h"
#include "platform/acm/catalogue.h"
#include "platform/acm/tags.h"
#include "platform/endian.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace {

using acmtest::Bytes;

struct FormatCase {
    const acm::CatalogueTag* tag;
    const acm::CatalogueFormat* format;
};

std::vector<FormatCase> AllOffered() {
    std::vector<FormatCase> out;
    for (const acm::CatalogueTag* tag : acm::ChooserTags())
        for (const acm::CatalogueFormat& f : tag->formats) out.push_back({tag, &f});
    return out;
}

std::string CaseName(const testing::TestParamInfo<FormatCase>& info) {
    const WAVEFORMATEX& h = info.param.format->Header();
    std::string name = info.param.tag->name + "_" + std::to_string(h.nSamplesPerSec) + "_" +
                       std::to_string(h.wBitsPerSample ? h.wBitsPerSample : h.nAvgBytesPerSec * 8 / 1000) + "_" +
                       std::to_string(h.nChannels);
    const std::uint8_t* subFormat = info.param.format->block.data() + 24;
    if (h.wFormatTag == WAVE_FORMAT_EXTENSIBLE && endian::LoadLe16(subFormat) == WAVE_FORMAT_IEEE_FLOAT) name += "_float";
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

constexpr std::uint32_t kRate = 44100;
constexpr WORD kG722 = 0x028F, kG726 = 0x0045, kYamahaAdpcm = 0x0020;
// The delay of G.722's band-splitting filters, in samples.
constexpr double kG722Delay = 22;
constexpr std::uint32_t kFrames = kRate * 2;

// Samples a codec may add at the end (its last frame padded) plus its delay, in
// frames at 44,100 Hz.
std::uint32_t AllowedExtraFrames(const WAVEFORMATEX& h) {
    double frames = 2;  // rounding in two rate conversions
    switch (h.wFormatTag) {
    case WAVE_FORMAT_IMA_ADPCM:
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_GSM610: {
        const Bytes block(reinterpret_cast<const std::uint8_t*>(&h), reinterpret_cast<const std::uint8_t*>(&h) + 20);
        frames += endian::LoadLe16(block.data() + 18);
        break;
    }
    case WAVE_FORMAT_MPEGLAYER3: {
        const double frameSamples = h.nSamplesPerSec >= 32000 ? 1152 : 576;
        frames += frameSamples * 2 + acm::kMp3CodecDelay;
        break;
    }
    default:
        break;
    }
    return static_cast<std::uint32_t>(std::ceil(frames * kRate / h.nSamplesPerSec));
}

// What the round trip should give back: the signal itself, or both channels
// holding their average where the format is mono.
std::vector<std::int16_t> Reference(const std::vector<std::int16_t>& stereo, unsigned channels) {
    if (channels != 1) return stereo;
    std::vector<std::int16_t> out(stereo.size());
    for (std::size_t i = 0; i + 1 < stereo.size(); i += 2) {
        const auto mean = static_cast<std::int16_t>(std::lround((stereo[i] + stereo[i + 1]) / 2.0));
        out[i] = out[i + 1] = mean;
    }
    return out;
}

// A plain block of 3, 5 or 7 channels names no speakers: stereo is mixed into
// them evenly and comes back as the average of its two channels.
bool MixedEvenly(const WAVEFORMATEX& h) {
    return h.wFormatTag != WAVE_FORMAT_EXTENSIBLE && h.nChannels > 2 && h.nChannels % 2 == 1;
}

double SnrAtLag(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& out, std::size_t lagFrames,
                std::size_t count, double gain = 1.0) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < count && 2 * lagFrames + i < out.size() && i < ref.size(); ++i) {
        const double r = ref[i], d = out[2 * lagFrames + i] * gain - r;
        signal += r * r;
        noise += d * d;
    }
    return noise == 0 ? 200.0 : 10 * std::log10(signal / noise);
}

// The least-squares gain that maps out onto ref.
double BestGain(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& out, std::size_t lagFrames) {
    double num = 0, den = 0;
    for (std::size_t i = 0; i < ref.size() && 2 * lagFrames + i < out.size(); ++i) {
        num += static_cast<double>(ref[i]) * out[2 * lagFrames + i];
        den += static_cast<double>(out[2 * lagFrames + i]) * out[2 * lagFrames + i];
    }
    return den == 0 ? 1.0 : num / den;
}

// Lowest signal-to-noise ratio accepted, by family. The test signal holds tones up
// to 2 kHz and white noise 30 dB down over the whole band, so a round trip through
// a lower rate loses the noise above its Nyquist frequency and one through a higher
// rate the noise in the resampler's transition band (about 20 to 22 kHz); that
// loss, not the codec, sets the resampled figures. Lowest values measured (2 s,
// 44,100 Hz 16-bit stereo source), floors 3 dB below:
//   PCM/float 16 bits and wider, 44,100 Hz stereo: bit-exact; mono 78.3 dB;
//   4 to 8 channels (gain-matched) 74.8 dB; below 44,100 Hz 33.96 dB (8 kHz);
//   above 44,100 Hz 46.6 dB. PCM 8-bit 30.8 dB (8 kHz mono).
//   A-law / mu-law 32.5 dB (8 kHz). IMA ADPCM 22.1 dB, MS ADPCM 21.8 dB (8 kHz).
//   GSM 6.10 10.6 dB. MPEG Layer-3 20.2 dB (12 kHz 8 kbit/s mono).
//   G.726 at 16, 24, 32, 40 kbit/s 14.9, 21.1, 25.8, 28.2 dB. Yamaha ADPCM 21.9 dB (8 kHz).
//   G.722 26.2 dB.
double SnrFloor(const FormatCase& c) {
    const WAVEFORMATEX& h = c.format->Header();
    switch (h.wFormatTag) {
    case WAVE_FORMAT_PCM:
    case WAVE_FORMAT_IEEE_FLOAT:
    case WAVE_FORMAT_EXTENSIBLE:
        if (h.wBitsPerSample == 8) return 28;
        if (h.nSamplesPerSec < kRate) return 31;
        if (h.nSamplesPerSec > kRate) return 43.5;
        return h.nChannels > 2 ? 71.5 : 75;
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
        return 29.5;
    case WAVE_FORMAT_IMA_ADPCM:
    case WAVE_FORMAT_ADPCM:
        return 18.8;
    case WAVE_FORMAT_GSM610:
        return 7.5;
    case WAVE_FORMAT_MPEGLAYER3:
        return 17;
    case kG726: {
        constexpr double kByCodeBits[] = {0, 0, 11.9, 18.1, 22.7, 25.1};
        return kByCodeBits[std::min<unsigned>(h.wBitsPerSample, 5)];
    }
    case kYamahaAdpcm:
        return 18.8;
    case kG722:
        return 23;
    default:
        return 0;
    }
}

// The best SNR of test against ref over codec delays up to 64 frames.
double SnrOverDelays(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& test, unsigned channels) {
    double best = -1e9;
    for (std::size_t lag = 0; lag <= 64 && lag * channels < test.size(); ++lag)
        best = std::max(best, testsupport::SnrDb(ref, {test.begin() + static_cast<std::ptrdiff_t>(lag * channels), test.end()}));
    return best;
}

// Our file of the format, decoded by ffmpeg, against ffmpeg's own encoder of the
// codec given the same samples and the same options: no more than 1 dB worse.
void ExpectAsGoodAsFfmpeg(const acm::TagFacts& facts, const acm::CatalogueFormat& format) {
    const WAVEFORMATEX& h = format.Header();
    testsupport::TempDir dir;
    const WAVEFORMATEX pcm = testsupport::PcmFormat(h.nSamplesPerSec, 16, h.nChannels);
    const std::string in = testsupport::WriteTestWave(dir.file("in.wav"), pcm, h.nSamplesPerSec / 2);
    const auto ours = acmtest::ConvertLikeProgram(acmtest::BlockOf(pcm), format.block,
                                                  testsupport::TestSignalBytes(pcm, h.nSamplesPerSec / 2));
    ASSERT_EQ(ours.result, 0u);
    testsupport::WriteBytes(dir.file("ours.wav"), acmtest::WaveFile(format.block, ours.output));
    std::string command = "ffmpeg -v error -i " + testsupport::ShellQuote(in) + " -c:a " + facts.encoder;
    if (facts.Rules().bitRateOption) command += " -b:a " + std::to_string(h.nAvgBytesPerSec * 8);
    if (facts.Rules().blockSizeOption) command += " -block_size " + std::to_string(h.nBlockAlign);
    ASSERT_EQ(testsupport::RunCommand(command + " " + testsupport::ShellQuote(dir.file("theirs.wav")) + " 2>&1"), 0);
    const std::vector<std::int16_t> ref = testsupport::DecodeWithFfmpeg(in);
    const double snrOurs = SnrOverDelays(ref, testsupport::DecodeWithFfmpeg(dir.file("ours.wav")), h.nChannels);
    const double snrTheirs = SnrOverDelays(ref, testsupport::DecodeWithFfmpeg(dir.file("theirs.wav")), h.nChannels);
    std::printf("[measure] %-16s %-40s decoded by ffmpeg: ours %.2f dB, ffmpeg's encoder %.2f dB\n", facts.name,
                format.name.c_str(), snrOurs, snrTheirs);
    EXPECT_GE(snrOurs, snrTheirs - 1.0);
}

class RoundTrip : public testing::TestWithParam<FormatCase> {};

TEST_P(RoundTrip, KeepsEverySampleAndTheSignal) {
    const FormatCase c = GetParam();
    const WAVEFORMATEX& h = c.format->Header();
    const Bytes pcm = acmtest::BlockOf(testsupport::PcmFormat(kRate, 16, 2));
    const std::vector<std::int16_t> signal = testsupport::TestSignal16(kRate, 2, kFrames);

    const acmtest::Conversion there = acmtest::ConvertLikeProgram(pcm, c.format->block, acmtest::Bytes16(signal));
    ASSERT_EQ(there.result, 0u);
    if (h.nBlockAlign > 1) {
        EXPECT_EQ(there.output.size() % h.nBlockAlign, 0u) << "whole blocks only";
    }
    // The frames handed out are the source's, scaled to the format's rate (two
    // seconds: a whole number at every rate), whatever the encoder pads.
    EXPECT_EQ(there.framesOut, std::uint64_t{kFrames} * h.nSamplesPerSec / kRate);
    // Read back cut to that count, as a "fact" chunk has it.
    const acmtest::Conversion back = acmtest::ConvertLikeProgram(c.format->block, pcm, there.output, there.framesOut);
    ASSERT_EQ(back.result, 0u);
    const std::vector<std::int16_t> out = acmtest::Samples16(back.output);
    const std::size_t frames = out.size() / 2;

    // Blocks that decode to a fixed number of frames give back exactly the
    // frames that went in; integer PCM needs no cut, MP3's count has the delay.
    const WORD t = h.wFormatTag == WAVE_FORMAT_EXTENSIBLE ? endian::LoadLe16(c.format->block.data() + 24) : h.wFormatTag;
    if (t != WAVE_FORMAT_PCM && t != WAVE_FORMAT_MPEGLAYER3) {
        EXPECT_EQ(back.limitResult, 0u);
        EXPECT_EQ(frames, kFrames);
    } else {
        EXPECT_EQ(back.limitResult, ACMERR_NOTPOSSIBLE);
        const std::uint32_t resampleLoss = h.nSamplesPerSec == kRate ? 0 : (kRate + h.nSamplesPerSec - 1) / h.nSamplesPerSec;
        EXPECT_GE(frames + resampleLoss, kFrames) << "samples lost";
        EXPECT_LE(frames, kFrames + AllowedExtraFrames(h)) << "too much padding";
    }

    const std::vector<std::int16_t> ref = Reference(signal, MixedEvenly(h) ? 1 : h.nChannels);
    std::size_t lag = 0;
    if (h.wFormatTag == WAVE_FORMAT_MPEGLAYER3 || h.wFormatTag == kG722) {
        // Decoded MP3 starts after the encoder's delay, G.722 after its filters';
        // find where the signal begins.
        const double delay = h.wFormatTag == kG722 ? kG722Delay : acm::kMp3CodecDelay;
        const std::size_t expected = static_cast<std::size_t>(std::lround(delay * double(kRate) / h.nSamplesPerSec));
        double best = -1e9;
        for (std::size_t l = expected > 200 ? expected - 200 : 0; l <= expected + 200; ++l) {
            const double s = SnrAtLag(ref, out, l, 8192);
            if (s > best) best = s, lag = l;
        }
    }
    double gain = 1.0;
    if (h.nChannels > 2 && !MixedEvenly(h)) {
        // Folding surround channels back to stereo lowers the level so nothing clips.
        gain = BestGain(ref, out, lag);
        EXPECT_GT(gain, 1.0) << "level rose";
        EXPECT_LT(gain, 4.0) << "level fell by more than 12 dB";
    }
    const double snr = SnrAtLag(ref, out, lag, kFrames * 2 - 2 * lag, gain);
    const bool exactExpected = h.nSamplesPerSec == kRate && h.nChannels == 2 &&
                               (h.wFormatTag == WAVE_FORMAT_PCM || h.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) &&
                               h.wBitsPerSample >= 16;
    std::printf("[measure] %-16s %-40s snr=%7.2f dB frames=%zu (+%lld) lag=%zu gain=%.3f\n", c.tag->name.c_str(),
                c.format->name.c_str(), snr, frames, static_cast<long long>(frames) - kFrames, lag, gain);
    if (exactExpected) {
        EXPECT_EQ(back.output, acmtest::Bytes16(signal)) << "not bit-exact";
    } else {
        EXPECT_GE(snr, SnrFloor(c));
    }
    // Codes written without block headers: checked against ffmpeg's own encoder.
    const acm::TagFacts& facts = *acm::FindTagFacts(h.wFormatTag);
    if (facts.family == acm::BlockFamily::Codes || facts.family == acm::BlockFamily::CodeBlocks)
        ExpectAsGoodAsFfmpeg(facts, *c.format);
}

INSTANTIATE_TEST_SUITE_P(Offered, RoundTrip, testing::ValuesIn(AllOffered()), CaseName);

}  // namespace
