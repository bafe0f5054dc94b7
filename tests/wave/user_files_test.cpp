// WAVE files as users get them from sox, ffmpeg and other writers (extensible
// format chunks, fact, LIST, bext, JUNK, cue and smpl chunks, RF64), each
// described and converted through the dialog into its own format, and the
// result decoded by ffmpeg sample for sample like the source.
#include "wavetest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>

namespace {

using namespace wavetest;
using testsupport::ReadBytes;
using testsupport::RunCommand;
using testsupport::ShellQuote;
using testsupport::TempDir;
using testsupport::WriteBytes;

const std::string kSuccess = "box icon=none caption=\"WAVTRN\" text=\"success\"\n";

// The destination: a chooser format equal to the source's own.
struct Destination {
    WAVEFORMATEX format;
    Bytes extra;
};

Destination Pcm(WORD bits, WORD channels = 1) { return {testsupport::PcmFormat(48000, bits, channels), {}}; }
Destination Float32() { return {testsupport::FloatFormat(48000, 32, 1), {}}; }
Destination Float64() { return {testsupport::FloatFormat(48000, 64, 1), {}}; }
// Extensible 16-bit at 48 kHz with the usual speaker mask for the count.
Destination Extensible(WORD channels, std::uint8_t mask) {
    WAVEFORMATEX f = testsupport::PcmFormat(48000, 16, channels);
    f.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    Bytes extra = {16, 0, mask, 0, 0, 0, 1, 0, 0, 0, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    return {f, extra};
}
Destination Surround51() { return Extensible(6, 0x3F); }

// Reads every chunk of a RIFF form after "WAVE" as (identifier, data).
std::vector<std::pair<std::string, Bytes>> ChunksOf(const Bytes& file) {
    std::vector<std::pair<std::string, Bytes>> chunks;
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::uint32_t size = U32At(file, at + 4);
        const std::size_t end = std::min<std::size_t>(file.size(), at + 8 + size);
        chunks.emplace_back(std::string(file.begin() + at, file.begin() + at + 4), Bytes(file.begin() + at + 8, file.begin() + end));
        at += 8 + size + (size & 1);
    }
    return chunks;
}

// Rebuilds a RIFF file with edited chunks.
Bytes Rebuilt(const Bytes& file, const std::function<void(std::vector<Bytes>&)>& edit) {
    std::vector<Bytes> chunks;
    for (const auto& [id, data] : ChunksOf(file)) chunks.push_back(Chunk(id, data));
    edit(chunks);
    return Form("WAVE", chunks);
}

struct UserFile {
    const char* name;
    std::string make;        // shell command writing $OUT from $IN (16-bit mono 48 kHz)
    std::function<Bytes(const Bytes&)> edit;  // applied to what make wrote
    Destination destination;
    bool fromInput = false;  // compared with $IN's decoding: ffmpeg misreads what make wrote
};

// Sizes as a recorder stopped before it closed its file leaves them: the
// form's size, and the data chunk's unless none is given.
std::function<Bytes(const Bytes&)> Unfilled(std::uint32_t riffSize, std::optional<std::uint32_t> dataSize = {}) {
    return [=](const Bytes& b) {
        Bytes out = b;
        std::memcpy(&out[4], &riffSize, 4);
        std::size_t at = 12;
        for (const auto& [id, data] : ChunksOf(b)) {
            if (id == "data" && dataSize) std::memcpy(&out[at + 4], &*dataSize, 4);
            at += 8 + data.size() + (data.size() & 1);
        }
        return out;
    };
}

std::ostream& operator<<(std::ostream& out, const UserFile& f) { return out << f.name; }

const std::string kSox = "sox -n -r 48000 ";
const std::string kTone = " synth 0.3 sine 440 vol 0.5";
// One tone per channel, so a channel out of place shows.
const std::string kSixTones = " synth 0.3 sine 440 sine 550 sine 660 sine 770 sine 880 sine 990 vol 0.5";
const std::string kFourTones = " synth 0.3 sine 300 sine 500 sine 700 sine 900 vol 0.5";
const std::string kFfmpeg = "ffmpeg -v error -y -i $IN ";

// The speaker mask of an extensible format chunk set to mask.
Bytes WithMask(const Bytes& b, std::uint32_t mask) {
    return Rebuilt(b, [mask](std::vector<Bytes>& c) {
        for (Bytes& chunk : c)
            if (std::string(chunk.begin(), chunk.begin() + 4) == "fmt ")
                for (int i = 0; i < 4; ++i) chunk[8 + 20 + i] = static_cast<std::uint8_t>(mask >> (8 * i));
    });
}

const UserFile kUserFiles[] = {
    {"SoxDefault", kSox + "$OUT" + kTone, nullptr, Pcm(32)},  // extensible 32-bit, then "fact"
    {"Sox16", kSox + "-b 16 $OUT" + kTone, nullptr, Pcm(16)},
    {"Sox24", kSox + "-b 24 $OUT" + kTone, nullptr, Pcm(24)},
    {"SoxFloat", kSox + "-e floating-point -b 32 $OUT" + kTone, nullptr, Float32()},
    {"SoxSixChannels", kSox + "-b 16 $OUT" + kSixTones, nullptr, Surround51()},
    // Four channels without speaker positions stay four channels, none mixed.
    {"FourChannelsTag1", kSox + "-c 4 -b 16 -t wavpcm $OUT" + kFourTones, nullptr, Extensible(4, 0x33)},
    {"FourChannelsMask0", kSox + "-c 4 -b 16 $OUT" + kFourTones, [](const Bytes& b) { return WithMask(b, 0); },
     Extensible(4, 0x33)},
    {"FourChannelsPartialMask", kSox + "-c 4 -b 16 $OUT" + kFourTones, [](const Bytes& b) { return WithMask(b, 0x3); },
     Extensible(4, 0x33)},
    {"FourChannels40ToQuad", kSox + "-c 4 -b 16 $OUT" + kFourTones, [](const Bytes& b) { return WithMask(b, 0x107); },
     Extensible(4, 0x33)},
    // Float above full scale keeps its headroom in a float destination.
    {"FloatPeakTwo", kFfmpeg + "-af volume=2 -c:a pcm_f32le $OUT", nullptr, Float64()},
    {"FfmpegDefault", kFfmpeg + "$OUT", nullptr, Pcm(16)},  // "LIST" before "data"
    {"FfmpegFloat", kFfmpeg + "-c:a pcm_f32le $OUT", nullptr, Float32()},
    {"FfmpegBext", kFfmpeg + "-write_bext 1 -metadata description=take $OUT", nullptr, Pcm(16)},
    {"FfmpegRf64", kFfmpeg + "-rf64 always $OUT", nullptr, Pcm(16)},
    // The file ends inside the data chunk that "ds64" says is longer.
    {"TruncatedRf64", kFfmpeg + "-rf64 always $OUT", [](const Bytes& b) { return Bytes(b.begin(), b.end() - 9001); },
     Pcm(16)},
    {"JunkBeforeFmt", "cp $IN $OUT",
     [](const Bytes& b) {
         return Rebuilt(b, [](std::vector<Bytes>& c) { c.insert(c.begin(), Chunk("JUNK", Bytes(28, 0))); });
     },
     Pcm(16)},
    {"CueAndSmplAfterData", "cp $IN $OUT",
     [](const Bytes& b) {
         return Rebuilt(b, [](std::vector<Bytes>& c) {
             c.push_back(Chunk("cue ", Bytes(28, 1)));
             c.push_back(Chunk("smpl", Bytes(60, 2)));
         });
     },
     Pcm(16)},
    {"OddChunkWithItsPad", "cp $IN $OUT",
     [](const Bytes& b) {
         return Rebuilt(b, [](std::vector<Bytes>& c) { c.insert(c.end() - 1, Chunk("odd ", Bytes{1, 2, 3})); });
     },
     Pcm(16)},
    {"SoxRifx16", "sox $IN -B $OUT", nullptr, Pcm(16), true},
    {"SoxRifx24", "sox $IN -B -b 24 $OUT", nullptr, Pcm(24), true},  // extensible, then "fact"
    {"SoxWave64", "sox $IN -t w64 $OUT", nullptr, Pcm(16)},
    {"FfmpegWave64", kFfmpeg + "-f w64 $OUT", nullptr, Pcm(16)},
    {"RiffAndDataSizesZero", "cp $IN $OUT", Unfilled(0, 0), Pcm(16)},
    {"RiffSizeEight", "cp $IN $OUT", Unfilled(8), Pcm(16)},
    {"StreamingPlaceholders", "cp $IN $OUT", Unfilled(0xFFFFFFFFu, 0xFFFFFFFFu), Pcm(16)},
};

// ffmpeg's decoding of a file as 64-bit floats, which holds every sample of
// 8- to 32-bit and float sources exactly.
std::string DecodeExactly(const std::string& path) {
    std::string out;
    RunCommand("ffmpeg -v error -i " + ShellQuote(path) + " -f f64le -acodec pcm_f64le - 2>/dev/null", &out);
    return out;
}

class UserFiles : public testing::TestWithParam<UserFile> {};

TEST_P(UserFiles, AreDescribedAndConvertSampleForSample) {
    const UserFile& c = GetParam();
    TempDir dir;
    const std::string in = dir.file("in.wav"), src = dir.file("src.wav"), dst = dir.file("dst.wav");
    ASSERT_EQ(RunCommand(kSox + "-b 16 " + ShellQuote(in) + kTone + " 2>/dev/null"), 0);
    std::string make = c.make;
    for (const auto& [var, path] : {std::pair{"$IN", in}, std::pair{"$OUT", src}})
        for (auto at = make.find(var); at != std::string::npos; at = make.find(var))
            make.replace(at, std::strlen(var), ShellQuote(path));
    ASSERT_EQ(RunCommand(make + " 2>/dev/null"), 0) << make;
    if (c.edit) WriteBytes(src, c.edit(ReadBytes(src)));

    const flow::Result r = flow::RunScript("text 101 " + src + "\nfocus 104\nclick 107\n" +
                                           ChooseLine(c.destination.format, c.destination.extra) + "text 104 " + dst +
                                           "\nclick 1\n");
    ASSERT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(CountOf(r.transcript, "label 103 "), 1) << r.transcript;
    EXPECT_EQ(r.transcript.find("unknown"), std::string::npos) << r.transcript;
    EXPECT_EQ(CountOf(r.transcript, "box "), 1) << r.transcript;
    EXPECT_EQ(CountOf(r.transcript, kSuccess), 1) << r.transcript;

    const std::string expected = DecodeExactly(c.fromInput ? in : src);
    ASSERT_GT(expected.size(), 48000u) << "ffmpeg did not decode the source";
    EXPECT_TRUE(DecodeExactly(dst) == expected) << "the converted samples differ from ffmpeg's decoding of the source";
}

INSTANTIATE_TEST_SUITE_P(Written, UserFiles, testing::ValuesIn(kUserFiles),
                         [](const testing::TestParamInfo<UserFile>& p) { return std::string(p.param.name); });

}  // namespace
