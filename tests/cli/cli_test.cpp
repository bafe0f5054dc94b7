// The command-line companion, run as a program: its commands, what it prints,
// the files it leaves and its exit statuses, next to the dialog doing the same.
#include "platform/acm/catalogue.h"
#include "support/flow.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using testsupport::ShellQuote;
using testsupport::TempDir;

std::string Cli() {
    const char* path = std::getenv("WAVTRN_CLI");
    return path != nullptr && *path != '\0' ? path : WAVTRN_CLI_PATH;
}

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs wavtrn-cli with the arguments (each quoted), capturing both streams.
CliRun RunCli(const TempDir& dir, const std::vector<std::string>& args) {
    std::string command = ShellQuote(Cli());
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    const std::string errFile = dir.file("stderr.txt");
    CliRun run;
    run.status = testsupport::RunCommand(command + " 2>" + ShellQuote(errFile), &run.out);
    std::ifstream in(errFile);
    std::stringstream text;
    text << in.rdbuf();
    run.err = text.str();
    fs::remove(errFile);
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
    return fields;
}

bool Contains(const std::string& text, const std::string& needle) { return text.find(needle) != std::string::npos; }

// Files in a folder other than the captured standard error.
std::set<std::string> Listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
}

// The label the dialog shows after the source field loses the focus with path in it.
std::string DialogLabel(const std::string& path) {
    const flow::Result r = flow::RunScript("text 101 " + path + "\nfocus 104\n");
    const std::string prefix = "label 103 \"";
    const auto at = r.transcript.find(prefix);
    if (at == std::string::npos) return {};
    const auto end = r.transcript.find("\"\n", at);
    return r.transcript.substr(at + prefix.size(), end - at - prefix.size());
}

TEST(CliFormats, ListsEveryChooserFormatWithAUniqueKey) {
    TempDir dir;
    const CliRun run = RunCli(dir, {"formats"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    std::vector<std::pair<std::string, std::string>> offered;
    for (const acm::CatalogueTag* tag : acm::ChooserTags())
        for (const acm::CatalogueFormat& format : tag->formats) offered.emplace_back(tag->name, format.name);

    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), offered.size());
    std::map<std::string, std::string> byKey;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string> fields = Split(lines[i], '\t');
        ASSERT_EQ(fields.size(), 4u) << lines[i];
        EXPECT_EQ(fields[1], offered[i].first) << lines[i];
        EXPECT_EQ(fields[2], offered[i].second) << lines[i];
        EXPECT_TRUE(byKey.emplace(fields[0], fields[3]).second) << "key used twice: " << fields[0];
    }
    // The keys people will type, with the data rates the blocks announce.
    EXPECT_EQ(byKey["pcm/44100/16/2"], "176400 bytes/s");
    EXPECT_EQ(byKey["float/48000/32/2"], "384000 bytes/s");
    EXPECT_EQ(byKey["alaw/8000/1"], "8000 bytes/s");
    EXPECT_EQ(byKey["mulaw/8000/1"], "8000 bytes/s");
    EXPECT_EQ(byKey["gsm/8000/1"], "1625 bytes/s");
    EXPECT_EQ(byKey["mp3/44100/128/2"], "16000 bytes/s");
    EXPECT_TRUE(byKey.count("ima-adpcm/22050/2"));
    EXPECT_TRUE(byKey.count("ms-adpcm/44100/2"));
}

TEST(CliInfo, DescribesLikeTheDialogAndReportsBadFilesWithoutStopping) {
    TempDir dir;
    const std::string pcm = testsupport::WriteTestWave(dir.file("pcm.wav"), testsupport::PcmFormat(44100, 16, 2), 4410);
    const std::string flt = testsupport::WriteTestWave(dir.file("float.wav"), testsupport::FloatFormat(48000, 32, 1), 4800);
    const std::string junk = dir.file("junk.wav");
    testsupport::WriteText(junk, "riff this is not a wave file at all");
    const std::string missing = dir.file("missing.wav");

    const CliRun run = RunCli(dir, {"info", pcm, junk, missing, flt});
    EXPECT_EQ(run.status, 1);
    const std::string pcmLabel = DialogLabel(pcm), floatLabel = DialogLabel(flt);
    ASSERT_FALSE(pcmLabel.empty());
    ASSERT_FALSE(floatLabel.empty());
    EXPECT_EQ(run.out, pcm + ": " + pcmLabel + "\n" + flt + ": " + floatLabel + "\n");
    // The failed check the dialog would show in a box, and a plain word for the
    // file the dialog passes over in silence.
    EXPECT_TRUE(Contains(run.err, junk + ": wavtrn-cli: Assertion failed: SrcWaveFile.ckid==")) << run.err;
    EXPECT_TRUE(Contains(run.err, missing + ": cannot open: No such file or directory")) << run.err;

    const CliRun good = RunCli(dir, {"info", pcm});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.err, "");
}

