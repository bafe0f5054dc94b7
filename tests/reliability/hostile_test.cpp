// Hostile source files through the real dialog: each is described when the
// source field is left and converted to PCM when execute is pressed, and each
// gives exactly one of the outcomes a user can act on: a description in the
// source-format label, a failed check quoting its expression, a conversion of
// what is readable that ffprobe reads back, or a named refusal that leaves no
// file behind. Run under the sanitizer build, none may crash or leak.
#include "layouts.h"
#include "reliability.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

namespace {

using namespace reliability;
using testsupport::TempDir;

const char* const kRiffCheck = "SrcWaveFile.ckid==mmioStringToFOURCC(\"RIFF\",MMIO_TOUPPER)";
const char* const kWaveCheck = "SrcWaveFile.fccType==mmioStringToFOURCC(\"WAVE\",MMIO_TOUPPER)";
const char* const kFmtCheck = "SrcWaveFmt.ckid==mmioStringToFOURCC(\"fmt \",0)";
const char* const kFmtSizeCheck = "SrcWaveFmt.cksize<=sizeof(WAVEFORMATEX)+0xFFFF";
const char* const kDataCheck = "SrcWaveData.ckid==mmioStringToFOURCC(\"data\",0)";

const char* const kPcm = "PCM 8,000 Hz, 16 ビット, モノラル";
const char* const kPcmStereo = "PCM 8,000 Hz, 16 ビット, ステレオ";
const char* const kIma = "IMA ADPCM 8,000 Hz, 4 ビット, モノラル";
const char* const kMs = "MS ADPCM 8,000 Hz, 4 ビット, モノラル";
const char* const kGsm = "GSM 6.10 8,000 Hz, 13 kbit/s, モノラル";
const char* const kMp3 = "MPEG Layer-3 8,000 Hz, 8 kbit/s, モノラル";
const char* const kRefused = "ACMERR_NOTPOSSIBLE";

// What the label or the conversion must show.
struct Expect {
    enum Kind { Label, Check, Success, Box } kind;
    std::string text;        // the label, the checked expression or the box text
    long long frames = -1;   // Success: frames in the destination, -1 when not fixed
    Bytes tail;              // Success: the metadata chunks the destination ends with, byte for byte
    bool ffprobeReads = true;  // Success: false where ffprobe refuses the source as well; sox reads it
};
Expect Label(const std::string& text) { return {Expect::Label, text}; }
Expect Check(const std::string& expression) { return {Expect::Check, expression}; }
Expect Success(long long frames = -1) { return {Expect::Success, {}, frames}; }
Expect Refused(const std::string& name = kRefused) { return {Expect::Box, name}; }
Expect Carried(Bytes tail, long long frames = -1) { return {Expect::Success, {}, frames, std::move(tail)}; }
Expect ReadBySox(Expect e) {
    e.ffprobeReads = false;
    return e;
}

struct HostileCase {
    std::string name;
    std::function<Bytes()> file;
    Expect described;
    Expect converted;
    std::uint64_t sparseTail = 0;  // zero bytes the file is extended by, without writing them
};

std::ostream& operator<<(std::ostream& out, const HostileCase& c) { return out << c.name; }

// ---------------------------------------------------------------------------
// Building files

void Append(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }
void AppendU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A chunk with any size field; the pad byte follows odd data unless left out.
Bytes Chunk(const std::string& id, std::uint32_t sizeField, const Bytes& data, bool pad = true) {
    Bytes out;
    Append(out, id);
    AppendU32(out, sizeField);
    out.insert(out.end(), data.begin(), data.end());
    if (pad && data.size() % 2 != 0) out.push_back(0);
    return out;
}
Bytes Chunk(const std::string& id, const Bytes& data) {
    return Chunk(id, static_cast<std::uint32_t>(data.size()), data);
}

Bytes Form(const std::vector<Bytes>& chunks) {
    Bytes body;
    Append(body, "WAVE");
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes out;
    Append(out, "RIFF");
    AppendU32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes Wave(const Bytes& fmt, const Bytes& data) { return Form({Chunk("fmt ", fmt), Chunk("data", data)}); }

// A source with some fields of its format block changed.
Bytes WithFields(Source s, const std::function<void(Bytes&)>& edit) {
    edit(s.fmt);
    return Wave(s.fmt, s.data);
}

constexpr std::uint32_t kPcmFrames = 800;
// The encoded sources hold 4,000 frames in whole blocks, the last one padded:
// IMA ADPCM 8 blocks of 505 samples, MS ADPCM 8 of 500, GSM 14 of 320 (13, and
// one of silence that makes the blocks whole pairs).
constexpr long long kImaFrames = 8 * 505, kMsFrames = 8 * 500, kGsmFrames = 14 * 320;
// The sources are made when a case runs, not when the tables are listed.
using Get = Source (*)();
Source Pcm() { return PcmSource(kPcmFrames); }
Source ShortPcm() { return PcmSource(8); }
Source Ima() { return EncodedSource(WAVE_FORMAT_IMA_ADPCM); }
Source Ms() { return EncodedSource(WAVE_FORMAT_ADPCM); }
Source Gsm() { return EncodedSource(WAVE_FORMAT_GSM610); }
Source Mp3() { return EncodedSource(WAVE_FORMAT_MPEGLAYER3); }

// Field offsets in a format block.
constexpr std::size_t kChannels = 2, kRate = 4, kAvg = 8, kAlign = 12, kBits = 14, kCbSize = 16, kExtra = 18;

// ---------------------------------------------------------------------------
// Running one case

void ExpectCheckOnly(const std::string& transcript, const std::string& expression) {
    EXPECT_TRUE(HasFailedCheck(transcript, expression)) << transcript;
    std::size_t boxes = 0;
    for (auto at = transcript.find("box "); at != std::string::npos; at = transcript.find("box ", at + 1)) ++boxes;
    EXPECT_EQ(boxes, 1u) << transcript;
    EXPECT_EQ(transcript.find("label 103"), transcript.find("label 103 \"\"\n")) << "only a cleared label" << transcript;
}

void RunDescription(const std::string& src, const Expect& e) {
    const flow::Result r = flow::RunScript(Describe(src));
    ASSERT_EQ(r.exitStatus, 0) << r.errors;
    if (e.kind == Expect::Label) {
        EXPECT_EQ(r.transcript, "label 103 \"" + e.text + "\"\nend 2\n");
    } else {
        ASSERT_EQ(e.kind, Expect::Check);
        ExpectCheckOnly(r.transcript, e.text);
    }
}

void RunConversion(const TempDir& dir, const std::string& src, const Expect& e) {
    const std::string dst = dir.file("out.wav");
    const flow::Result r = flow::RunScript(Execute(src, dst));
    ASSERT_EQ(r.exitStatus, 0) << r.errors;
    const std::string boxes = BoxesOf(r.transcript);
    switch (e.kind) {
    case Expect::Success: {
        EXPECT_EQ(boxes, PlainBox("success") + "end 2\n");
        if (e.ffprobeReads) {
            const testsupport::ProbeResult p = testsupport::Probe(dst);
            EXPECT_TRUE(p.ok) << "ffprobe cannot read the destination";
            EXPECT_EQ(p.codec, "pcm_s16le");
            EXPECT_EQ(p.sampleRate, 8000);
            EXPECT_EQ(p.channels, 1);
        } else {
            EXPECT_EQ(testsupport::RunCommand("sox " + testsupport::ShellQuote(dst) + " -n 2>/dev/null"), 0);
        }
        const Bytes out = testsupport::ReadBytes(dst);
        ASSERT_GE(out.size(), 46u + e.tail.size());
        if (e.frames >= 0) {
            EXPECT_EQ(out.size() - 46 - e.tail.size() - (out.size() % 2), static_cast<std::size_t>(e.frames * 2));
        }
        EXPECT_TRUE(std::equal(e.tail.rbegin(), e.tail.rend(), out.rbegin())) << "the metadata chunks end the file";
        EXPECT_EQ(FilesIn(dir.path()), 2u) << Listing(dir.path());
        break;
    }
    case Expect::Box:
        EXPECT_EQ(FirstParagraphs(boxes), PlainBox(e.text) + "end 2\n");
        EXPECT_EQ(FilesIn(dir.path()), 1u) << Listing(dir.path());
        break;
    case Expect::Check:
        ExpectCheckOnly(r.transcript, e.text);
        EXPECT_EQ(FilesIn(dir.path()), 1u) << Listing(dir.path());
        break;
    default:
        FAIL() << "a conversion cannot end in a label";
    }
}


class HostileFile : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileFile, GivesItsOneOutcome) {
    const HostileCase& c = GetParam();
    TempDir dir;
    const std::string src = dir.file("in.wav");
    testsupport::WriteBytes(src, c.file());
    if (c.sparseTail > 0) std::filesystem::resize_file(src, std::filesystem::file_size(src) + c.sparseTail);
    {
        SCOPED_TRACE("described");
        RunDescription(src, c.described);
    }
    {
        SCOPED_TRACE("converted");
        RunConversion(dir, src, c.converted);
    }
}

std::string CaseName(const testing::TestParamInfo<HostileCase>& info) { return info.param.name; }

// ---------------------------------------------------------------------------
// The classes

// A format chunk shorter than the 16 bytes of the short PCM header: the block is
// zero-filled to 18 bytes, and a field the file does not hold reads as 0.
std::vector<HostileCase> ShortFormatChunks() {
    auto cut = [](Get get, std::size_t n) {
        return [get, n] {
            const Source s = get();
            return Wave(Bytes(s.fmt.begin(), s.fmt.begin() + static_cast<std::ptrdiff_t>(n)), s.data);
        };
    };
    return {
        {"Empty", cut(Pcm, 0), Label("unknown unknown"), Refused()},
        {"TagOnly", cut(Pcm, 2), Label("PCM unknown"), Refused()},
        {"NoBlockAlignment", cut(Pcm, 12), Label("PCM unknown"), Refused()},
        {"NoBitsPerSample", cut(Pcm, 14), Label("PCM unknown"), Refused()},
        {"OddFifteenBytesPadded", cut(Pcm, 15), Label(kPcm), Success(kPcmFrames)},
        // The IMA ADPCM decoder reads only the bits per sample it is told.
        {"ImaWithoutBitsPerSample", cut(Ima, 14), Label("IMA ADPCM unknown"), Refused()},
    };
}

// An extra-size field that claims more bytes than the chunk holds is cut to
// what the chunk holds.
std::vector<HostileCase> ExtraSizeBeyondChunk() {
    auto claim = [](Get get, std::uint16_t cbSize) {
        return [get, cbSize] { return WithFields(get(), [cbSize](Bytes& f) { Put16(f, kCbSize, cbSize); }); };
    };
    return {
        {"Pcm", claim(Pcm, 0xFFFF), Label(kPcm), Success(kPcmFrames)},
        {"Ima", claim(Ima, 0xFFFF), Label(kIma), Success(kImaFrames)},
        {"MsAdpcm", claim(Ms, 0xFFFF), Label(kMs), Success(kMsFrames)},
        {"Gsm", claim(Gsm, 3), Label(kGsm), Success(kGsmFrames)},
        {"Mp3", claim(Mp3, 0x8000), Label(kMp3), Success()},
        {"MsAdpcmWithoutItsTable",
         [] {
             Source s = Ms();
             s.fmt.resize(kExtra + 4);  // samples per block and coefficient count only
             return Wave(s.fmt, s.data);
         },
         Label(kMs), Success(kMsFrames)},
    };
}

// Format chunk sizes no format block can have, up to 2^32 - 1; the largest
// size a block can have is read.
std::vector<HostileCase> FormatChunkSizes() {
    auto sized = [](std::uint32_t size) {
        return [size] {
            const Source s = Pcm();
            return Form({Chunk("fmt ", size, s.fmt), Chunk("data", s.data)});
        };
    };
    return {
        {"Max", sized(0xFFFFFFFFu), Check(kFmtSizeCheck), Check(kFmtSizeCheck)},
        {"MaxEven", sized(0xFFFFFFFEu), Check(kFmtSizeCheck), Check(kFmtSizeCheck)},
        {"Negative", sized(0x80000000u), Check(kFmtSizeCheck), Check(kFmtSizeCheck)},
        {"LargestSigned", sized(0x7FFFFFFFu), Check(kFmtSizeCheck), Check(kFmtSizeCheck)},
        {"OneBeyondAnyBlock", sized(18 + 0xFFFF + 1), Check(kFmtSizeCheck), Check(kFmtSizeCheck)},
        {"LargestBlockPresent",
         [] {
             Source s = Pcm();
             s.fmt.resize(kExtra + 0xFFFF, 0);
             Put16(s.fmt, kCbSize, 0xFFFF);
             return Wave(s.fmt, s.data);
         },
         Label(kPcm), Success(kPcmFrames)},
        {"LargestBlockMissing", sized(18 + 0xFFFF), Label(kPcm), Check(kDataCheck)},
    };
}

std::vector<HostileCase> ZeroChannelsOrRate() {
    auto set16 = [](Get get, std::size_t at, std::uint16_t v) {
        return [get, at, v] { return WithFields(get(), [at, v](Bytes& f) { Put16(f, at, v); }); };
    };
    auto set32 = [](Get get, std::size_t at, std::uint32_t v) {
        return [get, at, v] { return WithFields(get(), [at, v](Bytes& f) { Put32(f, at, v); }); };
    };
    return {
        {"PcmNoChannels", set16(Pcm, kChannels, 0), Label("PCM unknown"), Refused()},
        {"PcmNoRate", set32(Pcm, kRate, 0), Label("PCM unknown"), Refused()},
        {"ImaNoChannels", set16(Ima, kChannels, 0), Label("IMA ADPCM unknown"), Refused()},
        {"ImaNoRate", set32(Ima, kRate, 0), Label("IMA ADPCM unknown"), Refused()},
        {"GsmNoChannels", set16(Gsm, kChannels, 0), Label("GSM 6.10 unknown"), Refused()},
        {"Mp3NoRate", set32(Mp3, kRate, 0), Label("MPEG Layer-3 unknown"), Refused()},
    };
}

std::vector<HostileCase> BlockAlignments() {
    auto align = [](Get get, std::uint16_t v) {
        return [get, v] { return WithFields(get(), [v](Bytes& f) { Put16(f, kAlign, v); }); };
    };
    auto pcm = [](std::uint16_t a, std::uint16_t bits) {
        return [a, bits] {
            return WithFields(Pcm(), [a, bits](Bytes& f) {
                Put16(f, kAlign, a);
                Put16(f, kBits, bits);
            });
        };
    };
    auto stereo = [](std::uint16_t v) {
        return [v] {
            Source s = Pcm();
            Put16(s.fmt, kChannels, 2);
            Put16(s.fmt, kAlign, v);
            return Wave(s.fmt, s.data);
        };
    };
    return {
        // An alignment that holds no whole sample per channel is read by the
        // channels and bits, as ffprobe reads it.
        {"PcmZero", align(Pcm, 0), Label(kPcm), Success(kPcmFrames)},
        {"PcmStereoHalfASample", stereo(2), Label(kPcmStereo), Success(kPcmFrames / 2)},
        {"PcmStereoOddBytes", stereo(5), Label(kPcmStereo), Success(kPcmFrames / 2)},
        // A wider block than the bits need: each sample sits in a wider container.
        {"PcmMonoThreeByteContainer", align(Pcm, 3), Label(kPcm), Success(kPcmFrames * 2 / 3)},
        {"PcmMonoFourByteContainer", align(Pcm, 4), Label(kPcm), Success(kPcmFrames / 2)},
        {"PcmMonoFiveBytes", align(Pcm, 5), Label(kPcm), Success(kPcmFrames)},
        {"ImaZero", align(Ima, 0), Label("IMA ADPCM unknown"), Refused()},
        {"ImaSmallerThanItsHeader", align(Ima, 3), Label("IMA ADPCM unknown"), Refused()},
        {"ImaStereoSmallerThanItsHeaders",
         [] {
             return WithFields(Ima(), [](Bytes& f) {
                 Put16(f, kChannels, 2);
                 Put16(f, kAlign, 7);
             });
         },
         Label("IMA ADPCM unknown"), Refused()},
        // Blocks read 255 bytes apart: the first gives 1 + 251 / 4 * 8 samples, the
        // others begin inside a block with an impossible step index and are dropped.
        {"ImaOdd", align(Ima, 255), Label(kIma), Success(497)},
        // The whole data chunk is one short final block: 1 + (2048 - 4) / 4 * 8 samples.
        {"ImaHuge", align(Ima, 0xFFFF), Label(kIma), Success(4089)},
        {"MsAdpcmZero", align(Ms, 0), Label("MS ADPCM unknown"), Refused()},
        {"MsAdpcmSmallerThanItsHeader", align(Ms, 6), Label("MS ADPCM unknown"), Refused()},
        {"MsAdpcmHeaderOnly", align(Ms, 7), Label(kMs), Success()},
        {"GsmZero", align(Gsm, 0), Label("GSM 6.10 unknown"), Refused()},
        // The GSM decoder reads 65-byte blocks and the shorter ones of 41 + 3n bytes only.
        {"GsmOne", align(Gsm, 1), Label("GSM 6.10 unknown"), Refused()},
        {"GsmSixtyFour", align(Gsm, 64), Label("GSM 6.10 unknown"), Refused()},
        // 8-bit samples are read one byte each whatever the alignment says; 24-bit
        // ones in 4-byte containers and 64-bit samples as the alignment says.
        {"PcmEightBitStereoWithWordAlignment",
         [] {
             return WithFields(Pcm(), [](Bytes& f) {
                 Put16(f, kChannels, 2);
                 Put16(f, kAlign, 4);
                 Put16(f, kBits, 8);
             });
         },
         Label("PCM 8,000 Hz, 8 ビット, ステレオ"), Success(kPcmFrames)},
        {"Pcm24BitsInFourBytes", pcm(4, 24), Label("PCM 8,000 Hz, 24 ビット, モノラル"), Success(kPcmFrames / 2)},
        {"Pcm64Bits", pcm(8, 64), Label("PCM 8,000 Hz, 64 ビット, モノラル"), Success(kPcmFrames / 4)},
        {"MsAdpcmEightChannels",
         [] {
             return WithFields(Ms(), [](Bytes& f) {
                 Put16(f, kChannels, 8);
                 Put16(f, kAlign, 2048);
             });
         },
         Label("MS ADPCM unknown"), Refused()},
    };
}

std::vector<HostileCase> SamplesPerBlock() {
    auto spb = [](Get get, std::uint16_t v) {
        return [get, v] { return WithFields(get(), [v](Bytes& f) { Put16(f, kExtra, v); }); };
    };
    return {
        {"ImaZero", spb(Ima, 0), Label(kIma), Success(kImaFrames)},
        {"ImaOne", spb(Ima, 1), Label(kIma), Success(kImaFrames)},
        {"ImaTooMany", spb(Ima, 2000), Label(kIma), Success(kImaFrames)},
        {"MsAdpcmZero", spb(Ms, 0), Label(kMs), Success(kMsFrames)},
        {"MsAdpcmTooMany", spb(Ms, 60000), Label(kMs), Success(kMsFrames)},
    };
}

std::vector<HostileCase> MsAdpcmCoefficients() {
    auto count = [](std::uint16_t v) {
        return [v] { return WithFields(Ms(), [v](Bytes& f) { Put16(f, kExtra + 2, v); }); };
    };
    return {
        {"None", count(0), Label(kMs), Success(kMsFrames)},
        {"Huge", count(0xFFFF), Label(kMs), Success(kMsFrames)},
        {"Eight", count(8), Label(kMs), Success(kMsFrames)},
        {"WildValues",
         [] {
             return WithFields(Ms(), [](Bytes& f) {
                 for (std::size_t at = kExtra + 4; at + 1 < f.size(); at += 2) Put16(f, at, 0x8000);
             });
         },
         Label(kMs), Success(kMsFrames)},
    };
}

std::vector<HostileCase> GsmAndMp3Extra() {
    auto edit = [](Get get, std::function<void(Bytes&)> e) { return [get, e] { return WithFields(get(), e); }; };
    auto noExtra = [](Get get) {
        return [get] {
            Source s = get();
            s.fmt.resize(kExtra);
            Put16(s.fmt, kCbSize, 0);
            return Wave(s.fmt, s.data);
        };
    };
    auto fillExtra = [](std::uint8_t v) {
        return [v](Bytes& f) { std::fill(f.begin() + kExtra, f.end(), v); };
    };
    return {
        {"GsmNoExtra", noExtra(Gsm), Label(kGsm), Success(kGsmFrames)},
        {"GsmZeroSamplesPerBlock", edit(Gsm, [](Bytes& f) { Put16(f, kExtra, 0); }), Label(kGsm), Success(kGsmFrames)},
        {"GsmOddSamplesPerBlock", edit(Gsm, [](Bytes& f) { Put16(f, kExtra, 9999); }), Label(kGsm),
         Success(kGsmFrames)},
        {"GsmPlainFrames", edit(Gsm, [](Bytes& f) { Put16(f, kAlign, 33); }), Label("GSM 6.10 unknown"), Refused()},
        {"GsmStereo", edit(Gsm, [](Bytes& f) { Put16(f, kChannels, 2); }), Label("GSM 6.10 8,000 Hz, 13 kbit/s, ステレオ"),
         Success(kGsmFrames)},
        {"Mp3NoExtra", noExtra(Mp3), Label(kMp3), Success()},
        {"Mp3ZeroFields", edit(Mp3, fillExtra(0)), Label(kMp3), Success()},
        {"Mp3AllOnes", edit(Mp3, fillExtra(0xFF)), Label(kMp3), Success()},
        {"Mp3NoBitRate", edit(Mp3, [](Bytes& f) { Put32(f, kAvg, 0); }), Label("MPEG Layer-3 8,000 Hz, モノラル"), Success()},
    };
}

// The data chunk's size against the file's end.
std::vector<HostileCase> DataSizes() {
    auto sized = [](Get get, std::uint32_t size) {
        return [get, size] {
            const Source s = get();
            return Form({Chunk("fmt ", s.fmt), Chunk("data", size, s.data)});
        };
    };
    auto longer = [](Get get) {
        return [get] {
            const Source s = get();
            const auto claimed = static_cast<std::uint32_t>(s.data.size() + 100000);
            return Form({Chunk("fmt ", s.fmt), Chunk("data", claimed, s.data)});
        };
    };
    // The form and data sizes as given, then what follows the data chunk's header.
    auto unfilled = [](std::uint32_t riffSize, std::uint32_t dataSize, Bytes (*after)()) {
        return [=] {
            Bytes b = Form({Chunk("fmt ", Pcm().fmt), Chunk("data", dataSize, {})});
            const Bytes tail = after();
            b.insert(b.end(), tail.begin(), tail.end());
            Put32(b, 4, riffSize);
            return b;
        };
    };
    auto samples = [] { return Pcm().data; };
    auto withFact = [](Get get, std::uint32_t frames, bool afterData) {
        return [=] {
            const Source s = get();
            Bytes fact;
            AppendU32(fact, frames);
            if (afterData) return Form({Chunk("fmt ", s.fmt), Chunk("data", s.data), Chunk("fact", fact)});
            return Form({Chunk("fmt ", s.fmt), Chunk("fact", fact), Chunk("data", s.data)});
        };
    };
    return {
        {"PcmStreaming", sized(Pcm, 0xFFFFFFFFu), Label(kPcm), Success(kPcmFrames)},
        {"ImaBeyondTheFile", longer(Ima), Label(kIma), Success(kImaFrames)},
        {"ImaStreaming", sized(Ima, 0xFFFFFFFFu), Label(kIma), Success(kImaFrames)},
        {"MsAdpcmStreaming", sized(Ms, 0xFFFFFFFFu), Label(kMs), Success(kMsFrames)},
        {"GsmStreaming", sized(Gsm, 0xFFFFFFFFu), Label(kGsm), Success(kGsmFrames)},
        {"Mp3Streaming", sized(Mp3, 0xFFFFFFFFu), Label(kMp3), Success()},
        {"EmptyDataThenBytes", sized(Pcm, 0), Label(kPcm), Success(0)},
        {"RiffSizeZero",
         [] {
             Bytes b = Wave(Pcm().fmt, Pcm().data);
             Put32(b, 4, 0);
             return b;
         },
         Label(kPcm), Success(kPcmFrames)},
        // Sizes never filled in: the data runs to the end of the file, unless a
        // chunk header follows an empty data chunk at once.
        {"RiffAndDataSizesZero", unfilled(0, 0, samples), Label(kPcm), Success(kPcmFrames)},
        {"HeadWrittenFirst", unfilled(4 + 26 + 8, 0, samples), Label(kPcm), Success(kPcmFrames)},
        {"RiffSizeEight", unfilled(8, kPcmFrames * 2, samples), Label(kPcm), Success(kPcmFrames)},
        {"RiffSizeEightDataZero", unfilled(8, 0, samples), Label(kPcm), Success(kPcmFrames)},
        {"EmptyDataThenGarbage", unfilled(0, 0, [] { return Bytes(1000, 0x80); }), Label(kPcm), Success(500)},
        {"EmptyDataThenAChunk", unfilled(0, 0, [] { return Chunk("LIST", Bytes{'I', 'N', 'F', 'O'}); }), Label(kPcm),
         Carried(Chunk("LIST", Bytes{'I', 'N', 'F', 'O'}), 0)},
        // A "fact" length is kept only where it falls within the last block.
        {"ImaFactBeforeData", withFact(Ima, 4000, false), Label(kIma), Success(4000)},
        {"ImaFactAfterData", withFact(Ima, 4000, true), Label(kIma), Success(4000)},
        {"ImaFactLargerThanData", withFact(Ima, 100000, false), Label(kIma), Success(kImaFrames)},
        {"ImaFactZero", withFact(Ima, 0, false), Label(kIma), Success(kImaFrames)},
        {"ImaFactTooShort", [] { return Form({Chunk("fmt ", Ima().fmt), Chunk("fact", Bytes{1, 2}), Chunk("data", Ima().data)}); },
         Label(kIma), Success(kImaFrames)},
        {"PcmWithFact", withFact(Pcm, 10, false), Label(kPcm), Success(kPcmFrames)},
    };
}

// The PCM source as RIFX (sizes, format fields and samples big-endian) and as
// Wave64 (GUIDs, 64-bit sizes), with sizes that lie and files cut short.
std::vector<HostileCase> RifxAndWave64() {
    auto rifx = [](std::size_t at, std::uint32_t bigEndian) {
        return [at, bigEndian] {
            Bytes b = fuzzing::AsRifx(Wave(Pcm().fmt, Pcm().data));
            for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(bigEndian >> (24 - 8 * i));
            return b;
        };
    };
    // Form, format and data chunks at 0, 40 and 120; sizes count the 24-byte
    // headers. The size of the chunk at 'at' is set, or the file cut after 'cut' bytes.
    auto wave64 = [](std::size_t at, std::uint64_t size, std::size_t cut = 0) {
        return [=] {
            Bytes b = fuzzing::AsWave64(Wave(Pcm().fmt, Pcm().data));
            if (cut != 0) return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(cut));
            Put32(b, at + 16, static_cast<std::uint32_t>(size));
            Put32(b, at + 20, static_cast<std::uint32_t>(size >> 32));
            return b;
        };
    };
    const std::uint32_t dataSize = kPcmFrames * 2;
    constexpr std::size_t kRifxData = 12 + 8 + 18 + 4;  // where the data chunk's size field stands
    return {
        {"RifxFormBeyondTheFile", rifx(4, 0xFFFFFFF0u), Label(kPcm), Success(kPcmFrames)},
        {"RifxDataBeyondTheFile", rifx(kRifxData, dataSize + 100000), Label(kPcm), Success(kPcmFrames)},
        // Sizes written little-endian read as huge big-endian ones.
        {"RifxFormatSizeLittleEndian", rifx(16, 18u << 24), Check(kFmtSizeCheck), Check(kFmtSizeCheck)},
        {"RifxFormatSizeBeyondTheForm", rifx(16, 0x100), Label(kPcm), Check(kDataCheck)},
        {"Wave64DataBeyondTheFile", wave64(120, 24 + dataSize + 100000), Label(kPcm), Success(kPcmFrames)},
        {"Wave64FormNearTwoTo64", wave64(0, ~0ull), Label(kPcm), Success(kPcmFrames)},
        {"Wave64DataNearTwoTo64", wave64(120, ~0ull - 7), Label(kPcm), Success(kPcmFrames)},
        {"Wave64DataSizeZero", wave64(120, 0), Label(kPcm), Success(kPcmFrames)},
        // A size smaller than the header it counts ends the search.
        {"Wave64FormatSizeBelowItsHeader", wave64(40, 8), Check(kFmtCheck), Check(kFmtCheck)},
        {"Wave64CutInsideTheDataGuid", wave64(0, 0, 120 + 10), Label(kPcm), Check(kDataCheck)},
        {"Wave64CutInsideTheFirstGuid", wave64(0, 0, 10), Check(kRiffCheck), Check(kRiffCheck)},
    };
}

