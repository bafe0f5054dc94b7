// Interoperability with independent tools: files written in every offered format
// are read by ffprobe and sox as the same codec, rate, channels and length, and
// files that ffmpeg and sox write decode through the streams.
#include "acm/acmtest.h"
#include "platform/acm/catalogue.h"
#include "platform/endian.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <sstream>

namespace {

using acmtest::Bytes;
using testsupport::ShellQuote;

// The tag that says how samples are coded: an extensible block's sub-format.
WORD CodingTag(const WAVEFORMATEX& h) {
    if (h.wFormatTag != WAVE_FORMAT_EXTENSIBLE) return h.wFormatTag;
    return endian::LoadLe16(reinterpret_cast<const std::uint8_t*>(&h) + 24);
}

// What ffprobe and sox call each offered format.
std::string FfmpegCodec(const WAVEFORMATEX& h) {
    switch (CodingTag(h)) {
    case WAVE_FORMAT_PCM:
        return h.wBitsPerSample == 8 ? "pcm_u8" : "pcm_s" + std::to_string(h.wBitsPerSample) + "le";
    case WAVE_FORMAT_IEEE_FLOAT: return "pcm_f" + std::to_string(h.wBitsPerSample) + "le";
    case WAVE_FORMAT_ALAW: return "pcm_alaw";
    case WAVE_FORMAT_MULAW: return "pcm_mulaw";
    case WAVE_FORMAT_IMA_ADPCM: return "adpcm_ima_wav";
    case WAVE_FORMAT_ADPCM: return "adpcm_ms";
    case WAVE_FORMAT_GSM610: return "gsm_ms";
    case WAVE_FORMAT_MPEGLAYER3: return "mp3";
    case 0x0045: return "adpcm_g726";
    case 0x028F: return "adpcm_g722";
    case 0x0020: return "adpcm_yamaha";
    default: return "?";
    }
}

std::string SoxEncoding(const WAVEFORMATEX& h) {
    switch (CodingTag(h)) {
    case WAVE_FORMAT_PCM:
        // sox takes 64-bit integer samples for floating point, whatever the block says.
        if (h.wBitsPerSample == 64) return "";
        return h.wBitsPerSample == 8 ? "Unsigned Integer PCM" : "Signed Integer PCM";
    case WAVE_FORMAT_IEEE_FLOAT: return "Floating Point PCM";
    case WAVE_FORMAT_ALAW: return "A-law";
    case WAVE_FORMAT_MULAW: return "u-law";
    case WAVE_FORMAT_IMA_ADPCM: return "4-bit IMA ADPCM";
    case WAVE_FORMAT_ADPCM: return "4-bit MS ADPCM";
    case WAVE_FORMAT_GSM610: return "GSM";
    case WAVE_FORMAT_MPEGLAYER3: return "?";
    default: return "";  // sox reads none of the other codecs these files hold
    }
}

// Samples of one codec frame, and of delay before the signal, at the format's rate.
double FrameSamples(const acm::CatalogueFormat& f) {
    const WAVEFORMATEX& h = f.Header();
    switch (h.wFormatTag) {
    case WAVE_FORMAT_IMA_ADPCM:
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_GSM610: return endian::LoadLe16(f.block.data() + 18);
    case WAVE_FORMAT_MPEGLAYER3: return (h.nSamplesPerSec >= 32000 ? 1152 : 576) + acm::kMp3CodecDelay;
    case 0x0020: return h.nBlockAlign * 2.0 / h.nChannels;  // Yamaha ADPCM: 4-bit codes
    default: return 1;
    }
}

struct SoxInfo {
    bool ok = false;
    std::string error;
    int channels = 0, rate = 0;
    long long samples = 0;
    std::string encoding;
};

SoxInfo Soxi(const std::string& path) {
    SoxInfo info;
    std::string out;
    const int rc = testsupport::RunCommand("soxi " + ShellQuote(path) + " 2>&1", &out);
    if (rc != 0) {
        info.error = out;
        return info;
    }
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, colon), value = line.substr(colon + 1);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        if (key == "Channels") info.channels = std::atoi(value.c_str());
        else if (key == "Sample Rate") info.rate = std::atoi(value.c_str());
        else if (key == "Sample Encoding") info.encoding = value;
        else if (key == "Duration") {
            const auto eq = value.find("= ");
            if (eq != std::string::npos) info.samples = std::atoll(value.c_str() + eq + 2);
        }
    }
    info.ok = info.rate > 0;
    return info;
}

