// Describing the source file in the dialog's source-format label, through the
// real dialog procedure on the scripted backend.
#include "wavetest.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace wavetest;
using testsupport::FormatBytes;
using testsupport::PcmFormat;
using testsupport::TempDir;
using testsupport::WriteBytes;

const char* const kRiffCheck = "SrcWaveFile.ckid==mmioStringToFOURCC(\"RIFF\",MMIO_TOUPPER)";
const char* const kWaveCheck = "SrcWaveFile.fccType==mmioStringToFOURCC(\"WAVE\",MMIO_TOUPPER)";
const char* const kFmtCheck = "SrcWaveFmt.ckid==mmioStringToFOURCC(\"fmt \",0)";
const char* const kFmtSizeCheck = "SrcWaveFmt.cksize<=sizeof(WAVEFORMATEX)+0xFFFF";

// Types a path into the source field and leaves it.
std::string Leave(const std::string& path) { return "text 101 " + path + "\nfocus 101\nfocus 104\n"; }

std::string Label(const WAVEFORMATEX& format, const Bytes& extra = {}) {
    const auto [tag, name] = Names(format, extra);
    return "label 103 \"" + tag + " " + name + "\"\n";
}

Bytes Samples(std::size_t n) { return Bytes(n, 0x80); }

TEST(SourceFormat, LeavingTheFieldDescribesShortAndFullPcmHeaders) {
    TempDir dir;
    const WAVEFORMATEX pcm = PcmFormat(22050, 16, 2);
    Bytes full = FormatBytes(pcm);
    ASSERT_EQ(full.size(), 18u);
    const Bytes shortHeader(full.begin(), full.begin() + 16);
    WriteBytes(dir.file("full.wav"), Form("WAVE", {Chunk("fmt ", full), Chunk("data", Samples(8))}));
    WriteBytes(dir.file("short.wav"), Form("WAVE", {Chunk("fmt ", shortHeader), Chunk("data", Samples(8))}));

    const flow::Result r = flow::RunScript(Leave(dir.file("full.wav")) + Leave(dir.file("short.wav")));
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript, Label(pcm) + Label(pcm) + "end 2\n");
}

// A path that cannot be opened shows no box; it clears the label, which must
// not go on describing another file.
TEST(SourceFormat, UnreadablePathShowsNoBoxAndClearsTheLabel) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe.wav").c_str(), 0600), 0);  // must not wait for a writer
    const flow::Result r = flow::RunScript(Leave(dir.file("missing.wav")) + Leave(dir.file("no/dir.wav")) +
                                           Leave(dir.path().string()) + Leave(dir.file("pipe.wav")));
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript, "label 103 \"\"\nlabel 103 \"\"\nlabel 103 \"\"\nlabel 103 \"\"\nend 2\n");
}

TEST(SourceFormat, UnknownTagIsNamedUnknownTwice) {
    TempDir dir;
    WAVEFORMATEX odd = PcmFormat(8000, 8, 1);
    odd.wFormatTag = 0x7A31;
    WriteBytes(dir.file("odd.wav"), Form("WAVE", {Chunk("fmt ", FormatBytes(odd)), Chunk("data", Samples(4))}));
    const flow::Result r = flow::RunScript(Leave(dir.file("odd.wav")));
    EXPECT_EQ(r.transcript, "label 103 \"unknown unknown\"\nend 2\n");
}

