// Converting WAVE files: the file written, byte by byte, and the conversion's
// failures, calling ConvertWave with the scripted backend recording its boxes.
#include "support/scripted.h"
#include "wave/convert.h"
#include "wavetest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace {

using namespace wavetest;
using testsupport::FormatBytes;
using testsupport::PcmFormat;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
namespace fs = std::filesystem;

// Message boxes shown while it lives, one line each.
class Boxes {
public:
    Boxes() { SetWindowBackend(&backend_); }
    ~Boxes() { SetWindowBackend(nullptr); }
    std::string Text() const {
        std::string out;
        for (const std::string& line : backend_.Transcript()) out += line + "\n";
        return out;
    }

private:
    ScriptedBackend backend_;
};

std::size_t FilesIn(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

Bytes DataOf(const Bytes& file, const WaveLayout& layout) {
    return Bytes(file.begin() + layout.dataOffset, file.begin() + layout.dataOffset + layout.dataSize);
}

TEST(ConvertWave, SamePcmFormatKeepsEverySampleAndWritesThreeChunks) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(44100, 16, 2);
    const Bytes samples = testsupport::TestSignalBytes(format, 30001);
    WriteBytes(dir.file("in.wav"), MakeWaveBytes(format, samples));
    Boxes boxes;
    ASSERT_EQ(ConvertWave(dir.file("in.wav").c_str(), dir.file("out.wav").c_str(), &format, testsupport::BoxReporter()), 0) << boxes.Text();
    EXPECT_EQ(boxes.Text(), "");

    const Bytes out = ReadBytes(dir.file("out.wav"));
    ASSERT_EQ(out.size(), 46u + samples.size());
    EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "RIFF");
    EXPECT_EQ(U32At(out, 4), out.size() - 8);
    EXPECT_EQ(std::string(out.begin() + 8, out.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(U32At(out, 16), 18u);  // the 18-byte form even for PCM
    EXPECT_EQ(Bytes(out.begin() + 20, out.begin() + 38), FormatBytes(format));
    EXPECT_EQ(std::string(out.begin() + 38, out.begin() + 42), "data");
    EXPECT_EQ(U32At(out, 42), samples.size());
    EXPECT_EQ(Bytes(out.begin() + 46, out.end()), samples);

    const WaveLayout layout = ReadLayout(dir.file("out.wav"));
    ASSERT_TRUE(layout.ok) << layout.error;
    EXPECT_EQ(layout.chunkIds, (std::vector<std::string>{"fmt ", "data"}));
    EXPECT_EQ(FilesIn(dir.path()), 2u);
}

TEST(ConvertWave, OddSizesArePaddedAndEmptyDataStaysEmpty) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(8000, 8, 1);
    const Bytes samples = testsupport::TestSignalBytes(format, 1001);
    WriteBytes(dir.file("odd.wav"), MakeWaveBytes(format, samples));
    WriteBytes(dir.file("empty.wav"), MakeWaveBytes(format, {}));
    Boxes boxes;
    ASSERT_EQ(ConvertWave(dir.file("odd.wav").c_str(), dir.file("odd-out.wav").c_str(), &format, testsupport::BoxReporter()), 0) << boxes.Text();
    ASSERT_EQ(ConvertWave(dir.file("empty.wav").c_str(), dir.file("empty-out.wav").c_str(), &format, testsupport::BoxReporter()), 0)
        << boxes.Text();

    const Bytes odd = ReadBytes(dir.file("odd-out.wav"));
    ASSERT_EQ(odd.size(), 46u + 1001 + 1);
    EXPECT_EQ(U32At(odd, 4), 38u + 1002);
    EXPECT_EQ(U32At(odd, 42), 1001u);
    EXPECT_EQ(odd.back(), 0);
    EXPECT_EQ(Bytes(odd.begin() + 46, odd.end() - 1), samples);

    const Bytes empty = ReadBytes(dir.file("empty-out.wav"));
    ASSERT_EQ(empty.size(), 46u);
    EXPECT_EQ(U32At(empty, 4), 38u);
    EXPECT_EQ(U32At(empty, 42), 0u);
}

