// Files written in the codec service's formats, read back by independent
// readers: ffprobe and the ffmpeg decoder, sox, libsndfile and GStreamer. Each
// reader must read every file written in a family it reads when sox (ffmpeg
// for MP3) wrote it, with a length at least as exact; and the program's own
// reader turns each back into exactly the source's frames.
#include "platform/acm/catalogue.h"
#include "support/scripted.h"
#include "wave/convert.h"
#include "wavetest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace wavetest;
using testsupport::PcmFormat;
using testsupport::TempDir;

struct Case {
    const char* label;
    WORD tag;
    DWORD rate;
    WORD channels;
    WORD bits;            // for PCM destinations; 0 = any
    const char* codec;    // ffprobe's codec name
    bool soxReads;        // sox 14.4 has no MP3 reader
    double minSnrDb;      // SNR against the source, after removing the codec's delay
    const char* peer;     // how sox (ffmpeg for MP3) writes the family from $IN to $OUT
};

const Case kCases[] = {
    {"pcm8", WAVE_FORMAT_PCM, 22050, 2, 8, "pcm_u8", true, 30, "sox $IN -e unsigned -b 8 $OUT"},
    {"msadpcm", WAVE_FORMAT_ADPCM, 8000, 1, 0, "adpcm_ms", true, 18, "sox $IN -e ms-adpcm $OUT"},
    {"imaadpcm", WAVE_FORMAT_IMA_ADPCM, 22050, 2, 0, "adpcm_ima_wav", true, 20, "sox $IN -e ima-adpcm $OUT"},
    {"alaw", WAVE_FORMAT_ALAW, 8000, 1, 0, "pcm_alaw", true, 30, "sox $IN -e a-law $OUT"},
    {"mulaw", WAVE_FORMAT_MULAW, 8000, 1, 0, "pcm_mulaw", true, 30, "sox $IN -e u-law $OUT"},
    {"gsm", WAVE_FORMAT_GSM610, 8000, 1, 0, "gsm_ms", true, 10, "sox $IN -e gsm-full-rate $OUT"},
    {"float", WAVE_FORMAT_IEEE_FLOAT, 44100, 2, 32, "pcm_f32le", true, 100, "sox $IN -e floating-point -b 32 $OUT"},
    {"mp3", WAVE_FORMAT_MPEGLAYER3, 44100, 2, 0, "mp3", false, 10, "ffmpeg -v error -i $IN -c:a libmp3lame -f wav $OUT"},
};

// The chooser's block for the case's tag, rate and channels.
const acm::CatalogueFormat* FindFormat(const Case& c) {
    for (const acm::CatalogueTag* tag : acm::ChooserTags()) {
        if (tag->tag != c.tag) continue;
        for (const acm::CatalogueFormat& f : tag->formats) {
            const WAVEFORMATEX& h = f.Header();
            if (h.nSamplesPerSec == c.rate && h.nChannels == c.channels && (c.bits == 0 || h.wBitsPerSample == c.bits)) {
                return &f;
            }
        }
    }
    return nullptr;
}

// Samples per block of a destination format, for the length tolerance.
double FrameSeconds(const WAVEFORMATEX& h, const Bytes& block) {
    switch (h.wFormatTag) {
        case WAVE_FORMAT_ADPCM:
        case WAVE_FORMAT_IMA_ADPCM:
        case WAVE_FORMAT_GSM610:
            return U16At(block, 18) / static_cast<double>(h.nSamplesPerSec);
        case WAVE_FORMAT_MPEGLAYER3:
            return (h.nSamplesPerSec > 28000 ? 1152.0 : 576.0) / h.nSamplesPerSec;
        default:
            return 1.0 / h.nSamplesPerSec;
    }
}

double Rms(const std::vector<std::int16_t>& s) {
    double sum = 0;
    for (std::int16_t v : s) sum += static_cast<double>(v) * v;
    return s.empty() ? 0 : std::sqrt(sum / s.size());
}