TEST(CliConvert, WritesWhatTheDialogWritesForTheSameChoice) {
    TempDir dir;
    const std::string src = testsupport::WriteTestWave(dir.file("src.wav"), testsupport::PcmFormat(44100, 16, 2), 44100);
    const std::string fromCli = dir.file("cli.wav");
    const std::string fromDialog = dir.file("dialog.wav");

    const CliRun run = RunCli(dir, {"convert", "--to", "ima-adpcm/22050/2", src, "-o", fromCli});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, src + " -> " + fromCli + "\n1 converted, 0 failed\n");
    EXPECT_EQ(run.err, "") << "no progress bar when standard error is not a terminal";

    const acm::CatalogueTag* ima = acm::FindTag(WAVE_FORMAT_IMA_ADPCM);
    ASSERT_NE(ima, nullptr);
    std::string formatName;
    for (const acm::CatalogueFormat& format : ima->formats)
        if (format.Header().nSamplesPerSec == 22050 && format.Header().nChannels == 2) formatName = format.name;
    ASSERT_FALSE(formatName.empty());
    const flow::Result dialog = flow::RunScript("click 107\nchoose " + ima->name + " | " + formatName + "\ntext 101 " + src +
                                                "\ntext 104 " + fromDialog + "\nclick 1\n");
    ASSERT_TRUE(Contains(dialog.transcript, "text=\"success\"")) << dialog.transcript << dialog.errors;
    EXPECT_EQ(testsupport::ReadBytes(fromCli), testsupport::ReadBytes(fromDialog));

    const testsupport::ProbeResult probe = testsupport::Probe(fromCli);
    EXPECT_EQ(probe.codec, "adpcm_ima_wav");
    EXPECT_EQ(probe.sampleRate, 22050);
    EXPECT_EQ(probe.channels, 2);
}

TEST(CliConvert, BatchConvertsTheGoodFilesAndReportsEachBadOneUnderItsName) {
    TempDir dir;
    const fs::path in = dir.path() / "in", out = dir.path() / "out";
    fs::create_directories(in);
    fs::create_directories(out);
    std::vector<std::string> args = {"convert", "--to", "mulaw/8000/1", "--out-dir", out.string(), "-j", "3"};
    for (const char* name : {"a.wav", "b.wav", "d.wav", "e.wav"})
        args.push_back(testsupport::WriteTestWave((in / name).string(), testsupport::PcmFormat(22050, 16, 2), 22050));
    const std::string bad = (in / "c.wav").string();
    testsupport::WriteText(bad, std::string("RIFF\x10\0\0\0WAVELIST\0\0\0\0", 20));
    args.insert(args.begin() + 7, bad);
    const std::string missing = (in / "f.wav").string();
    args.push_back(missing);
    const std::string folder = (in / "g.wav").string();
    fs::create_directories(folder);
    args.push_back(folder);

    const CliRun run = RunCli(dir, args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Listing(out), (std::set<std::string>{"a.wav", "b.wav", "d.wav", "e.wav"}))
        << "good files converted, nothing left for the bad ones";
    for (const char* name : {"a.wav", "b.wav", "d.wav", "e.wav"}) {
        const testsupport::ProbeResult probe = testsupport::Probe((out / name).string());
        EXPECT_EQ(probe.codec, "pcm_mulaw") << name;
        EXPECT_EQ(probe.sampleRate, 8000) << name;
        EXPECT_NEAR(probe.duration, 1.0, 0.01) << name;
        EXPECT_TRUE(Contains(run.out, (in / name).string() + " -> " + (out / name).string() + "\n")) << run.out;
    }
    EXPECT_TRUE(Contains(run.out, "4 converted, 3 failed\n")) << run.out;
    // Every line on standard error belongs to one of the bad files, whole.
    const std::vector<std::string> errors = Lines(run.err);
    ASSERT_EQ(errors.size(), 3u) << run.err;
    EXPECT_TRUE(Contains(run.err, bad + ": wavtrn-cli: Assertion failed: SrcWaveFmt.ckid==")) << run.err;
    EXPECT_TRUE(Contains(run.err, missing + ": cannot open: No such file or directory")) << run.err;
    EXPECT_TRUE(Contains(run.err, folder + ": cannot open: Is a directory")) << run.err;
    EXPECT_EQ(run.err.find('\r'), std::string::npos);
}