// Chunks of odd size: the reader skips the pad byte the writer owes.
std::vector<HostileCase> OddChunks() {
    return {
        {"FormatWithoutPad",
         [] {
             Source s = Pcm();
             s.fmt.push_back(0x55);
             Put16(s.fmt, kCbSize, 1);
             return Form({Chunk("fmt ", 19, s.fmt, false), Chunk("data", s.data)});
         },
         Label(kPcm), Check(kDataCheck)},
        {"FormatWithPad",
         [] {
             Source s = Pcm();
             s.fmt.push_back(0x55);
             Put16(s.fmt, kCbSize, 1);
             return Wave(s.fmt, s.data);
         },
         Label(kPcm), Success(kPcmFrames)},
        {"DataWithoutPadAtTheEnd",
         [] {
             Source s = Pcm();
             s.data.push_back(0x11);
             const auto size = static_cast<std::uint32_t>(s.data.size());
             return Form({Chunk("fmt ", s.fmt), Chunk("data", size, s.data, false)});
         },
         Label(kPcm), Success(kPcmFrames)},
        {"DataHalfASampleLong",
         [] {
             Source s = Pcm();
             s.data.push_back(0x11);
             return Wave(s.fmt, s.data);
         },
         Label(kPcm), Success(kPcmFrames)},
    };
}