// ffprobe's view of a file: codec, rate, channels, and the samples its packets
// cover (their last end time in the stream's time base, which is 1/rate for WAVE).
struct ProbeInfo {
    std::string codec;
    int rate = 0, channels = 0;
    long long samples = 0;
};

ProbeInfo ReadProbe(const std::string& path) {
    ProbeInfo info;
    const Bytes text = testsupport::ReadBytes(path);
    std::istringstream in(std::string(text.begin(), text.end()));
    std::string line;
    while (std::getline(in, line)) {
        std::map<std::string, std::string> fields;
        std::istringstream parts(line);
        std::string part;
        while (std::getline(parts, part, '|')) {
            const auto eq = part.find('=');
            if (eq != std::string::npos) fields[part.substr(0, eq)] = part.substr(eq + 1);
        }
        if (fields.count("codec_name")) {
            info.codec = fields["codec_name"];
            info.rate = std::atoi(fields["sample_rate"].c_str());
            info.channels = std::atoi(fields["channels"].c_str());
        } else if (fields.count("pts")) {
            info.samples = std::max(info.samples, std::atoll(fields["pts"].c_str()) + std::atoll(fields["duration"].c_str()));
        }
    }
    return info;
}

// One test per tag: every offered format of it written as a file, then all the
// files probed (two ffprobe processes at a time, as its start-up dominates).
class WrittenFiles : public testing::TestWithParam<const acm::CatalogueTag*> {};

TEST_P(WrittenFiles, ReadTheSameInFfprobeAndSox) {
    const acm::CatalogueTag& tag = *GetParam();
    testsupport::TempDir dir;
    std::vector<std::uint32_t> frames;
    for (std::size_t i = 0; i < tag.formats.size(); ++i) {
        const acm::CatalogueFormat& f = tag.formats[i];
        const WAVEFORMATEX& h = f.Header();
        // A fifth of a second of the test signal, at the format's rate.
        frames.push_back(h.nSamplesPerSec / 5);
        const Bytes source = acmtest::BlockOf(testsupport::PcmFormat(h.nSamplesPerSec, 16, h.nChannels));
        const auto encoded = acmtest::ConvertLikeProgram(
            source, f.block, testsupport::TestSignalBytes(*acmtest::Wfx(source), frames.back()));
        ASSERT_EQ(encoded.result, 0u) << f.name;
        testsupport::WriteBytes(dir.file(std::to_string(i) + ".wav"), acmtest::WaveFile(f.block, encoded.output));
    }
    ASSERT_EQ(testsupport::RunCommand("cd " + ShellQuote(dir.path().string()) +
                                      " && ls *.wav | xargs -P 2 -I{} sh -c 'ffprobe -v error -select_streams a:0 "
                                      "-show_entries stream=codec_name,sample_rate,channels:packet=pts,duration "
                                      "-of compact=p=0 {} > {}.probe 2>&1'"),
              0);
    for (std::size_t i = 0; i < tag.formats.size(); ++i) {
        const acm::CatalogueFormat& f = tag.formats[i];
        const WAVEFORMATEX& h = f.Header();
        SCOPED_TRACE(f.name);
        const std::string path = dir.file(std::to_string(i) + ".wav");
        const long long padded = frames[i] + static_cast<long long>(FrameSamples(f));

        const ProbeInfo probe = ReadProbe(path + ".probe");
        EXPECT_EQ(probe.codec, FfmpegCodec(h));
        EXPECT_EQ(probe.rate, static_cast<int>(h.nSamplesPerSec));
        EXPECT_EQ(probe.channels, h.nChannels);
        EXPECT_GE(probe.samples, static_cast<long long>(frames[i]));
        EXPECT_LE(probe.samples, padded);

        if (SoxEncoding(h).empty()) continue;
        const SoxInfo sox = Soxi(path);
        if (h.wFormatTag == WAVE_FORMAT_MPEGLAYER3 && sox.error.find("not supported") != std::string::npos) {
            // This sox is built without MP3 support; ffprobe alone reads these.
            continue;
        }
        ASSERT_TRUE(sox.ok) << sox.error;
        EXPECT_TRUE(sox.encoding.ends_with(SoxEncoding(h))) << sox.encoding;
        EXPECT_EQ(sox.rate, static_cast<int>(h.nSamplesPerSec));
        EXPECT_EQ(sox.channels, h.nChannels);
        EXPECT_GE(sox.samples, static_cast<long long>(frames[i]));
        EXPECT_LE(sox.samples, padded);
    }
}