// SNR of decoded against reference once decoded's leading delay (up to
// maxLag frames, found on the first channel) is skipped.
double DelayedSnrDb(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded, int channels,
                    int maxLag, int* lagFound) {
    const std::size_t window = 8192;
    int best = 0;
    double bestScore = -1e300;
    for (int lag = 0; lag <= maxLag; ++lag) {
        double score = 0;
        for (std::size_t i = 0; i < window; ++i) {
            const std::size_t at = (i + static_cast<std::size_t>(lag)) * channels;
            if (at >= decoded.size() || i * channels >= reference.size()) break;
            score += static_cast<double>(reference[i * channels]) * decoded[at];
        }
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    *lagFound = best;
    const std::vector<std::int16_t> aligned(decoded.begin() + std::min(decoded.size(), static_cast<std::size_t>(best) * channels),
                                            decoded.end());
    return testsupport::SnrDb(reference, aligned);
}

// Frames an independent reader decodes from a file (16-bit raw out, counted),
// or -1 when it reads nothing.
long long FramesReadBy(const std::string& reader, const std::string& path, int channels, const std::string& raw) {
    const std::string in = testsupport::ShellQuote(path), out = testsupport::ShellQuote(raw);
    std::string command;
    if (reader == "ffmpeg") command = "ffmpeg -v error -y -i " + in + " -f s16le " + out;
    if (reader == "sox") command = "sox " + in + " -t s16 " + out;
    if (reader == "libsndfile") command = "sndfile-convert -pcm16 " + in + " " + out;
    if (reader == "gstreamer")
        command = "gst-launch-1.0 -q filesrc location=" + in +
                  " ! decodebin ! audioconvert ! audio/x-raw,format=S16LE ! filesink location=" + out;
    std::remove(raw.c_str());
    if (testsupport::RunCommand(command + " >/dev/null 2>&1") != 0) return -1;
    const long long bytes = static_cast<long long>(testsupport::ReadBytes(raw).size());
    return bytes > 0 ? bytes / (2 * channels) : -1;
}

// The peer's way of writing the case's family, run from in to out.
std::string PeerCommand(const Case& c, const std::string& in, const std::string& out) {
    std::string command = c.peer;
    command.replace(command.find("$IN"), 3, testsupport::ShellQuote(in));
    command.replace(command.find("$OUT"), 4, testsupport::ShellQuote(out));
    return command + " 2>/dev/null";
}

// Every reader that reads the peer's file of the family reads ours: nothing
// short where the peer's is whole, and no longer than the peer's or than the
// padding of one of our blocks (slack frames; what a reader that ignores
// "fact" adds), whichever is more. The peers may write smaller blocks.
void ExpectReadByEveryReader(const Case& c, const std::string& ours, const std::string& in, long long frames,
                             long long slack, const TempDir& dir) {
    const std::string peer = dir.file("peer.wav");
    ASSERT_EQ(testsupport::RunCommand(PeerCommand(c, in, peer)), 0) << c.peer;
    for (const char* reader : {"ffmpeg", "sox", "libsndfile", "gstreamer"}) {
        const long long peerFrames = FramesReadBy(reader, peer, c.channels, dir.file("peer.raw"));
        if (peerFrames < 0) continue;
        const long long ourFrames = FramesReadBy(reader, ours, c.channels, dir.file("ours.raw"));
        std::printf("[ measured ] %s by %s: ours %lld, peer's %lld, source %lld frames\n", c.label, reader, ourFrames,
                    peerFrames, frames);
        EXPECT_GE(ourFrames, std::min(frames, peerFrames)) << reader << " reads less of ours, " << c.label;
        EXPECT_LE(ourFrames - frames, std::max(peerFrames - frames, slack)) << reader << ", " << c.label;
    }
}

class Interop : public ::testing::TestWithParam<Case> {};

TEST_P(Interop, IndependentReadersAgreeOnTheFileWritten) {
    const Case& c = GetParam();
    const acm::CatalogueFormat* format = FindFormat(c);
    ASSERT_NE(format, nullptr) << "the chooser offers no " << c.label << " at " << c.rate << " Hz";
    const WAVEFORMATEX& dst = format->Header();

    TempDir dir;
    const WAVEFORMATEX src = PcmFormat(c.rate, 16, c.channels);
    const std::uint32_t frames = c.rate * 2 + 333;  // 2 s and a partial block
    testsupport::WriteTestWave(dir.file("in.wav"), src, frames);
    const std::string out = dir.file("out.wav");
    {
        ScriptedBackend boxes;
        SetWindowBackend(&boxes);
        const int rc = ConvertWave(dir.file("in.wav").c_str(), out.c_str(), &dst, testsupport::BoxReporter());
        SetWindowBackend(nullptr);
        ASSERT_EQ(rc, 0) << (boxes.Transcript().empty() ? "" : boxes.Transcript().front());
        EXPECT_TRUE(boxes.Transcript().empty());
    }

    // Layout: the chosen block verbatim, sizes that add up, and the exact
    // length in a "fact" chunk after "data" where the data is not integer PCM.
    const WaveLayout layout = ReadLayout(out);
    ASSERT_TRUE(layout.ok) << layout.error;
    const bool integer = c.tag == WAVE_FORMAT_PCM;
    EXPECT_EQ(layout.chunkIds, (integer ? std::vector<std::string>{"fmt ", "data"}
                                        : std::vector<std::string>{"fmt ", "data", "fact"}));
    const Bytes file = testsupport::ReadBytes(out);
    if (!integer) {
        EXPECT_EQ(U32At(file, file.size() - 4), frames) << "the fact chunk's frame count";
    }
    const Bytes block(format->block.begin(), format->block.begin() + 18 + dst.cbSize);
    EXPECT_EQ(layout.fmt, block);
    EXPECT_EQ(layout.fmtSize, 18u + dst.cbSize);
    EXPECT_EQ(layout.dataOffset, 20 + layout.fmtSize + (layout.fmtSize & 1) + 8);
    EXPECT_EQ(layout.fileSize, layout.dataOffset + layout.dataSize + (layout.dataSize & 1) + (integer ? 0 : 12));
    EXPECT_EQ(layout.riffSize, layout.fileSize - 8);
    if (dst.nBlockAlign > 1) {
        EXPECT_EQ(layout.dataSize % dst.nBlockAlign, 0u) << "whole blocks only";
    }

    const double seconds = static_cast<double>(frames) / c.rate;
    const double frame = FrameSeconds(dst, block);
    const testsupport::ProbeResult probe = testsupport::Probe(out);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.codec, c.codec);
    EXPECT_EQ(probe.sampleRate, static_cast<int>(c.rate));
    EXPECT_EQ(probe.channels, c.channels);

    int channels = 0, rate = 0;
    const std::vector<std::int16_t> decoded = testsupport::DecodeWithFfmpeg(out, &channels, &rate);
    ASSERT_EQ(channels, c.channels);
    ASSERT_EQ(rate, static_cast<int>(c.rate));
    const double decodedSeconds = static_cast<double>(decoded.size()) / channels / rate;
    // Every source sample is there; at most the last block's padding is added
    // (and for MP3 the encoder's delay, about one more frame).
    const double slack = c.tag == WAVE_FORMAT_MPEGLAYER3 ? 2 * frame : frame;
    EXPECT_GE(decodedSeconds, seconds - 1.0 / c.rate) << c.label;
    EXPECT_LE(decodedSeconds, seconds + slack) << c.label;
    // ffprobe takes the length from "fact" where the data is not PCM: exact
    // but for MP3, whose encoder delay it does not count.
    EXPECT_NEAR(probe.duration, seconds, (c.tag == WAVE_FORMAT_MPEGLAYER3 ? slack : 1.0 / c.rate) + 1e-4) << c.label;

    const std::vector<std::int16_t> reference = testsupport::DecodeWithFfmpeg(dir.file("in.wav"));
    int lag = 0;
    // Only the MP3 encoder delays its output (by its 1105-sample priming).
    const int maxLag = c.tag == WAVE_FORMAT_MPEGLAYER3 ? 2400 : 0;
    const double snr = DelayedSnrDb(reference, decoded, channels, maxLag, &lag);
    const double loudness = 20 * std::log10(Rms(decoded) / Rms(reference));
    std::printf("[ measured ] %s: %u bytes, decoded %.4f s of %.4f s, probe %.4f s, delay %d, SNR %.1f dB, level %+.2f dB\n",
                c.label, layout.dataSize, decodedSeconds, seconds, probe.duration, lag, snr, loudness);
    EXPECT_GT(snr, c.minSnrDb) << c.label;
    EXPECT_NEAR(loudness, 0.0, 3.0) << c.label;

    // The program's own reader gives back exactly the source's frames (MP3
    // keeps its encoder's delay at the start).
    const WAVEFORMATEX pcm = PcmFormat(c.rate, 16, c.channels);
    ASSERT_EQ(ConvertWave(out.c_str(), dir.file("back.wav").c_str(), &pcm, testsupport::BoxReporter()), 0);
    if (c.tag != WAVE_FORMAT_MPEGLAYER3) {
        EXPECT_EQ(ReadLayout(dir.file("back.wav")).dataSize, frames * 2u * c.channels) << c.label;
    }
    ExpectReadByEveryReader(c, out, dir.file("in.wav"), frames, std::llround(slack * c.rate), dir);

    if (c.soxReads) {
        std::string info;
        ASSERT_EQ(testsupport::RunCommand("sox --i -r " + testsupport::ShellQuote(out) + " 2>&1", &info), 0) << info;
        const int soxRate = std::atoi(info.c_str());
        ASSERT_EQ(testsupport::RunCommand("sox --i -c " + testsupport::ShellQuote(out) + " 2>&1", &info), 0) << info;
        const int soxChannels = std::atoi(info.c_str());
        EXPECT_EQ(soxRate, static_cast<int>(c.rate)) << info;
        EXPECT_EQ(soxChannels, c.channels) << info;
        std::string stat;
        ASSERT_EQ(testsupport::RunCommand("sox " + testsupport::ShellQuote(out) + " -n stat 2>&1", &stat), 0) << stat;
        const auto at = stat.find("Length (seconds):");
        ASSERT_NE(at, std::string::npos) << stat;
        const double soxSeconds = std::atof(stat.c_str() + at + 17);
        EXPECT_NEAR(soxSeconds, seconds, frame + 1e-4) << c.label;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, Interop, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.label); });

}  // namespace