// Chunks found by search: lying sizes and endless runs end it; 64-bit forms
// take their sizes from "ds64".
std::vector<HostileCase> ChunkSearch() {
    auto around = [](std::vector<Bytes> before, std::vector<Bytes> between) {
        return [before, between] {
            const Source s = Pcm();
            std::vector<Bytes> chunks = before;
            chunks.push_back(Chunk("fmt ", s.fmt));
            chunks.insert(chunks.end(), between.begin(), between.end());
            chunks.push_back(Chunk("data", s.data));
            return Form(chunks);
        };
    };
    auto wide = [](std::uint64_t riffSize, std::uint64_t dataSize, const char* first) {
        return [=] {
            const Source s = Pcm();
            Bytes ds64(28, 0);
            for (int i = 0; i < 8; ++i) {
                ds64[i] = static_cast<std::uint8_t>(riffSize >> (8 * i));
                ds64[8 + i] = static_cast<std::uint8_t>(dataSize >> (8 * i));
            }
            Bytes b;
            Append(b, "RF64");
            AppendU32(b, 0xFFFFFFFFu);
            Append(b, "WAVE");
            for (const Bytes& c : {Chunk(first, ds64), Chunk("fmt ", s.fmt), Chunk("data", 0xFFFFFFFFu, s.data)})
                b.insert(b.end(), c.begin(), c.end());
            return b;
        };
    };
    const std::vector<Bytes> emptyRun(70000, Chunk("PAD ", {}));
    return {
        {"JunkRunsPastTheForm", around({Chunk("JUNK", 0x10000, {})}, {}), Check(kFmtCheck), Check(kFmtCheck)},
        {"ListRunsPastTheForm", around({}, {Chunk("LIST", 0x10000, Bytes(8, 0))}), Label(kPcm), Check(kDataCheck)},
        {"SizeAllOnes", around({}, {Chunk("LIST", 0xFFFFFFFFu, {})}), Label(kPcm), Check(kDataCheck)},
        {"LongRunOfEmptyChunks", around({}, emptyRun), Label(kPcm), Check(kDataCheck)},
        {"EmptyChunksBeforeEverything", around(std::vector<Bytes>(1000, Chunk("PAD ", {})), {}), Label(kPcm),
         Success(kPcmFrames)},
        {"Ds64SizesBeyondTheFile", wide(0xFFFFFFFFFFull, 0xFFFFFFFF00ull, "ds64"), Label(kPcm), Success(kPcmFrames)},
        {"Rf64WithoutDs64", wide(0, 0, "JUNK"), Check(kRiffCheck), Check(kRiffCheck)},
    };
}