std::string TagCaseName(const testing::TestParamInfo<const acm::CatalogueTag*>& info) {
    std::string name = info.param->name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Offered, WrittenFiles, testing::ValuesIn(acm::ChooserTags()), TagCaseName);

// The format block and the data of a WAVE file, whatever other chunks it holds.
bool ReadWave(const std::string& path, Bytes* fmt, Bytes* data) {
    const Bytes file = testsupport::ReadBytes(path);
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0)
        return false;
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        const std::uint32_t size = endian::LoadLe32(file.data() + at + 4);
        const std::size_t body = at + 8, end = std::min<std::size_t>(file.size(), body + size);
        if (std::memcmp(file.data() + at, "fmt ", 4) == 0) fmt->assign(file.begin() + body, file.begin() + end);
        if (std::memcmp(file.data() + at, "data", 4) == 0) data->assign(file.begin() + body, file.begin() + end);
        at = body + size + (size & 1);
    }
    if (fmt->size() == 16) fmt->resize(18, 0);
    return fmt->size() >= 18 && !data->empty();
}

struct ToolCase {
    const char* name;
    std::uint32_t rate;
    std::uint16_t channels;
    std::string command;  // {in} and {out} are replaced by the paths
    double snrFloor;      // our decoding against ffmpeg's, dB
};

std::vector<ToolCase> ToolCases() {
    return {
        {"ffmpeg_u8", 22050, 2, "ffmpeg -v error -i {in} -c:a pcm_u8 {out}", 90},
        {"ffmpeg_s24", 44100, 2, "ffmpeg -v error -i {in} -c:a pcm_s24le {out}", 90},
        {"ffmpeg_s32", 48000, 1, "ffmpeg -v error -i {in} -c:a pcm_s32le {out}", 90},
        {"ffmpeg_f32", 44100, 2, "ffmpeg -v error -i {in} -c:a pcm_f32le {out}", 90},
        {"ffmpeg_f64", 16000, 1, "ffmpeg -v error -i {in} -c:a pcm_f64le {out}", 90},
        {"ffmpeg_s64_extensible", 8000, 1, "ffmpeg -v error -i {in} -c:a pcm_s64le {out}", 90},
        {"ffmpeg_s16_96k_extensible", 96000, 2, "ffmpeg -v error -i {in} -c:a pcm_s16le {out}", 90},
        {"ffmpeg_s24_51_extensible", 48000, 6, "ffmpeg -v error -i {in} -c:a pcm_s24le {out}", 90},
        {"ffmpeg_alaw", 8000, 1, "ffmpeg -v error -i {in} -c:a pcm_alaw {out}", 90},
        {"ffmpeg_mulaw", 8000, 2, "ffmpeg -v error -i {in} -c:a pcm_mulaw {out}", 90},
        {"ffmpeg_ima_adpcm", 22050, 2, "ffmpeg -v error -i {in} -c:a adpcm_ima_wav {out}", 90},
        {"ffmpeg_ms_adpcm", 11025, 1, "ffmpeg -v error -i {in} -c:a adpcm_ms {out}", 90},
        {"ffmpeg_gsm", 8000, 1, "ffmpeg -v error -i {in} -c:a libgsm_ms {out}", 90},
        {"ffmpeg_mp3", 44100, 2, "ffmpeg -v error -i {in} -c:a libmp3lame -b:a 128k {out}", 60},
        {"ffmpeg_mp3_lsf", 22050, 1, "ffmpeg -v error -i {in} -c:a libmp3lame -b:a 48k {out}", 60},
        {"ffmpeg_mp2", 44100, 2, "ffmpeg -v error -i {in} -c:a mp2 -b:a 192k {out}", 60},
        {"ffmpeg_g726", 8000, 1, "ffmpeg -v error -i {in} -c:a g726 -b:a 32k {out}", 90},
        {"ffmpeg_g722", 16000, 1, "ffmpeg -v error -i {in} -c:a g722 {out}", 90},
        {"ffmpeg_g723_1", 8000, 1, "ffmpeg -v error -i {in} -c:a g723_1 -b:a 6300 {out}", 90},
        {"ffmpeg_yamaha", 22050, 1, "ffmpeg -v error -i {in} -c:a adpcm_yamaha {out}", 90},
        {"sox_u8", 11025, 1, "sox {in} -b 8 {out}", 90},
        {"sox_s24", 44100, 2, "sox {in} -b 24 {out}", 90},
        {"sox_f32", 32000, 2, "sox {in} -e floating-point -b 32 {out}", 90},
        {"sox_alaw", 8000, 1, "sox {in} -e a-law {out}", 90},
        {"sox_ulaw", 16000, 2, "sox {in} -e u-law {out}", 90},
        {"sox_ima_adpcm", 44100, 2, "sox {in} -e ima-adpcm {out}", 90},
        {"sox_ms_adpcm", 8000, 1, "sox {in} -e ms-adpcm {out}", 90},
        {"sox_ms_adpcm_stereo", 22050, 2, "sox {in} -e ms-adpcm {out}", 90},
        {"sox_gsm", 8000, 1, "sox {in} -e gsm-full-rate {out}", 90},
    };
}