TEST(ConvertWave, DataChunkAndFileEndBothBoundTheSource) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(16000, 16, 1);
    const Bytes fmt = FormatBytes(format);
    const Bytes samples = testsupport::TestSignalBytes(format, 20000);
    Bytes inFile(samples.begin(), samples.begin() + 1000);

    // A streaming writer's size: the data runs to the end of the file.
    Bytes streaming = Form("WAVE", {Chunk("fmt ", fmt)});
    Append(streaming, "data");
    AppendU32(streaming, 0xFFFFFFFFu);
    streaming.insert(streaming.end(), samples.begin(), samples.end());
    streaming[4] = streaming[5] = streaming[6] = streaming[7] = 0xFF;
    WriteBytes(dir.file("streaming.wav"), streaming);

    // The data chunk ends before the file: what follows it is not audio.
    WriteBytes(dir.file("list.wav"),
               Form("WAVE", {Chunk("fmt ", fmt), Chunk("data", inFile), Chunk("LIST", Bytes(4000, 0x7F))}));

    // A truncated file: the data chunk promises more than is there.
    Bytes truncated = MakeWaveBytes(format, samples);
    truncated.resize(truncated.size() - 3001);  // odd cut, mid-sample
    WriteBytes(dir.file("truncated.wav"), truncated);

    Boxes boxes;
    ASSERT_EQ(ConvertWave(dir.file("streaming.wav").c_str(), dir.file("a.wav").c_str(), &format, testsupport::BoxReporter()), 0);
    ASSERT_EQ(ConvertWave(dir.file("list.wav").c_str(), dir.file("b.wav").c_str(), &format, testsupport::BoxReporter()), 0);
    ASSERT_EQ(ConvertWave(dir.file("truncated.wav").c_str(), dir.file("c.wav").c_str(), &format, testsupport::BoxReporter()), 0);
    EXPECT_EQ(boxes.Text(), "");

    const Bytes a = ReadBytes(dir.file("a.wav"));
    const WaveLayout la = ReadLayout(dir.file("a.wav"));
    EXPECT_EQ(DataOf(a, la), samples);
    const Bytes b = ReadBytes(dir.file("b.wav"));
    EXPECT_EQ(DataOf(b, ReadLayout(dir.file("b.wav"))), inFile);
    const Bytes c = ReadBytes(dir.file("c.wav"));
    const Bytes cData = DataOf(c, ReadLayout(dir.file("c.wav")));
    // Whole samples only: the codec service converts complete blocks.
    ASSERT_EQ(cData.size(), (samples.size() - 3001) / 2 * 2);
    EXPECT_TRUE(std::equal(cData.begin(), cData.end(), samples.begin()));
}

TEST(ConvertWave, ResamplingDeliversEverySourceSample) {
    TempDir dir;
    const WAVEFORMATEX in = PcmFormat(44100, 16, 2);
    const WAVEFORMATEX out = PcmFormat(8000, 16, 1);
    const std::uint32_t frames = 44100 * 3 + 17;
    WriteBytes(dir.file("in.wav"), MakeWaveBytes(in, testsupport::TestSignalBytes(in, frames)));
    Boxes boxes;
    ASSERT_EQ(ConvertWave(dir.file("in.wav").c_str(), dir.file("out.wav").c_str(), &out, testsupport::BoxReporter()), 0) << boxes.Text();
    const WaveLayout layout = ReadLayout(dir.file("out.wav"));
    ASSERT_TRUE(layout.ok) << layout.error;
    const double expected = frames * 8000.0 / 44100.0;
    EXPECT_NEAR(layout.dataSize / 2.0, expected, 2.0) << "the codec was not drained";
}