// Metadata chunks after "data". Converted from 16,000 to 8,000 Hz, a chunk
// whose layout is broken is copied byte for byte rather than rescaled; a chunk
// too large to carry is left out (never read), and a long run of small ones is
// carried whole.
std::vector<HostileCase> MetadataChunks() {
    auto after = [](std::uint32_t rate, std::vector<Bytes> chunks, std::uint32_t cbUnwritten = 0) {
        return [=] {
            Source s = Pcm();
            Put32(s.fmt, kRate, rate);
            Put32(s.fmt, kAvg, rate * 2);
            std::vector<Bytes> all = {Chunk("fmt ", s.fmt), Chunk("data", s.data)};
            all.insert(all.end(), chunks.begin(), chunks.end());
            Bytes b = Form(all);
            Put32(b, 4, static_cast<std::uint32_t>(b.size() - 8 + cbUnwritten));
            return b;
        };
    };
    auto joined = [](const std::string& head, const std::vector<Bytes>& chunks) {
        Bytes b(head.begin(), head.end());
        for (const Bytes& c : chunks) b.insert(b.end(), c.begin(), c.end());
        return b;
    };
    const Bytes labels = Chunk("LIST", joined("adtl", {Chunk("ltxt", 400, Bytes(20, 1))}));
    const Bytes cue = Chunk("cue ", joined("", {Bytes{0xE8, 0x03, 0, 0}, Bytes(24, 2)}));  // 1,000 points, one held
    const Bytes bext = Chunk("bext", Bytes(100, 'b'));
    const Bytes ixml = Chunk("iXML", joined("<TIMESTAMP_SAMPLE_RATE>16000</TIMESTAMP_SAMPLE_RATE> no BWFXML", {}));
    const Bytes note = Chunk("note", Bytes{1, 2});
    const std::vector<Bytes> run(70000, Chunk("tiny", Bytes{7, 7}));
    constexpr std::uint32_t kGiB = 1u << 30;
    const std::string k16 = "PCM 16,000 Hz, 16 ビット, モノラル";
    return {
        {"ListSubChunksRunPastIt", after(16000, {labels}), Label(k16), Carried(labels)},
        {"CueCountBeyondTheChunk", after(16000, {cue}), Label(k16), Carried(cue)},
        // ffmpeg reads a bext chunk's fixed fields past its end, and so refuses
        // a file that ends with a short one; the copy keeps that as it was.
        {"BextShorterThanItsFields", after(16000, {bext}), Label(k16), ReadBySox(Carried(bext))},
        {"IxmlThatIsNotXml", after(16000, {ixml}), Label(k16), Carried(ixml)},
        {"UnknownChunkOfOneGibibyte", after(8000, {note, Chunk("big ", kGiB, {})}, kGiB), Label(kPcm),
         Carried(note, kPcmFrames), kGiB},
        {"SeventyThousandSmallChunks", after(8000, run), Label(kPcm), Carried(joined("", run), kPcmFrames)},
    };
}