// Each broken head stops the description at its own check, and the dialog
// goes on: the next command describes a good file.
TEST(SourceFormat, EachFailedCheckQuotesItsExpressionAndKeepsTheDialog) {
    TempDir dir;
    const WAVEFORMATEX pcm = PcmFormat(8000, 16, 1);
    const Bytes fmt = FormatBytes(pcm);
    const Bytes good = Form("WAVE", {Chunk("fmt ", fmt), Chunk("data", Samples(16))});
    WriteBytes(dir.file("good.wav"), good);

    const Bytes truncatedForm = Form("WAVE", {});  // "RIFF", size, "WAVE": 12 bytes
    const Bytes hugeFmt = Form("WAVE", {Chunk("fmt ", 18 + 0x10000, fmt)});
    const Bytes negativeFmt = Form("WAVE", {Chunk("fmt ", 0x80000000u, fmt)});

    const struct {
        const char* name;
        Bytes bytes;
        const char* check;
    } cases[] = {
        {"empty.wav", {}, kRiffCheck},
        {"eleven.wav", Bytes(truncatedForm.begin(), truncatedForm.begin() + 11), kRiffCheck},
        {"lower.wav", Form("WAVE", {Chunk("fmt ", fmt)}, "riff"), kRiffCheck},
        {"text.wav", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!'}, kRiffCheck},
        {"avi.wav", Form("AVI ", {Chunk("fmt ", fmt)}), kWaveCheck},
        {"lowerwave.wav", Form("wave", {Chunk("fmt ", fmt)}), kWaveCheck},
        // Chunks before "fmt " are skipped by their sizes; one that runs past the
        // file ends the search, and a form without "fmt " has none to find.
        {"junk.wav", Form("WAVE", {Chunk("JUNK", 0x7FFFFFF0u, Samples(28)), Chunk("fmt ", fmt)}), kFmtCheck},
        {"list.wav", Form("WAVE", {Chunk("LIST", Bytes{'I', 'N', 'F', 'O'}), Chunk("data", Samples(4))}), kFmtCheck},
        {"nofmt.wav", truncatedForm, kFmtCheck},
        {"upperfmt.wav", Form("WAVE", {Chunk("FMT ", fmt)}), kFmtCheck},
        {"hugefmt.wav", hugeFmt, kFmtSizeCheck},
        {"negativefmt.wav", negativeFmt, kFmtSizeCheck},
    };
    for (const auto& c : cases) {
        WriteBytes(dir.file(c.name), c.bytes);
        const flow::Result r = flow::RunScript(Leave(dir.file("good.wav")) + Leave(dir.file(c.name)) +
                                               Leave(dir.file("good.wav")));
        EXPECT_EQ(r.exitStatus, 0) << c.name << r.errors;
        EXPECT_TRUE(HasFailedCheck(r.transcript, c.check)) << c.name << "\n" << r.transcript;
        EXPECT_EQ(CountOf(r.transcript, "Assertion failed"), 1) << c.name << "\n" << r.transcript;
        EXPECT_EQ(CountOf(r.transcript, "box "), 1) << c.name << "\n" << r.transcript;
        // The failure cleared the good file's text; the good file was described again after it.
        EXPECT_EQ(CountOf(r.transcript, Label(pcm)), 2) << c.name << "\n" << r.transcript;
        EXPECT_EQ(CountOf(r.transcript, "label 103 \"\"\n"), 1) << c.name << "\n" << r.transcript;
        EXPECT_EQ(r.transcript.substr(r.transcript.size() - 6), "end 2\n");
    }
}

TEST(SourceFormat, ChecksComeInOrder) {
    TempDir dir;
    // Lower-case "riff" with a wrong form type and no "fmt ": the first check speaks.
    WriteBytes(dir.file("all.wav"), Form("AVI ", {Chunk("JUNK", Samples(2))}, "riff"));
    const flow::Result r = flow::RunScript(Leave(dir.file("all.wav")));
    EXPECT_TRUE(HasFailedCheck(r.transcript, kRiffCheck)) << r.transcript;
    EXPECT_EQ(CountOf(r.transcript, "Assertion failed"), 1) << r.transcript;
}

TEST(SourceFormat, FormatBlockIsNeverReadBeyondWhatTheFileHolds) {
    TempDir dir;
    // cbSize claims 200 extra bytes, the chunk holds 18 bytes, the file ends
    // inside the block, and a chunk shorter than 16 bytes: all are described
    // from the zero-filled block.
    WAVEFORMATEX claims = PcmFormat(44100, 16, 2);
    claims.cbSize = 200;
    const Bytes claimsBytes = FormatBytes(claims);
    WAVEFORMATEX plain = claims;
    plain.cbSize = 0;

    Bytes cut = Form("WAVE", {Chunk("fmt ", 40, claimsBytes)});
    cut.resize(12 + 8 + 18);  // the file ends where the chunk's 40 bytes should go on
    const Bytes tiny = Form("WAVE", {Chunk("fmt ", Bytes(claimsBytes.begin(), claimsBytes.begin() + 14))});

    WriteBytes(dir.file("claims.wav"), Form("WAVE", {Chunk("fmt ", claimsBytes), Chunk("data", Samples(4))}));
    WriteBytes(dir.file("cut.wav"), cut);
    WriteBytes(dir.file("tiny.wav"), tiny);
    const flow::Result r =
        flow::RunScript(Leave(dir.file("claims.wav")) + Leave(dir.file("cut.wav")) + Leave(dir.file("tiny.wav")));
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(CountOf(r.transcript, "box "), 0) << r.transcript;
    // The first two carry a complete PCM description.
    EXPECT_EQ(CountOf(r.transcript, Label(plain)), 2) << r.transcript;
    // The 14-byte chunk lacks wBitsPerSample: still a label, no failure.
    EXPECT_EQ(CountOf(r.transcript, "label 103 "), 3) << r.transcript;
}

}  // namespace
