// The conversion as the user runs it: path fields, the format chooser and the
// execute button of the real dialog procedure on the scripted backend.
#include "wavetest.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace wavetest;
using testsupport::PcmFormat;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
namespace fs = std::filesystem;

const std::string kSuccess = "box icon=none caption=\"WAVTRN\" text=\"success\"\n";

std::string Fields(const std::string& src, const std::string& dst) {
    return "text 101 " + src + "\ntext 104 " + dst + "\n";
}

std::size_t FilesIn(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(ConvertFlow, ChosenFormatConvertsAndTheDialogGoesOn) {
    TempDir dir;
    const WAVEFORMATEX in = PcmFormat(22050, 16, 2);
    const WAVEFORMATEX out = PcmFormat(11025, 8, 1);
    testsupport::WriteTestWave(dir.file("in.wav"), in, 22050);
    const std::string script = "click 107\n" + ChooseLine(out) + Fields(dir.file("in.wav"), dir.file("out.wav")) +
                               "click 1\n" + Fields(dir.file("in.wav"), dir.file("again.wav")) + "click 1\n";
    const flow::Result r = flow::RunScript(script);
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(CountOf(r.transcript, kSuccess), 2) << r.transcript;
    EXPECT_EQ(CountOf(r.transcript, "box "), 2) << r.transcript;

    const WaveLayout layout = ReadLayout(dir.file("out.wav"));
    ASSERT_TRUE(layout.ok) << layout.error;
    EXPECT_EQ(layout.fmt, testsupport::FormatBytes(out));
    EXPECT_NEAR(layout.dataSize, 11025.0, 2.0);
    EXPECT_EQ(ReadBytes(dir.file("out.wav")), ReadBytes(dir.file("again.wav")));
}

TEST(ConvertFlow, FailuresShowTheirReasonKeepTheDestinationAndTheDialog) {
    TempDir dir;
    const WAVEFORMATEX pcm = PcmFormat(8000, 16, 1);
    testsupport::WriteTestWave(dir.file("in.wav"), pcm, 800);
    const Bytes fmt = testsupport::FormatBytes(pcm);
    WriteBytes(dir.file("fact.wav"),
               Form("WAVE", {Chunk("fmt ", fmt), Chunk("fact", Bytes(4, 0)), Chunk("DATA", Bytes(16, 0))}));
    const Bytes precious(777, 0x5A);
    WriteBytes(dir.file("dest.wav"), precious);

    // Execute before any format choice: the codec service refuses the empty block.
    flow::Result r = flow::RunScript(Fields(dir.file("in.wav"), dir.file("dest.wav")) + "click 1\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript.find("success"), std::string::npos) << r.transcript;
    // The codec service's name is the box's first line; a plain paragraph follows.
    EXPECT_TRUE(r.transcript.find("text=\"ACMERR_NOTPOSSIBLE\\n\\n") != std::string::npos ||
                r.transcript.find("text=\"MMSYSERR_INVALPARAM\\n\\n") != std::string::npos)
        << r.transcript;

    // No "data" chunk after "fact" (identifiers are not case-folded), then an empty source field, then a good run.
    r = flow::RunScript("click 107\n" + ChooseLine(pcm) + Fields(dir.file("fact.wav"), dir.file("dest.wav")) +
                        "click 1\n" + Fields("", dir.file("dest.wav")) + "click 1\n" +
                        Fields(dir.file("in.wav"), dir.file("new.wav")) + "click 1\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_TRUE(HasFailedCheck(r.transcript, "SrcWaveData.ckid==mmioStringToFOURCC(\"data\",0)")) << r.transcript;
    EXPECT_TRUE(HasFailedCheck(r.transcript, "hSrcWaveFile")) << r.transcript;
    EXPECT_EQ(CountOf(r.transcript, kSuccess), 1) << r.transcript;
    EXPECT_EQ(r.transcript.substr(r.transcript.size() - kSuccess.size() - 6), kSuccess + "end 2\n");

    EXPECT_EQ(ReadBytes(dir.file("dest.wav")), precious);
    EXPECT_EQ(FilesIn(dir.path()), 4u) << "a temporary file was left";
}

TEST(ConvertFlow, FullDiskShowsDiskFullAndNoSuccess) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    const WAVEFORMATEX pcm = PcmFormat(8000, 16, 1);
    testsupport::WriteTestWave(dir.file("in.wav"), pcm, 8000);
    const flow::Result r = flow::RunScript("click 107\n" + ChooseLine(pcm) + Fields(dir.file("in.wav"), "/dev/full") +
                                           "click 1\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(CountOf(r.transcript, "text=\"disk full\""), 1) << r.transcript;
    EXPECT_EQ(r.transcript.find("success"), std::string::npos) << r.transcript;
}

TEST(ConvertFlow, ExistingFileAndTheSourceItselfAreReplacedWhole) {
    TempDir dir;
    const WAVEFORMATEX in = PcmFormat(16000, 16, 1);
    const WAVEFORMATEX out = PcmFormat(16000, 8, 1);
    testsupport::WriteTestWave(dir.file("in.wav"), in, 16001);
    WriteBytes(dir.file("dest.wav"), Bytes(100000, 0x33));
    const flow::Result r = flow::RunScript("click 107\n" + ChooseLine(out) +
                                           Fields(dir.file("in.wav"), dir.file("dest.wav")) + "click 1\n" +
                                           Fields(dir.file("in.wav"), dir.file("in.wav")) + "click 1\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(CountOf(r.transcript, kSuccess), 2) << r.transcript;
    const Bytes dest = ReadBytes(dir.file("dest.wav"));
    EXPECT_EQ(dest.size(), 46u + 16001 + 1);
    EXPECT_EQ(ReadBytes(dir.file("in.wav")), dest);
    EXPECT_EQ(FilesIn(dir.path()), 2u);
}

}  // namespace