// The file ends inside the last block of a compressed stream.
std::vector<HostileCase> TruncatedFinalBlocks() {
    auto cut = [](Get get, std::size_t less) {
        return [get, less] {
            const Source s = get();
            Bytes b = Wave(s.fmt, s.data);
            b.resize(b.size() - less);
            return b;
        };
    };
    return {
        // What the last block holds is decoded: 156 bytes give 1 + 152 / 4 * 8 samples.
        {"Ima", cut(Ima, 100), Label(kIma), Success(7 * 505 + 305)},
        // Two bytes of the last block are less than its header: the block gives nothing.
        {"ImaInsideTheBlockHeader", cut(Ima, 254), Label(kIma), Success(7 * 505)},
        // 155 bytes give 2 + (155 - 7) * 2 samples.
        {"MsAdpcm", cut(Ms, 101), Label(kMs), Success(7 * 500 + 298)},
        // GSM frames are decoded whole or not at all (the pad byte goes first).
        {"Gsm", cut(Gsm, 30), Label(kGsm), Success(13 * 320)},
        {"Mp3", cut(Mp3, 7), Label(kMp3), Success()},
    };
}

std::vector<HostileCase> AbsurdChannelsAndRates() {
    auto channels = [](std::uint16_t n) {
        return [n] {
            return WithFields(Pcm(), [n](Bytes& f) {
                Put16(f, kChannels, n);
                Put16(f, kAlign, static_cast<std::uint16_t>(2 * n));
            });
        };
    };
    auto rate = [](Get get, std::uint32_t r) {
        return [get, r] { return WithFields(get(), [r](Bytes& f) { Put32(f, kRate, r); }); };
    };
    return {
        {"Channels65535", channels(65535), Label("PCM unknown"), Refused()},
        {"Channels65", channels(65), Label("PCM unknown"), Refused()},
        // 64 channels name no speakers: the mix to mono averages them all.
        {"Channels64", channels(64), Label("PCM 8,000 Hz, 16 ビット, 64 チャンネル"), Success(kPcmFrames / 64)},
        {"ImaChannels65535",
         [] { return WithFields(Ima(), [](Bytes& f) { Put16(f, kChannels, 65535); }); },
         Label("IMA ADPCM unknown"), Refused()},
        // Resampling more than 64 times up or down is refused: a block of such a
        // file would become gigabytes of output in one pass. A rate is described
        // only when it reaches both 8,000 and 44,100 Hz within that.
        {"RateOne", rate(ShortPcm, 1), Label("PCM unknown"), Refused()},
        {"RateAtTheRatioLimit", rate(ShortPcm, 125), Label("PCM unknown"), Success(8 * 64)},
        {"RateLowestDescribed", rate(ShortPcm, 690), Label("PCM 690 Hz, 16 ビット, モノラル"), Success()},
        {"RateMax", rate(Pcm, 0xFFFFFFFFu), Label("PCM unknown"), Refused()},
        {"RateBeyondAMillion", rate(Pcm, 1000001), Label("PCM unknown"), Refused()},
        {"ImaRateMax", rate(Ima, 0xFFFFFFFFu), Label("IMA ADPCM unknown"), Refused()},
    };
}