TEST(ConvertWave, BrokenSourceStopsAtItsCheckAndWritesNothing) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(8000, 16, 1);
    const Bytes fmt = FormatBytes(format);
    const Bytes data = testsupport::TestSignalBytes(format, 100);
    WriteBytes(dir.file("fact.wav"), Form("WAVE", {Chunk("fmt ", fmt), Chunk("fact", Bytes(4, 1)), Chunk("DATA", data)}));
    WriteBytes(dir.file("nodata.wav"), Form("WAVE", {Chunk("fmt ", fmt)}));
    WriteBytes(dir.file("notwave.wav"), Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '});
    WriteBytes(dir.file("dest.wav"), Bytes{'k', 'e', 'e', 'p'});

    const struct {
        std::string source;
        std::string check;
    } cases[] = {
        {dir.file("fact.wav"), "SrcWaveData.ckid==mmioStringToFOURCC(\"data\",0)"},
        {dir.file("nodata.wav"), "SrcWaveData.ckid==mmioStringToFOURCC(\"data\",0)"},
        {dir.file("notwave.wav"), "SrcWaveFile.fccType==mmioStringToFOURCC(\"WAVE\",MMIO_TOUPPER)"},
        {dir.file("missing.wav"), "hSrcWaveFile"},
        {"", "hSrcWaveFile"},
    };
    for (const auto& c : cases) {
        Boxes boxes;
        EXPECT_NE(ConvertWave(c.source.c_str(), dir.file("dest.wav").c_str(), &format, testsupport::BoxReporter()), 0);
        EXPECT_TRUE(HasFailedCheck(boxes.Text(), c.check)) << boxes.Text();
        EXPECT_EQ(CountOf(boxes.Text(), "\n"), 1) << boxes.Text();
        EXPECT_EQ(ReadBytes(dir.file("dest.wav")), (Bytes{'k', 'e', 'e', 'p'}));
        EXPECT_EQ(FilesIn(dir.path()), 4u);
    }
}

TEST(ConvertWave, DestinationThatCannotBeWrittenFailsItsCheck) {
    TempDir dir;
    const WAVEFORMATEX format = PcmFormat(8000, 16, 1);
    WriteBytes(dir.file("in.wav"), MakeWaveBytes(format, testsupport::TestSignalBytes(format, 100)));
    ASSERT_EQ(::mkfifo(dir.file("pipe.wav").c_str(), 0600), 0);  // nobody reads it
    for (const std::string& dst :
         {std::string(), dir.file("no/such/dir.wav"), dir.path().string(), dir.file("pipe.wav")}) {
        Boxes boxes;
        EXPECT_NE(ConvertWave(dir.file("in.wav").c_str(), dst.c_str(), &format, testsupport::BoxReporter()), 0);
        EXPECT_TRUE(HasFailedCheck(boxes.Text(), "hDstWaveFile")) << dst << "\n" << boxes.Text();
    }
    EXPECT_EQ(FilesIn(dir.path()), 2u);
}

TEST(ConvertWave, ReplacesAnExistingFileKeepingItsModeAndConvertsAFileOntoItself) {
    TempDir dir;
    const WAVEFORMATEX in = PcmFormat(22050, 16, 2);
    const WAVEFORMATEX out = PcmFormat(22050, 8, 2);
    const Bytes samples = testsupport::TestSignalBytes(in, 22050);
    WriteBytes(dir.file("in.wav"), MakeWaveBytes(in, samples));
    WriteBytes(dir.file("dest.wav"), Bytes(300000, 0x11));
    ASSERT_EQ(::chmod(dir.file("dest.wav").c_str(), 0640), 0);

    Boxes boxes;
    ASSERT_EQ(ConvertWave(dir.file("in.wav").c_str(), dir.file("dest.wav").c_str(), &out, testsupport::BoxReporter()), 0) << boxes.Text();
    const WaveLayout replaced = ReadLayout(dir.file("dest.wav"));
    ASSERT_TRUE(replaced.ok);
    EXPECT_EQ(replaced.fileSize, 46u + 22050 * 2);
    EXPECT_EQ(fs::status(dir.file("dest.wav")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // Onto itself: the source is read to the end before the result takes its place.
    ASSERT_EQ(ConvertWave(dir.file("in.wav").c_str(), dir.file("in.wav").c_str(), &out, testsupport::BoxReporter()), 0) << boxes.Text();
    EXPECT_EQ(ReadBytes(dir.file("in.wav")), ReadBytes(dir.file("dest.wav")));
    EXPECT_EQ(FilesIn(dir.path()), 2u);
    EXPECT_EQ(boxes.Text(), "");
}

}  // namespace
