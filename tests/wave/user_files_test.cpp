// WAVE files as users get them from sox, ffmpeg and other writers (extensible
// format chunks, fact, LIST, bext, JUNK, cue and smpl chunks, RF64), each
// described and converted through the dialog into its own format, and the
// result decoded by ffmpeg sample for sample like the source; and files that
// carry metadata, whose chunks come along at the destination's rate.
#include "platform/acm/catalogue.h"
#include "support/scripted.h"
#include "wave/convert.h"
#include "wavetest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <sstream>

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

// ---------------------------------------------------------------------------
// Metadata: sources that carry it, each converted to its own format, to half
// its rate and to IMA ADPCM: the chunks in order, the positions at the new
// rate, and what ffprobe and sndfile-info read back.

Bytes Words(std::initializer_list<std::uint32_t> values) {
    Bytes b;
    for (std::uint32_t v : values) AppendU32(b, v);
    return b;
}
Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes Joined(const std::string& head, const std::vector<Bytes>& chunks) {
    Bytes b = Text(head);
    for (const Bytes& c : chunks) b.insert(b.end(), c.begin(), c.end());
    return b;
}

constexpr std::uint32_t kData = 0x61746164;  // "data"
constexpr std::uint64_t kHour = 44100ull * 3600;

// A 44,100 Hz source with every kind of chunk: title and time reference (one
// hour) before "data"; after it an iXML timestamp (one hour), cue points at
// 1 s and 66,151, a label 0.5 s long, a loop from 11,025 to 88,200, an ID3 tag
// and a chunk nobody knows.
Bytes EveryChunk(const Bytes& plain) {
    Bytes bext(602, 0);
    std::copy_n("A take", 6, bext.begin());
    for (int i = 0; i < 8; ++i) bext[338 + i] = static_cast<std::uint8_t>(kHour >> (8 * i));
    Append(bext, "A=PCM,F=44100,W=16,M=stereo,T=recorder\r\n");
    const std::string ixml = "<BWFXML><SPEED><TIMESTAMP_SAMPLE_RATE>44100</TIMESTAMP_SAMPLE_RATE>"
                             "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>0</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>"
                             "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>158760000</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></SPEED></BWFXML>";
    return Rebuilt(plain, [&](std::vector<Bytes>& c) {
        c.insert(c.end() - 1, Chunk("LIST", Joined("INFO", {Chunk("INAM", Text("Take one")), Chunk("IENG", Text("Someone"))})));
        c.insert(c.end() - 1, Chunk("bext", bext));
        c.push_back(Chunk("iXML", Text(ixml)));
        c.push_back(Chunk("cue ", Words({2, 1, 44100, kData, 0, 0, 44100, 2, 66151, kData, 0, 0, 66151})));
        c.push_back(Chunk("LIST", Joined("adtl", {Chunk("ltxt", Words({1, 22050, 0, 0, 0}))})));
        c.push_back(Chunk("smpl", Words({0, 0, 22676, 60, 0, 0, 0, 1, 0, 0, 0, 11025, 88200, 0, 0})));
        c.push_back(Chunk("id3 ", Text(std::string("ID3\3\0\0\0\0\0\0", 10))));
        c.push_back(Chunk("zzzz", Text("odd")));
    });
}

struct MetadataSource {
    const char* name;
    std::string make;  // shell command writing $OUT from $IN (the file of every chunk)
    bool cues;         // cue points and a loop survive the maker
};
std::ostream& operator<<(std::ostream& out, const MetadataSource& s) { return out << s.name; }

const MetadataSource kMetadataSources[] = {
    {"EveryChunk", "cp $IN $OUT", true},
    {"FfmpegBext", kFfmpeg + "-write_bext 1 -metadata title='Take one' -metadata time_reference=158760000 $OUT", false},
    {"SndfileConvert", "sndfile-convert $IN $OUT", true},
};

struct MetadataTarget {
    const char* name;
    WAVEFORMATEX format;
    std::vector<std::uint32_t> cues;  // positions and loop ends at the destination's rate
    std::uint32_t loopStart, loopEnd, labelLength;
    std::uint32_t period;  // smpl's sample period in ns; 0: as the source has it
    std::uint64_t timeReference;
};

const Bytes* Find(const std::vector<std::pair<std::string, Bytes>>& chunks, const std::string& id, const char* type = "") {
    for (const auto& [ckid, data] : chunks)
        if (ckid == id && std::equal(type, type + std::strlen(type), data.begin())) return &data;
    return nullptr;
}

std::string Tool(const std::string& command) {
    std::string out;
    RunCommand(command + " 2>/dev/null", &out);
    return out;
}

// sndfile-info's number after "key :" on each line that holds "marker".
std::vector<std::uint32_t> Numbers(const std::string& report, const std::string& marker, const std::string& key) {
    std::vector<std::uint32_t> numbers;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        const auto at = line.find(" " + key + " : ");
        if (line.find(marker) != std::string::npos && at != std::string::npos)
            numbers.push_back(static_cast<std::uint32_t>(std::stoul(line.substr(at + key.size() + 4))));
    }
    return numbers;
}