// WAVE_FORMAT_EXTENSIBLE blocks whose sub-format no codec reads.
std::vector<HostileCase> ExtensibleSubFormats() {
    auto extensible = [](std::function<void(Bytes&)> edit) {
        return [edit] {
            Source s = Pcm();
            Put16(s.fmt, 0, WAVE_FORMAT_EXTENSIBLE);
            Put16(s.fmt, kCbSize, 22);
            s.fmt.resize(kExtra + 22, 0);
            Put16(s.fmt, kExtra, 16);          // valid bits
            Put32(s.fmt, kExtra + 2, 0x4);     // front centre
            Put32(s.fmt, kExtra + 6, 0x0001);  // PCM
            const std::uint8_t tail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
            std::copy(std::begin(tail), std::end(tail), s.fmt.begin() + kExtra + 10);
            edit(s.fmt);
            return Wave(s.fmt, s.data);
        };
    };
    return {
        {"PcmAsAControl", extensible([](Bytes&) {}), Label("Extensible 8,000 Hz, 16 ビット, モノラル"),
         Success(kPcmFrames)},
        {"UnknownTag", extensible([](Bytes& f) { Put32(f, kExtra + 6, 0x7777); }), Label("Extensible unknown"),
         Refused()},
        {"TagZero", extensible([](Bytes& f) { Put32(f, kExtra + 6, 0); }), Label("Extensible unknown"), Refused()},
        {"ForeignGuid", extensible([](Bytes& f) { f[kExtra + 20] = 0x12; }), Label("Extensible unknown"),
         Refused()},
        {"ExtensibleInside", extensible([](Bytes& f) { Put32(f, kExtra + 6, WAVE_FORMAT_EXTENSIBLE); }),
         Label("Extensible unknown"), Refused()},
        {"TooShort",
         extensible([](Bytes& f) {
             f.resize(kExtra + 10);
             Put16(f, kCbSize, 10);
         }),
         Label("Extensible unknown"), Refused()},
    };
}