class ToolFile : public testing::TestWithParam<ToolCase> {};

TEST_P(ToolFile, DecodesLikeFfmpeg) {
    const ToolCase& t = GetParam();
    testsupport::TempDir dir;
    const std::string in = testsupport::WriteTestWave(dir.file("in.wav"), testsupport::PcmFormat(t.rate, 16, t.channels),
                                                      t.rate / 2);
    const std::string out = dir.file("out.wav");
    std::string command = t.command;
    command.replace(command.find("{in}"), 4, ShellQuote(in));
    command.replace(command.find("{out}"), 5, ShellQuote(out));
    ASSERT_EQ(testsupport::RunCommand(command + " 2>&1"), 0) << command;
    Bytes fmt, data;
    ASSERT_TRUE(ReadWave(out, &fmt, &data));
    const WAVEFORMATEX& h = *acmtest::Wfx(fmt);

    std::string name;
    ACMFORMATDETAILSA details{};
    details.cbStruct = sizeof details;
    details.dwFormatTag = h.wFormatTag;
    details.pwfx = reinterpret_cast<WAVEFORMATEX*>(fmt.data());
    details.cbwfx = static_cast<DWORD>(fmt.size());
    EXPECT_EQ(acmFormatDetailsA(nullptr, &details, ACM_FORMATDETAILSF_FORMAT), 0u) << "the block is not named";

    const Bytes pcm = acmtest::BlockOf(testsupport::PcmFormat(h.nSamplesPerSec, 16, h.nChannels));
    const auto ours = acmtest::ConvertLikeProgram(fmt, pcm, data);
    ASSERT_EQ(ours.result, 0u);
    int channels = 0, rate = 0;
    const std::vector<std::int16_t> theirs = testsupport::DecodeWithFfmpeg(out, &channels, &rate);
    ASSERT_EQ(channels, h.nChannels);
    const std::vector<std::int16_t> mine = acmtest::Samples16(ours.output);
    const long long ourFrames = static_cast<long long>(mine.size() / channels);
    const long long theirFrames = static_cast<long long>(theirs.size() / channels);
    // ffmpeg trims to the length the file's fact chunk states where there is one;
    // the data chunk alone gives up to a block more.
    EXPECT_GE(ourFrames, theirFrames);
    EXPECT_LE(ourFrames, theirFrames + 2048);
    EXPECT_GE(ourFrames, static_cast<long long>(t.rate / 2)) << "samples lost";
    const double snr = testsupport::SnrDb(theirs, mine);
    std::printf("[measure] %-26s frames ours=%lld ffmpeg=%lld snr=%.1f dB\n", t.name, ourFrames, theirFrames, snr);
    EXPECT_GE(snr, t.snrFloor);
}

std::string ToolCaseName(const testing::TestParamInfo<ToolCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Tools, ToolFile, testing::ValuesIn(ToolCases()), ToolCaseName);

}  // namespace