TEST(CliConvert, FailedConversionKeepsTheExistingDestination) {
    TempDir dir;
    const std::string src = testsupport::WriteTestWave(dir.file("src.wav"), testsupport::PcmFormat(8000, 16, 1), 800);
    const std::string broken = dir.file("broken.wav");
    auto bytes = testsupport::ReadBytes(src);
    const std::string data = "data";
    const auto at = std::search(bytes.begin(), bytes.end(), data.begin(), data.end());
    ASSERT_NE(at, bytes.end());
    *at = 'x';  // "data" becomes "xata": the data chunk check fails
    testsupport::WriteBytes(broken, bytes);
    const std::string dst = dir.file("dst.wav");
    testsupport::WriteText(dst, "precious");

    const CliRun run = RunCli(dir, {"convert", "--to=alaw/8000/1", broken, "-o", dst});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, broken + ": wavtrn-cli: Assertion failed: SrcWaveData.ckid==")) << run.err;
    EXPECT_TRUE(Contains(run.out, "0 converted, 1 failed\n")) << run.out;
    EXPECT_EQ(testsupport::ReadBytes(dst), std::vector<std::uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"broken.wav", "dst.wav", "src.wav"}));
}

TEST(CliUsage, BadArgumentsExitWithTwoAndTouchNothing) {
    TempDir dir;
    const std::string src = testsupport::WriteTestWave(dir.file("src.wav"), testsupport::PcmFormat(8000, 16, 1), 800);
    const std::string dst = dir.file("dst.wav");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"transmogrify"},
        {"formats", "extra"},
        {"info"},
        {"info", "--verbose", src},
        {"convert", src, "-o", dst},                               // no --to
        {"convert", "--to", "pcm/44100/17/2", src, "-o", dst},     // unknown key
        {"convert", "--to", "gsm/8000/1", src},                    // no destination
        {"convert", "--to", "gsm/8000/1", src, src, "-o", dst},    // -o with two sources
        {"convert", "--to", "gsm/8000/1", src, "-o", dst, "--out-dir", dir.path().string()},
        {"convert", "--to", "gsm/8000/1", src, "--out-dir", dir.file("nowhere")},
        {"convert", "--to", "gsm/8000/1", src, src, "--out-dir", dir.file("sub")},  // same name twice
        {"convert", "--to", "gsm/8000/1", src, "-o", dst, "-j", "0"},
        {"convert", "--to", "gsm/8000/1", src, "-o", dst, "-j", "two"},
        {"convert", "--to", "gsm/8000/1", src, "-o"},
        {"convert", "--frobnicate", "--to", "gsm/8000/1", src, "-o", dst},
    };
    fs::create_directories(dir.file("sub"));
    for (const auto& args : cases) {
        const CliRun run = RunCli(dir, args);
        std::string shown;
        for (const std::string& arg : args) shown += arg + " ";
        EXPECT_EQ(run.status, 2) << shown;
        EXPECT_FALSE(run.err.empty()) << shown;
        EXPECT_EQ(run.out, "") << shown;
        EXPECT_FALSE(fs::exists(dst)) << shown;
        EXPECT_TRUE(fs::is_empty(dir.file("sub"))) << shown;
    }
    for (const char* command : {"formats", "info", "convert"}) {
        const CliRun run = RunCli(dir, {command, "--help"});
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_TRUE(Contains(run.out, std::string("usage: wavtrn-cli ") + command)) << run.out;
    }
}

TEST(CliConvert, InterruptStopsTheWorkersAndRemovesTheirUnfinishedFiles) {
    TempDir dir;
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    // Long enough to be caught mid-way: MP3 encoding of a minute and a half.
    const std::string src = testsupport::WriteTestWave(dir.file("long.wav"), testsupport::PcmFormat(44100, 16, 2), 44100 * 90);

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const std::string cli = Cli(), outDir = out.string();
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::execl(cli.c_str(), cli.c_str(), "convert", "--to", "mp3/44100/128/2", src.c_str(), "--out-dir", outDir.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait until the worker's temporary file exists, then interrupt.
    bool writing = false;
    for (int i = 0; i < 500 && !writing; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        writing = !fs::is_empty(out);
    }
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(writing) << "the conversion never started writing";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_TRUE(fs::is_empty(out)) << *Listing(out).begin();
}

}  // namespace