// ---------------------------------------------------------------------------
// Files cut at every byte of their head: each cut gives the outcome its range
// of cut points calls for.

struct CutRange {
    std::size_t from, to;  // cut points, both included
    Expect described;
    Expect converted;
    std::function<long long(std::size_t)> frames;  // Success: frames for a cut point
};

void SweepCuts(const Bytes& whole, const std::vector<CutRange>& ranges) {
    std::size_t next = 0;
    for (const CutRange& range : ranges) {
        ASSERT_EQ(range.from, next) << "the ranges must cover every cut point";
        next = range.to + 1;
        for (std::size_t cut = range.from; cut <= range.to; ++cut) {
            SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
            TempDir dir;
            const std::string src = dir.file("in.wav");
            testsupport::WriteBytes(src, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
            Expect converted = range.converted;
            if (range.frames) converted.frames = range.frames(cut);
            RunDescription(src, range.described);
            RunConversion(dir, src, converted);
        }
    }
}

// PCM with an 18-byte format chunk: the head is 46 bytes, then 2 bytes a frame.
TEST(CutFile, PcmAtEveryByteOfItsHead) {
    const Source s = PcmSource(100);
    const Bytes whole = Wave(s.fmt, s.data);
    ASSERT_EQ(whole.size(), 246u);
    SweepCuts(whole, {
        {0, 11, Check(kRiffCheck), Check(kRiffCheck), nullptr},           // no complete RIFF head
        {12, 19, Check(kFmtCheck), Check(kFmtCheck), nullptr},            // no complete format chunk head
        {20, 20, Label("unknown unknown"), Check(kDataCheck), nullptr},   // no format tag
        {21, 34, Label("PCM unknown"), Check(kDataCheck), nullptr},       // channels, rate, alignment or bits missing
        {35, 45, Label(kPcm), Check(kDataCheck), nullptr},                // the block is whole, no data chunk head
        {46, 52, Label(kPcm), Success(), [](std::size_t cut) { return static_cast<long long>((cut - 46) / 2); }},
    });
}

// IMA ADPCM with its 20-byte format chunk: the head is 48 bytes, then the first
// 256-byte block, whose 4-byte header gives one sample and each further 4 bytes
// eight more.
TEST(CutFile, ImaAdpcmAtEveryByteOfItsHead) {
    const Source s = Ima();
    const Bytes whole = Wave(s.fmt, s.data);
    ASSERT_EQ(s.fmt.size(), 20u);
    SweepCuts(whole, {
        {0, 11, Check(kRiffCheck), Check(kRiffCheck), nullptr},
        {12, 19, Check(kFmtCheck), Check(kFmtCheck), nullptr},
        {20, 20, Label("unknown unknown"), Check(kDataCheck), nullptr},
        {21, 34, Label("IMA ADPCM unknown"), Check(kDataCheck), nullptr},  // channels, rate, alignment or bits missing
        {35, 47, Label(kIma), Check(kDataCheck), nullptr},
        {48, 51, Label(kIma), Success(0), nullptr},  // less than a block header
        {52, 60, Label(kIma), Success(),
         [](std::size_t cut) { return static_cast<long long>(1 + (cut - 52) / 4 * 8); }},
    });
}

INSTANTIATE_TEST_SUITE_P(ShortFormatChunk, HostileFile, testing::ValuesIn(ShortFormatChunks()), CaseName);
INSTANTIATE_TEST_SUITE_P(ExtraSizeBeyondChunk, HostileFile, testing::ValuesIn(ExtraSizeBeyondChunk()), CaseName);
INSTANTIATE_TEST_SUITE_P(FormatChunkSize, HostileFile, testing::ValuesIn(FormatChunkSizes()), CaseName);
INSTANTIATE_TEST_SUITE_P(ZeroChannelsOrRate, HostileFile, testing::ValuesIn(ZeroChannelsOrRate()), CaseName);
INSTANTIATE_TEST_SUITE_P(BlockAlignment, HostileFile, testing::ValuesIn(BlockAlignments()), CaseName);
INSTANTIATE_TEST_SUITE_P(SamplesPerBlock, HostileFile, testing::ValuesIn(SamplesPerBlock()), CaseName);
INSTANTIATE_TEST_SUITE_P(MsAdpcmCoefficients, HostileFile, testing::ValuesIn(MsAdpcmCoefficients()), CaseName);
INSTANTIATE_TEST_SUITE_P(GsmAndMp3Extra, HostileFile, testing::ValuesIn(GsmAndMp3Extra()), CaseName);
INSTANTIATE_TEST_SUITE_P(DataSize, HostileFile, testing::ValuesIn(DataSizes()), CaseName);
INSTANTIATE_TEST_SUITE_P(RifxAndWave64, HostileFile, testing::ValuesIn(RifxAndWave64()), CaseName);
INSTANTIATE_TEST_SUITE_P(ChunkSearch, HostileFile, testing::ValuesIn(ChunkSearch()), CaseName);
INSTANTIATE_TEST_SUITE_P(OddChunks, HostileFile, testing::ValuesIn(OddChunks()), CaseName);
INSTANTIATE_TEST_SUITE_P(TruncatedFinalBlock, HostileFile, testing::ValuesIn(TruncatedFinalBlocks()), CaseName);
INSTANTIATE_TEST_SUITE_P(AbsurdChannelsAndRates, HostileFile, testing::ValuesIn(AbsurdChannelsAndRates()), CaseName);
INSTANTIATE_TEST_SUITE_P(Extensible, HostileFile, testing::ValuesIn(ExtensibleSubFormats()), CaseName);
INSTANTIATE_TEST_SUITE_P(Metadata, HostileFile, testing::ValuesIn(MetadataChunks()), CaseName);

}  // namespace