void ExpectMetadata(const MetadataSource& source, const std::string& src, const MetadataTarget& t, const std::string& out) {
    const auto before = ChunksOf(ReadBytes(src)), after = ChunksOf(ReadBytes(out));
    const bool same = t.format.wFormatTag == WAVE_FORMAT_PCM && t.format.nSamplesPerSec == 44100;
    // "fmt ", "data", "fact" where the data is not integer PCM, then the source's other chunks in its order.
    auto metadataOf = [](const std::vector<std::pair<std::string, Bytes>>& chunks) {
        std::vector<std::pair<std::string, Bytes>> kept;
        std::copy_if(chunks.begin(), chunks.end(), std::back_inserter(kept),
                     [](const auto& c) { return c.first != "fmt " && c.first != "data" && c.first != "fact"; });
        return kept;
    };
    std::vector<std::string> ids = {"fmt ", "data"}, idsAfter;
    if (t.format.wFormatTag != WAVE_FORMAT_PCM) ids.push_back("fact");
    for (const auto& [id, data] : metadataOf(before)) ids.push_back(id);
    for (const auto& [id, data] : after) idsAfter.push_back(id);
    EXPECT_EQ(idsAfter, ids);
    EXPECT_TRUE(!same || metadataOf(after) == metadataOf(before)) << "same format: every chunk byte for byte";

    const Bytes* bext = Find(after, "bext");
    ASSERT_NE(bext, nullptr);
    std::uint64_t reference = 0;
    for (int i = 7; i >= 0; --i) reference = reference << 8 | (*bext)[338 + i];
    EXPECT_EQ(reference, t.timeReference);
    const std::string history(bext->begin() + 602, bext->end());
    EXPECT_EQ(history.ends_with(",T=WAVTRN\r\n"), !same) << history;
    const std::string probe = " -v error -of default=nw=1:nk=1 " + ShellQuote(out);
    EXPECT_EQ(Tool("ffprobe -show_entries format_tags=title" + probe), "Take one\n");
    EXPECT_EQ(Tool("ffprobe -show_entries format_tags=time_reference" + probe), std::to_string(t.timeReference) + "\n");
    if (!source.cues) return;

    const std::string info = Tool("sndfile-info " + ShellQuote(out));
    EXPECT_EQ(Numbers(info, "Chunk : data", "Pos"), t.cues) << info;
    EXPECT_EQ(Numbers(info, "Chunk : data", "Offset"), t.cues) << info;
    EXPECT_EQ(Numbers(info, "Type :", "Start"), std::vector<std::uint32_t>{t.loopStart}) << info;
    EXPECT_EQ(Numbers(info, "Type :", "End"), std::vector<std::uint32_t>{t.loopEnd}) << info;
    if (t.period != 0) {
        EXPECT_EQ(Numbers(info, "nsec", "Period      "), std::vector<std::uint32_t>{t.period}) << info;
    }
    if (const Bytes* labels = Find(after, "LIST", "adtl")) {
        EXPECT_EQ(U32At(*labels, 16), t.labelLength);
    }
    if (const Bytes* ixml = Find(after, "iXML")) {
        const std::string text(ixml->begin(), ixml->end());
        EXPECT_NE(text.find(">" + std::to_string(t.format.nSamplesPerSec) + "</TIMESTAMP_SAMPLE_RATE>"), std::string::npos);
        EXPECT_NE(text.find(">" + std::to_string(t.timeReference) + "</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>"), std::string::npos);
    }
}

class Metadata : public testing::TestWithParam<MetadataSource> {};

TEST_P(Metadata, IsCarriedInOrderWithItsPositionsAtTheNewRate) {
    const MetadataSource& c = GetParam();
    TempDir dir;
    const std::string plain = dir.file("plain.wav"), every = dir.file("every.wav"), src = dir.file("src.wav");
    testsupport::WriteTestWave(plain, testsupport::PcmFormat(44100, 16, 2), 88200);
    WriteBytes(every, EveryChunk(ReadBytes(plain)));
    std::string make = c.make;
    make.replace(make.find("$IN"), 3, ShellQuote(c.cues ? every : plain));
    make.replace(make.find("$OUT"), 4, ShellQuote(src));
    ASSERT_EQ(RunCommand(make + " >/dev/null 2>&1"), 0) << make;

    const acm::CatalogueTag* ima = acm::FindTag(WAVE_FORMAT_IMA_ADPCM);
    ASSERT_NE(ima, nullptr);
    const auto at = std::find_if(ima->formats.begin(), ima->formats.end(), [](const acm::CatalogueFormat& f) {
        return f.Header().nSamplesPerSec == 44100 && f.Header().nChannels == 2;
    });
    ASSERT_NE(at, ima->formats.end());
    const std::vector<Bytes> blocks = {testsupport::FormatBytes(testsupport::PcmFormat(44100, 16, 2)),
                                       testsupport::FormatBytes(testsupport::PcmFormat(22050, 16, 2)), at->block};
    const MetadataTarget targets[] = {
        {"Same", testsupport::PcmFormat(44100, 16, 2), {44100, 66151}, 11025, 88200, 22050, 0, kHour},
        {"HalfRate", testsupport::PcmFormat(22050, 16, 2), {22050, 33076}, 5513, 44100, 11025, 45351, kHour / 2},
        {"ImaAdpcm", at->Header(), {44100, 66151}, 11025, 88200, 22050, 22676, kHour},
    };
    for (std::size_t i = 0; i < std::size(targets); ++i) {
        SCOPED_TRACE(targets[i].name);
        const std::string out = dir.file(std::string(targets[i].name) + ".wav");
        ScriptedBackend boxes;
        SetWindowBackend(&boxes);
        const int rc = ConvertWave(src.c_str(), out.c_str(), reinterpret_cast<const WAVEFORMATEX*>(blocks[i].data()),
                                   testsupport::BoxReporter());
        SetWindowBackend(nullptr);
        ASSERT_EQ(rc, 0);
        EXPECT_TRUE(boxes.Transcript().empty());
        ExpectMetadata(c, src, targets[i], out);
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, Metadata, testing::ValuesIn(kMetadataSources),
                         [](const testing::TestParamInfo<MetadataSource>& p) { return std::string(p.param.name); });

}  // namespace
