// The command-line companion, run as a program: its commands, what it prints,
// the files it leaves and its exit statuses, next to the dialog doing the same.
#include "platform/acm/catalogue.h"
#include "support/flow.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
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

// How a run is set up: a file for standard input, shell words before the
// program (a limit: "ulimit -n 12;") and a command that starts it
// ("env --ignore-signal=CHLD").
struct Setup {
    std::string input = "/dev/null";
    std::string prefix;
    std::string wrapper;
};

// Runs with only the locale variables given ("LANG=ja_JP.UTF-8"), whatever the tests' own are.
Setup Locale(const std::string& variables, Setup setup = {}) {
    setup.wrapper = "env -u LC_ALL -u LC_MESSAGES -u LANG " + variables;
    return setup;
}
// A Japanese user sees the format names the dialog shows.
const std::string kJapanese = "LANG=ja_JP.UTF-8";

std::string CommandLine(const std::vector<std::string>& args) {
    std::string command = ShellQuote(Cli());
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    return command;
}

// Runs wavtrn-cli with the arguments (each quoted), capturing both streams. A
// run that hangs is ended after a minute (status 124).
CliRun RunCli(const TempDir& dir, const std::vector<std::string>& args, const Setup& setup = {}) {
    const std::string errFile = dir.file("stderr.txt");
    CliRun run;
    // The redirections stand outside the limits, which the shell would feel too.
    run.status = testsupport::RunCommand("(" + setup.prefix + " exec timeout 60 " + setup.wrapper + " " +
                                             CommandLine(args) + ") <" + ShellQuote(setup.input) + " 2>" +
                                             ShellQuote(errFile),
                                         &run.out);
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
    const CliRun run = RunCli(dir, {"formats"}, Locale(kJapanese));
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
    EXPECT_EQ(byKey["float/44100/64/3"], "1058400 bytes/s");
    EXPECT_EQ(byKey["float-ext/48000/32/6"], "1152000 bytes/s");
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

    const CliRun run = RunCli(dir, {"info", pcm, junk, missing, flt}, Locale(kJapanese));
    EXPECT_EQ(run.status, 1);
    const std::string pcmLabel = DialogLabel(pcm), floatLabel = DialogLabel(flt);
    ASSERT_FALSE(pcmLabel.empty());
    ASSERT_FALSE(floatLabel.empty());
    EXPECT_EQ(run.out, pcm + ": " + pcmLabel + "\n" + flt + ": " + floatLabel + "\n");
    EXPECT_EQ(run.err, junk + ": not a RIFF WAVE file\n" + missing + ": cannot open '" + missing +
                           "': No such file or directory\n");

    const CliRun good = RunCli(dir, {"info", pcm}, Locale(""));
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.err, "");
    EXPECT_EQ(good.out, pcm + ": PCM 44,100 Hz, 16 bits, stereo\n");
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
    EXPECT_TRUE(Contains(run.err, bad + ": no \"fmt \" chunk\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, missing + ": cannot open '" + missing + "': No such file or directory\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, folder + ": cannot open '" + folder + "': Is a directory\n")) << run.err;
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

    // Also when started with SIGCHLD ignored, where the kernel would reap the
    // worker before its failure could be learnt.
    for (const char* wrapper : {"", "env --ignore-signal=CHLD"}) {
        const CliRun run = RunCli(dir, {"convert", "--to=alaw/8000/1", broken, "-o", dst}, {.wrapper = wrapper});
        EXPECT_EQ(run.status, 1) << wrapper;
        EXPECT_EQ(run.err, broken + ": no \"data\" chunk\n");
        EXPECT_TRUE(Contains(run.out, "0 converted, 1 failed\n")) << run.out;
        EXPECT_EQ(testsupport::ReadBytes(dst), std::vector<std::uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
        EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"broken.wav", "dst.wav", "src.wav"}));
    }
}

// Format names are English unless the first of LC_ALL, LC_MESSAGES and LANG
// that is set starts with "ja"; a word of either language finds them: exactly
// the formats whose shown name holds its counterpart.
TEST(CliFormats, NamesFollowTheLocaleAndWordsOfEitherLanguageFindThem) {
    TempDir dir;
    struct Row {
        std::string locale;
        std::string word;
        std::string shown;  // what the names listed hold in the locale's words
    };
    const Row rows[] = {
        {"", "stereo", "stereo"},
        {"", "ステレオ", "stereo"},
        {"LANG=ja_JP.UTF-8", "stereo", "ステレオ"},
        {"LANG=ja_JP.UTF-8", "ステレオ", "ステレオ"},
        {"LANG=ja_JP.UTF-8", "MONO", "モノラル"},
        {"", "モノラル", "mono"},
        {"LANG=ja_JP.UTF-8", "bits", "ビット"},
        {"", "ビット", "bits"},
        {"LANG=ja_JP.UTF-8", "channels", "チャンネル"},
        {"", "チャンネル", "channels"},
        {"LC_ALL=C LANG=ja_JP.UTF-8", "ステレオ", "stereo"},
        {"LC_MESSAGES=ja_JP.UTF-8 LANG=C.UTF-8", "stereo", "ステレオ"},
    };
    std::map<std::string, std::vector<std::string>> all;  // every line, by locale
    for (const Row& row : rows) {
        if (!all.count(row.locale)) all[row.locale] = Lines(RunCli(dir, {"formats"}, Locale(row.locale)).out);
        std::vector<std::string> expected;
        for (const std::string& line : all[row.locale])
            if (Contains(Split(line, '\t')[2], row.shown)) expected.push_back(line);
        const CliRun run = RunCli(dir, {"formats", row.word}, Locale(row.locale));
        EXPECT_EQ(run.status, 0) << row.locale << " " << row.word;
        EXPECT_FALSE(expected.empty()) << row.locale << " " << row.shown;
        EXPECT_EQ(Lines(run.out), expected) << row.locale << " " << row.word;
    }
}

// A key with fields left out takes, for each source, the offered format
// nearest it, and says which; -n skips an existing destination, lists it as
// skipped and leaves it as it was.
TEST(CliConvert, ShortKeysFitEachSourceAndNoClobberSkips) {
    TempDir dir;
    const std::string src = testsupport::WriteTestWave(dir.file("s.wav"), testsupport::PcmFormat(22050, 16, 1), 22050);
    struct Row {
        std::string key;
        std::string chosen;  // the full key named on standard error
        int rate, channels;
    } rows[] = {
        {"gsm", "gsm/8000/1", 8000, 1},
        {"mp3", "mp3/22050/64/1", 22050, 1},
        {"MP3/32", "mp3/22050/32/1", 22050, 1},
        {"pcm/8", "pcm/22050/8/1", 22050, 1},
        {"pcm/source/24/source", "pcm/22050/24/1", 22050, 1},
        {"float/source/source/source", "float/22050/32/1", 22050, 1},
        {"float-ext/source/64/source", "float-ext/22050/64/1", 22050, 1},
    };
    for (const Row& row : rows) {
        const std::string dst = dir.file("out-" + row.chosen.substr(0, 3) + ".wav");
        fs::remove(dst);
        const CliRun run = RunCli(dir, {"convert", "--to", row.key, src, "-o", dst});
        EXPECT_EQ(run.status, 0) << row.key << ": " << run.err;
        EXPECT_TRUE(Contains(run.err, src + ": --to " + row.key + " taken as " + row.chosen)) << run.err;
        const testsupport::ProbeResult probe = testsupport::Probe(dst);
        EXPECT_TRUE(probe.ok && probe.sampleRate == row.rate && probe.channels == row.channels) << row.key;
    }

    const std::string kept = dir.file("kept.wav");
    testsupport::WriteText(kept, "precious");
    const std::string other = testsupport::WriteTestWave(dir.file("t.wav"), testsupport::PcmFormat(8000, 16, 1), 800);
    fs::create_directory(dir.file("out"));
    fs::copy_file(kept, dir.file("out/s.wav"));
    CliRun run = RunCli(dir, {"convert", "-n", "--to", "alaw/8000/1", src, other, "--out-dir", dir.file("out")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, src + ": skipped, '" + dir.file("out") + "/s.wav' exists\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "1 converted, 1 skipped, 0 failed")) << run.out;
    EXPECT_EQ(testsupport::ReadBytes(dir.file("out/s.wav")), testsupport::ReadBytes(kept));
    EXPECT_TRUE(testsupport::Probe(dir.file("out/t.wav")).ok);
    // Quiet: nothing on standard output; a failure still fails the run.
    run = RunCli(dir, {"convert", "-q", "-n", "--to", "alaw/8000/1", src, kept, "--out-dir", dir.file("out")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(Contains(run.err, "not a RIFF WAVE file")) << run.err;
}

TEST(CliUsage, BadArgumentsExitWithTwoAndTouchNothing) {
    TempDir dir;
    const std::string src = testsupport::WriteTestWave(dir.file("src.wav"), testsupport::PcmFormat(8000, 16, 1), 800);
    const std::string dst = dir.file("dst.wav");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"transmogrify"},
        {"formats", "word", "extra"},
        {"info"},
        {"info", "--frobnicate", src},
        {"info", "-", "-"},
        {"info", "--files-from", "-", "-"},
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
        {"convert", "--to", "gsm/8000/1", "-", "--out-dir", dir.file("sub")},  // standard input has no name
        {"convert", "--to", "mp3/17", src, "-o", dst},            // a short key that fits no format
        {"conver", "--to", "gsm/8000/1", src, "-o", dst},         // no such command
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
    EXPECT_TRUE(Contains(RunCli(dir, {"conver", src}).err, "unknown command 'conver'; did you mean 'convert'?"));
    EXPECT_TRUE(Contains(RunCli(dir, {"infi"}).err, "did you mean 'info'?"));
    for (const char* command : {"formats", "info", "convert"}) {
        const CliRun run = RunCli(dir, {command, "--help"});
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_TRUE(Contains(run.out, std::string("Usage: wavtrn-cli ") + command)) << run.out;
    }
}

// The conversions' temporary files anywhere below folder (find copes with
// folders deeper than PATH_MAX).
std::vector<std::string> TemporaryFiles(const fs::path& folder) {
    std::string out;
    testsupport::RunCommand("find " + ShellQuote(folder.string()) + " -name '.*.wavtrn-*'", &out);
    return Lines(out);
}

// Starts wavtrn-cli in a process group of its own, its output thrown away;
// inherited: with SIGCHLD ignored and the interrupts blocked, as a careless
// parent may leave them.
pid_t StartCli(const std::vector<std::string>& args, bool inherited = false) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        if (inherited) {
            ::signal(SIGCHLD, SIG_IGN);
            sigset_t blocked;
            sigemptyset(&blocked);
            for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, signal);
            ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
        }
        std::vector<std::string> words = {Cli()};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits until a temporary file with data in it shows in folder: the worker has
// told its parent the file's name by then. False when none did in ten seconds.
bool WaitForTemporaryData(const fs::path& folder) {
    for (int i = 0; i < 1000; ++i) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            std::error_code ec;
            if (Contains(entry.path().filename().string(), ".wavtrn-") && fs::file_size(entry.path(), ec) > 0) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Makes folders named 250 x's, twenty deep, and goes into the last: a working
// folder whose path is longer than PATH_MAX.
void EnterDeepFolder() {
    const std::string name(250, 'x');
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(::mkdir(name.c_str(), 0700) == 0 && ::chdir(name.c_str()) == 0);
}

// The first child of a process: wavtrn-cli's worker.
pid_t FirstChild(pid_t pid) {
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    pid_t child = -1;
    children >> child;
    return child;
}

TEST(CliConvert, StoppingRemovesTheUnfinishedFileWhereverItIs) {
    TempDir dir;
    // Long enough to be caught mid-way: MP3 encoding of a minute and a half.
    const std::string src = testsupport::WriteTestWave(dir.file("long.wav"), testsupport::PcmFormat(44100, 16, 2), 44100 * 90);
    // Workers whose parent died come back to this process, to be waited for.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    enum class Where { OutDir, DanglingLink, DeepFolder };
    // Ctrl-C reaches the whole process group; a killed worker cannot clean up
    // after itself, its parent must know the file.
    enum class Stop { CtrlC, KillWorker, KillParent };
    struct Row {
        const char* name;
        Where where;
        Stop stop;
        int status;  // the exit status; -1: killed
        bool inherited = false;  // started with SIGCHLD ignored and the interrupts blocked
    };
    const Row rows[] = {
        {"Ctrl-C, --out-dir", Where::OutDir, Stop::CtrlC, 130},
        {"Ctrl-C, started with SIGCHLD ignored and the interrupts blocked", Where::OutDir, Stop::CtrlC, 130, true},
        {"Ctrl-C, destination a dangling link", Where::DanglingLink, Stop::CtrlC, 130},
        {"Ctrl-C, working folder longer than PATH_MAX", Where::DeepFolder, Stop::CtrlC, 130},
        {"worker killed, destination a dangling link", Where::DanglingLink, Stop::KillWorker, 1},
        {"worker killed, working folder longer than PATH_MAX", Where::DeepFolder, Stop::KillWorker, 1},
        {"parent killed", Where::OutDir, Stop::KillParent, -1},
    };
    const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        const fs::path base = dir.path() / std::to_string(i), out = base / "out", target = base / "target";
        fs::create_directories(out);
        fs::create_directories(target);
        std::vector<std::string> args = {"convert", "--to", "mp3/44100/128/2", src, "--out-dir", out.string()};
        fs::path watched = out;
        if (row.where == Where::DanglingLink) {
            fs::create_symlink("../target/x.wav", out / "x.wav");
            args = {"convert", "--to", "mp3/44100/128/2", src, "-o", (out / "x.wav").string()};
            watched = target;
        } else if (row.where == Where::DeepFolder) {
            ASSERT_EQ(::chdir(base.c_str()), 0);
            EnterDeepFolder();
            args = {"convert", "--to", "mp3/44100/128/2", src, "-o", "x.wav"};
            watched = ".";
        }
        const pid_t pid = StartCli(args, row.inherited);
        const bool writing = WaitForTemporaryData(watched);
        if (row.stop == Stop::CtrlC) ::kill(-pid, SIGINT);
        if (row.stop == Stop::KillWorker) ::kill(FirstChild(pid), SIGKILL);
        if (row.stop == Stop::KillParent) ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        while (::wait(nullptr) > 0) {
        }
        ASSERT_EQ(::fchdir(home), 0);
        EXPECT_TRUE(writing) << row.name << ": the conversion never started writing";
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, row.status) << row.name;
        EXPECT_EQ(TemporaryFiles(base), std::vector<std::string>{}) << row.name;
        testsupport::RunCommand("rm -rf " + ShellQuote(base.string()));
    }
}

TEST(CliMessages, EachFailureIsTheFileAndItsReasonInPlainWords) {
    TempDir dir;
    const std::string good = testsupport::WriteTestWave(dir.file("good.wav"), testsupport::PcmFormat(8000, 16, 1), 800);
    const std::string text = dir.file("text.wav"), noFmt = dir.file("nofmt.wav"), noData = dir.file("nodata.wav");
    testsupport::WriteText(text, "just some words, no RIFF form");
    testsupport::WriteText(noFmt, std::string("RIFF\x10\0\0\0WAVELIST\0\0\0\0", 20));
    auto bytes = testsupport::ReadBytes(good);
    const std::string data = "data";
    *std::search(bytes.begin(), bytes.end(), data.begin(), data.end()) = 'x';  // "xata": no data chunk
    testsupport::WriteBytes(noData, bytes);
    // WMA Voice without the 46 bytes its decoder needs: FFmpeg refuses to open it.
    const std::string voice = dir.file("voice.wav");
    const WAVEFORMATEX wmaVoice{0x000A, 1, 8000, 2000, 40, 0, 0};
    const std::vector<std::uint8_t> silence(400);
    testsupport::WriteBytes(voice, testsupport::MakeWave(testsupport::FormatBytes(wmaVoice), silence));
    const std::string missing = dir.file("missing.wav"), folder = dir.file("folder.wav"), fifo = dir.file("fifo.wav");
    fs::create_directories(folder);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string out = dir.file("out.wav"), nowhere = dir.file("none/out.wav");
    auto convert = [](const std::string& from, const std::string& to) {
        return std::vector<std::string>{"convert", "--to", "alaw/8000/1", from, "-o", to};
    };
    // Names with what a terminal would act on, and lists that hold no paths.
    const std::string odd = dir.file("bell\a\x1b[31mred\nline.wav");
    const std::string oddShown = dir.file("bell\\x07\\x1B[31mred\\nline.wav");
    const std::string nulList = dir.file("nul.txt"), longList = dir.file("long.txt");
    testsupport::WriteText(nulList, good + std::string("\0", 1) + good + "\n");
    testsupport::WriteText(longList, good + "\n" + std::string(5000, 'x') + "\n");
    auto listFault = [](const std::string& list, const std::string& where) {
        return "'" + list + "', " + where;
    };
    const char* const kNulInName = "a NUL byte in a name (NUL-separated names need -0)";
    struct Row {
        std::vector<std::string> args;
        std::string file;
        std::string reason;
        bool condition;  // a failed condition stands behind it, for --verbose to show
        std::string input = "/dev/null";
        std::string ffmpeg = {};  // FFmpeg's reason, a note --verbose shows
    };
    const Row rows[] = {
        {{"info", "-"}, "-", "not a RIFF WAVE file", false, "/dev/zero"},
        {{"info", "/proc/self/mem"}, "/proc/self/mem", "reading the source: Input/output error", false},
        {{"info", odd}, oddShown, "cannot open '" + oddShown + "': No such file or directory", false},
        {{"info", "--files-from", nulList}, "wavtrn-cli", listFault(nulList, "line 1: ") + kNulInName, false},
        {{"info", "--files-from", "/dev/zero"}, "wavtrn-cli", listFault("/dev/zero", "line 1: ") + kNulInName, false},
        {{"info", "-0", "--files-from", "/dev/zero"}, "wavtrn-cli", listFault("/dev/zero", "name 1: an empty name"), false},
        {{"info", "--files-from", longList}, "wavtrn-cli",
         listFault(longList, "line 2: longer than the longest path (4095 bytes)"), false},
        {{"info", text}, text, "not a RIFF WAVE file", true},
        {{"info", noFmt}, noFmt, "no \"fmt \" chunk", true},
        {{"info", missing}, missing, "cannot open '" + missing + "': No such file or directory", false},
        {{"info", folder}, folder, "cannot open '" + folder + "': Is a directory", false},
        {{"info", fifo}, fifo, "cannot open '" + fifo + "': not a regular file", false},
        {convert(noData, out), noData, "no \"data\" chunk", true},
        {convert(fifo, out), fifo, "cannot open '" + fifo + "': not a regular file", true},
        {convert(good, nowhere), good, "cannot create '" + nowhere + "': No such file or directory", true},
        {convert(good, folder), good, "cannot create '" + folder + "': Is a directory", true},
        {convert(voice, out), voice, "this conversion is not possible (ACMERR_NOTPOSSIBLE)", false, "/dev/null",
         "Invalid data found when processing input (avcodec_open2 wmavoice)"},
    };
    for (const Row& row : rows) {
        for (const bool verbose : {false, true}) {
            std::vector<std::string> args = row.args;
            if (verbose) args.push_back("--verbose");
            const CliRun run = RunCli(dir, args, {.input = row.input});
            EXPECT_EQ(run.status, 1) << row.reason;
            EXPECT_TRUE(row.args.front() != "info" || run.out.empty()) << run.out;
            const std::vector<std::string> lines = Lines(run.err);
            ASSERT_FALSE(lines.empty()) << row.reason;
            EXPECT_EQ(lines[0], row.file + ": " + row.reason);
            EXPECT_EQ(Contains(run.err, row.file + ": Assertion failed: "), verbose && row.condition) << run.err;
            const bool note = verbose && !row.ffmpeg.empty();
            EXPECT_EQ(Contains(run.err, row.file + ": note: FFmpeg: " + row.ffmpeg + "\n"), note) << run.err;
            EXPECT_EQ(lines.size(), 1u + (verbose && row.condition) + note) << run.err;
        }
    }
    EXPECT_FALSE(fs::exists(out));
}

TEST(CliMessages, DamagedBlocksThatWereSkippedAreCounted) {
    TempDir dir;
    const std::string good = testsupport::WriteTestWave(dir.file("good.wav"), testsupport::PcmFormat(8000, 16, 1), 4040);
    const std::string ima = dir.file("ima.wav");
    ASSERT_EQ(RunCli(dir, {"convert", "--to", "ima-adpcm/8000/1", good, "-o", ima}).status, 0);
    auto bytes = testsupport::ReadBytes(ima);
    const std::string data = "data";
    const auto at = static_cast<std::size_t>(std::search(bytes.begin(), bytes.end(), data.begin(), data.end()) - bytes.begin()) + 8;
    bytes[at + 256 + 2] = bytes[at + 3 * 256 + 2] = 200;  // step indexes beyond the table
    testsupport::WriteBytes(ima, bytes);
    const CliRun run = RunCli(dir, {"convert", "--to", "pcm/8000/16/1", ima, "-o", dir.file("back.wav")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, ima + ": warning: 2 damaged blocks of the source were skipped")) << run.err;
}

TEST(CliMessages, SamplesClippedIntoIntegersAreCountedAndFloatKeepsThem) {
    TempDir dir;
    const std::string loud = dir.file("loud.wav");
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -f lavfi -i 'aevalsrc=2*sin(2*PI*300*t):s=8000:d=0.1' -c:a pcm_f32le " +
                                      testsupport::ShellQuote(loud)),
              0);
    const auto bytes = testsupport::ReadBytes(loud);
    const std::string data = "data";
    const auto at = static_cast<std::size_t>(std::search(bytes.begin(), bytes.end(), data.begin(), data.end()) - bytes.begin()) + 8;
    unsigned long beyond = 0;
    for (std::size_t i = at; i + 4 <= bytes.size(); i += 4) {
        float x;
        std::memcpy(&x, &bytes[i], sizeof x);
        beyond += x > 1.0f || x < -1.0f;
    }
    ASSERT_GT(beyond, 0u);
    const CliRun clipped = RunCli(dir, {"convert", "--to", "pcm/8000/16/1", loud, "-o", dir.file("int.wav")});
    EXPECT_EQ(clipped.status, 0) << clipped.err;
    EXPECT_TRUE(Contains(clipped.err, loud + ": warning: clipped " + std::to_string(beyond) + " samples")) << clipped.err;
    const CliRun json = RunCli(dir, {"convert", "--json", "--to", "pcm/8000/16/1", loud, "-o", dir.file("int.wav")});
    EXPECT_TRUE(Contains(json.out, "clipped " + std::to_string(beyond) + " samples")) << json.out;
    const CliRun kept = RunCli(dir, {"convert", "--to", "float/8000/64/1", loud, "-o", dir.file("double.wav")});
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_FALSE(Contains(kept.err, "clipped")) << kept.err;
}

TEST(CliMetadata, InfoListsTheChunksAndConvertCarriesThemOrLeavesThemOut) {
    TempDir dir;
    const std::string src = testsupport::WriteTestWave(dir.file("src.wav"), testsupport::PcmFormat(16000, 16, 1), 1600);
    auto bytes = testsupport::ReadBytes(src);
    auto append = [&bytes](const char* id, std::vector<std::uint8_t> data) {
        bytes.insert(bytes.end(), id, id + 4);
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(data.size() >> (8 * i)));
        bytes.insert(bytes.end(), data.begin(), data.end());
    };
    std::vector<std::uint8_t> bext(602, 0);
    std::copy_n("Take", 4, bext.begin());
    bext[338] = 0x80, bext[339] = 0x3E;  // time reference 16,000: one second
    append("bext", bext);
    std::vector<std::uint8_t> cue(28, 0);
    cue[0] = 5;  // five points in room for one
    append("cue ", cue);
    for (int i = 0; i < 4; ++i) bytes[4 + i] = static_cast<std::uint8_t>((bytes.size() - 8) >> (8 * i));
    testsupport::WriteBytes(src, bytes);
    const std::string label = DialogLabel(src);

    const CliRun info = RunCli(dir, {"info", src}, Locale(kJapanese));
    EXPECT_EQ(info.out, src + ": " + label + "\n  \"bext\", 602 bytes\n    description: Take\n"
                        "    time reference (samples): 16000\n    version: 0\n  \"cue \", 28 bytes\n");
    const nlohmann::json json = nlohmann::json::parse(RunCli(dir, {"info", "--json", src}, Locale(kJapanese)).out);
    EXPECT_EQ(json["description"], label);
    EXPECT_EQ(json["metadata"][0]["fields"][0], nlohmann::json({{"name", "description"}, {"value", "Take"}}));
    EXPECT_EQ(json["metadata"][1]["id"], "cue ");
    EXPECT_EQ(json["metadata"][1]["size"], 28);

    const std::string half = dir.file("half.wav"), plain = dir.file("plain.wav");
    const CliRun carried = RunCli(dir, {"convert", "--verbose", "--to", "pcm/8000/16/1", src, "-o", half});
    EXPECT_EQ(carried.err, src + ": \"cue \" chunk's layout is broken: copied unchanged, its positions not rescaled\n");
    EXPECT_TRUE(Contains(RunCli(dir, {"info", half}).out, "    time reference (samples): 8000\n    version: 0\n"
                         "    coding history: A=PCM,F=8000,W=16,M=mono,T=WAVTRN\n  \"cue \", 28 bytes\n"));
    EXPECT_EQ(RunCli(dir, {"convert", "--no-metadata", "--to", "pcm/8000/16/1", src, "-o", plain}).status, 0);
    EXPECT_EQ(RunCli(dir, {"info", plain}, Locale(kJapanese)).out, plain + ": " + DialogLabel(plain) + "\n");
    EXPECT_EQ(fs::file_size(plain), fs::file_size(half) - (8 + 602 + 35 + 1) - (8 + 28));  // bext grew by a line
}

TEST(CliConvert, ASourceThatIsItsOwnDestinationIsConvertedOnlyWithForce) {
    TempDir dir;
    const std::string src = testsupport::WriteTestWave(dir.file("src.wav"), testsupport::PcmFormat(8000, 16, 1), 800);
    const auto original = testsupport::ReadBytes(src);
    fs::create_hard_link(src, dir.file("hard.wav"));
    fs::create_symlink(src, dir.file("link.wav"));
    for (const std::string& destination : {src, dir.file("hard.wav"), dir.file("link.wav")}) {
        const CliRun run = RunCli(dir, {"convert", "--to", "alaw/8000/1", src, "-o", destination});
        EXPECT_EQ(run.status, 1) << destination;
        EXPECT_EQ(run.err, src + ": source and destination are the same file (--force converts it in place)\n");
        EXPECT_EQ(testsupport::ReadBytes(src), original) << destination;
    }
    const CliRun forced = RunCli(dir, {"convert", "--force", "--to", "alaw/8000/1", src, "-o", dir.file("link.wav")});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(testsupport::Probe(src).codec, "pcm_alaw");
    EXPECT_TRUE(fs::is_symlink(dir.file("link.wav")));
    EXPECT_EQ(TemporaryFiles(dir.path()), std::vector<std::string>{});
}

TEST(CliFormats, AWordFiltersLetterCaseAsideAndKeysAreTakenLikewise) {
    TempDir dir;
    const std::vector<std::string> all = Lines(RunCli(dir, {"formats"}, Locale(kJapanese)).out);
    for (const std::string word : {"gsm", "MU-LAW", "ima-adpcm/22050", "ステレオ", "44,100 HZ"}) {
        const CliRun run = RunCli(dir, {"formats", word}, Locale(kJapanese));
        EXPECT_EQ(run.status, 0) << word;
        auto lower = [](std::string t) {
            std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return std::tolower(c); });
            return t;
        };
        std::vector<std::string> expected;
        for (const std::string& line : all) {
            const std::vector<std::string> f = Split(line, '\t');
            if (Contains(lower(f[0] + "\t" + f[1] + "\t" + f[2]), lower(word))) expected.push_back(line);
        }
        EXPECT_FALSE(expected.empty()) << word;
        EXPECT_EQ(Lines(run.out), expected) << word;
    }
    EXPECT_EQ(RunCli(dir, {"formats", "no-such-codec"}).status, 1);

    const std::string src = testsupport::WriteTestWave(dir.file("src.wav"), testsupport::PcmFormat(8000, 16, 1), 800);
    struct Row {
        std::string key;
        int status;
        std::string said;  // on standard error
    };
    const Row rows[] = {
        {"GSM/8000/1", 0, ""},
        {"Pcm/8000/8/1", 0, ""},
        {"gsm/8000/2", 2, "unknown format key 'gsm/8000/2'; nearest: gsm/8000/1, "},
        {"pcm/8000/17/1", 2, "; nearest: pcm/8000/16/1, pcm/8000/24/1, pcm/11025/16/1 ("},  // off in one field first
        {"pcm/11127/16/1", 0, ""},  // any rate, for PCM and float
        {"pcm-ext/384000/64/7", 0, ""},
        {"float-ext/11127/32/6", 0, ""},
        {"pcm/800000/24/1", 2, "; nearest: pcm/192000/24/1, pcm/176400/24/1, "},  // above 768 kHz
        {"float/44100/32/9", 2, "; nearest: float/44100/32/8, "},
        {"g726/8000/40/1", 0, ""},
    };
    for (const Row& row : rows) {
        const CliRun run = RunCli(dir, {"convert", "--to", row.key, src, "-o", dir.file("out.wav")});
        EXPECT_EQ(run.status, row.status) << row.key << run.err;
        EXPECT_TRUE(Contains(run.err, row.said)) << run.err;
        EXPECT_EQ(fs::exists(dir.file("out.wav")), row.status == 0) << row.key;
        fs::remove(dir.file("out.wav"));
    }
}

TEST(CliConvert, FilesFromAListOrStandardInputWithAJsonLineEach) {
    TempDir dir;
    const fs::path in = dir.path() / "in";
    fs::create_directories(in);
    std::vector<std::string> names;
    for (const char* name : {"a.wav", "say \"hi\" \\ \xC3\xA9\x01.wav", "b.wav"})
        names.push_back(testsupport::WriteTestWave((in / name).string(), testsupport::PcmFormat(8000, 16, 1), 800));
    const std::string missing = (in / "missing.wav").string();
    names.push_back(missing);
    // Lines with empty ones between, lines ended by CR LF, and names ended by NUL bytes.
    for (const auto& [file, end] : {std::pair<const char*, std::string>{"list.txt", "\n\n"}, {"crlf.txt", "\r\n\r\n"},
                                    {"nul.txt", std::string("\0", 1)}}) {
        std::string list;
        for (const std::string& name : names) list += name + end;
        testsupport::WriteText(dir.file(file), list);
    }
    struct Variant {
        const char* list;
        bool fromStdin;
        bool null;
    };
    for (const Variant& v : {Variant{"list.txt", false, false}, Variant{"list.txt", true, false},
                             Variant{"crlf.txt", false, false}, Variant{"nul.txt", true, true}}) {
        const bool fromStdin = v.fromStdin;
        const fs::path out = dir.path() / (std::string("out-") + v.list + (fromStdin ? "-stdin" : ""));
        fs::create_directories(out);
        std::vector<std::string> args = {"convert", "--json", "--to", "mulaw/8000/1", "--out-dir", out.string(),
                                         "--files-from", fromStdin ? "-" : dir.file(v.list)};
        if (v.null) args.push_back("-0");
        const CliRun run = RunCli(dir, args, {.input = fromStdin ? dir.file(v.list) : "/dev/null"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "") << "with --json every word is in the objects";
        std::set<std::string> sources;
        for (const std::string& line : Lines(run.out)) {
            const nlohmann::json object = nlohmann::json::parse(line);
            ASSERT_EQ(object.size(), 5u) << line;
            const std::string source = object.at("source");
            const bool good = source != missing;
            sources.insert(source);
            EXPECT_EQ(object.at("destination"), (out / fs::path(source).filename()).string());
            EXPECT_EQ(object.at("outcome"), good ? "converted" : "failed");
            EXPECT_EQ(object.at("message"), good ? "" : "cannot open '" + missing + "': No such file or directory");
            EXPECT_GE(object.at("seconds").get<double>(), 0.0);
            EXPECT_EQ(fs::exists(object.at("destination").get<std::string>()), good);
        }
        EXPECT_EQ(sources.size(), 4u) << run.out;
        EXPECT_TRUE(sources.count(missing)) << run.out;
    }
}

// True when the process holds a file that has no name under folder.
bool HoldsUnnamedFileIn(pid_t pid, const std::string& folder) {
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        const std::string target = fs::read_symlink(fd.path(), ec).string();
        if (target.rfind(folder + "/", 0) == 0 && Contains(target, "(deleted)")) return true;
    }
    return false;
}

TEST(CliConvert, DashReadsStandardInputThroughATemporaryFileThatIsRemoved) {
    TempDir dir;
    const std::string src = testsupport::WriteTestWave(dir.file("src.wav"), testsupport::PcmFormat(8000, 16, 1), 8000);
    const std::string tmp = dir.file("tmp");
    fs::create_directories(tmp);
    const std::string inTmp = "export TMPDIR=" + ShellQuote(tmp) + ";";
    const CliRun info = RunCli(dir, {"info", "-"}, Locale(kJapanese, {.input = src, .prefix = inTmp}));
    EXPECT_EQ(info.out, "-: " + DialogLabel(src) + "\n");
    const CliRun run =
        RunCli(dir, {"convert", "--to", "alaw/8000/1", "-", "-o", dir.file("out.wav")}, {.input = src, .prefix = inTmp});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(testsupport::Probe(dir.file("out.wav")).codec, "pcm_alaw");
    EXPECT_NEAR(testsupport::Probe(dir.file("out.wav")).duration, 1.0, 0.01);
    EXPECT_TRUE(fs::is_empty(tmp));

    // Killed while it copies: the copy never had a name to leave behind.
    int feed[2];
    ASSERT_EQ(::pipe(feed), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(feed[0], STDIN_FILENO);
        ::close(feed[1]);
        ::setenv("TMPDIR", tmp.c_str(), 1);
        ::execl(Cli().c_str(), "wavtrn-cli", "info", "-", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(feed[0]);
    const auto head = testsupport::ReadBytes(src);
    EXPECT_EQ(::write(feed[1], head.data(), 4096), 4096);
    bool spooling = false;
    for (int i = 0; i < 500 && !spooling; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        spooling = HoldsUnnamedFileIn(pid, tmp);
    EXPECT_TRUE(spooling);
    EXPECT_TRUE(fs::is_empty(tmp));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ::close(feed[1]);
    EXPECT_TRUE(fs::is_empty(tmp));
}

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::string ReadText(const std::string& path) {
    const auto bytes = testsupport::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// "-o -" writes standard output, the words going to standard error. Through a
// pipe the sizes are the streaming placeholders and ffmpeg reads every
// sample; into a file they are patched, and /dev/stdout, /dev/fd/1 and
// /proc/self/fd/1 write the same. A reader gone mid-file is said in the
// system's words.
TEST(CliConvert, DashAsDestinationWritesStandardOutput) {
    TempDir dir;
    constexpr std::uint32_t kFrames = 80000;  // 160 kB, more than a pipe holds
    const std::string src = testsupport::WriteTestWave(dir.file("src.wav"), testsupport::PcmFormat(8000, 16, 1), kFrames);
    const std::string err = dir.file("err.txt"), streamed = dir.file("streamed.wav");
    const std::string toPcm = CommandLine({"convert", "--to", "pcm/8000/16/1", "-", "-o", "-"});
    std::string decoded;
    ASSERT_EQ(testsupport::RunCommand(toPcm + " <" + ShellQuote(src) + " 2>" + ShellQuote(err) + " | tee " +
                                          ShellQuote(streamed) + " | ffmpeg -v error -i - -f s16le - | wc -c",
                                      &decoded),
              0);
    EXPECT_EQ(std::stoul(decoded), kFrames * 2);
    EXPECT_EQ(ReadText(err), "- -> -\n1 converted, 0 failed\n");
    const auto bytes = testsupport::ReadBytes(streamed);
    ASSERT_EQ(bytes.size(), 46u + kFrames * 2);
    EXPECT_EQ(Le32(bytes, 4), 0xFFFFFFFFu);   // the form's size
    EXPECT_EQ(Le32(bytes, 42), 0xFFFFFFFFu);  // the data chunk's, after an 18-byte "fmt "
    EXPECT_EQ(RunCli(dir, {"convert", "--to", "alaw/8000/1", streamed, "-o", dir.file("back.wav")}).status, 0);
    EXPECT_NEAR(testsupport::Probe(dir.file("back.wav")).duration, 10.0, 0.01);

    for (const char* name : {"-", "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        const std::string file = dir.file("file.wav");
        ASSERT_EQ(testsupport::RunCommand(CommandLine({"convert", "--to", "pcm/8000/16/1", src, "-o", name}) + " >" +
                                          ShellQuote(file) + " 2>/dev/null"),
                  0)
            << name;
        const auto written = testsupport::ReadBytes(file);
        ASSERT_EQ(written.size(), bytes.size()) << name;
        EXPECT_EQ(Le32(written, 4), written.size() - 8) << name;
        EXPECT_EQ(Le32(written, 42), kFrames * 2) << name;
        EXPECT_TRUE(std::equal(written.begin() + 46, written.end(), bytes.begin() + 46)) << name;
    }

    const std::string status = dir.file("status.txt");
    testsupport::RunCommand("(" + CommandLine({"convert", "--to", "pcm/8000/16/1", src, "-o", "-"}) + " 2>" +
                            ShellQuote(err) + "; echo $? >" + ShellQuote(status) + ") | head -c 1000 >/dev/null");
    EXPECT_EQ(ReadText(status), "1\n");
    EXPECT_EQ(ReadText(err), src + ": writing the destination: Broken pipe\n0 converted, 1 failed\n");
}

// A batch into one folder: each temporary file is opened once, by its
// creation, and the folder is read for stale temporary files once, not once
// a file.
TEST(CliConvert, EachTemporaryIsOpenedOnceAndTheFolderReadOnce) {
    if (testsupport::RunCommand("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
    TempDir dir;
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    std::vector<std::string> args = {"convert", "--to", "gsm/8000/1", "--out-dir", out.string(), "-j", "2"};
    for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav"})
        args.push_back(testsupport::WriteTestWave(dir.file(name), testsupport::PcmFormat(8000, 16, 1), 8000));
    // A trace file a process, so that no call is split over two lines.
    // LeakSanitizer, in a sanitizer build, cannot work under strace.
    const std::string trace = dir.file("trace");
    std::string calls;
    ASSERT_EQ(testsupport::RunCommand("ASAN_OPTIONS=detect_leaks=0 strace -ff -y -qq -e trace=open,openat,creat,getdents64 -o " +
                                      ShellQuote(trace) + " " + CommandLine(args) + " >/dev/null 2>&1 && cat " +
                                      ShellQuote(trace) + ".*",
                                      &calls),
              0);
    std::map<std::string, int> opens;  // temporary name: times opened
    int folderReadsToTheEnd = 0;
    for (const std::string& line : Lines(calls)) {
        if (Contains(line, "getdents64(") && Contains(line, "<" + out.string() + ">") && Contains(line, ") = 0")) {
            ++folderReadsToTheEnd;
        }
        const auto marker = line.find(".wavtrn-");
        if (!Contains(line, "open") || marker == std::string::npos) continue;
        const auto start = line.rfind('/', marker) + 1, end = line.find('"', marker);
        ++opens[line.substr(start, end - start)];
        EXPECT_TRUE(Contains(line, "O_CREAT|O_EXCL")) << line;
    }
    EXPECT_EQ(opens.size(), 4u);
    for (const auto& [name, count] : opens) EXPECT_EQ(count, 1) << name;
    EXPECT_EQ(folderReadsToTheEnd, 1);
}

// Runs wavtrn-cli with a standard output whose reader is gone before it starts.
CliRun RunIntoClosedPipe(const std::vector<std::string>& args) {
    int pipeFds[2];
    EXPECT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]);
    CliRun run;
    run.status = testsupport::RunCommand(CommandLine(args) + " 2>&1 >&" + std::to_string(pipeFds[1]), &run.err);
    ::close(pipeFds[1]);
    return run;
}

TEST(CliConvert, AReaderThatGoesAwayStopsNoConversionAndLeavesNoFile) {
    TempDir dir;
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    std::vector<std::string> args = {"convert", "--to", "gsm/8000/1", "--out-dir", out.string(), "-j", "2"};
    for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav"})
        args.push_back(testsupport::WriteTestWave(dir.file(name), testsupport::PcmFormat(8000, 16, 1), 8000));
    for (const auto& run : {RunIntoClosedPipe(args), RunIntoClosedPipe({"formats"})}) {
        // A reader that went away is no news to the user: nothing is said.
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_EQ(run.err, "");
    }
    EXPECT_EQ(Listing(out), (std::set<std::string>{"a.wav", "b.wav", "c.wav", "d.wav"}));
}

TEST(CliConvert, FewDescriptorsMeanFewerWorkersNotFailedFiles) {
    TempDir dir;
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    std::vector<std::string> args = {"convert", "--to", "gsm/8000/1", "--out-dir", out.string(), "-j", "8"};
    std::set<std::string> names;
    for (int i = 0; i < 10; ++i) {
        names.insert(std::to_string(i) + ".wav");
        args.push_back(testsupport::WriteTestWave(dir.file(*names.rbegin()), testsupport::PcmFormat(8000, 16, 1), 8000));
    }
    const CliRun run = RunCli(dir, args, {.prefix = "ulimit -n 12;"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "10 converted, 0 failed\n")) << run.out;
    EXPECT_EQ(Listing(out), names);
}

TEST(CliFormats, TooLittleMemoryIsSaidInsteadOfDying) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer maps more address space than a low limit leaves";
#endif
    TempDir dir;
    auto limited = [&](long kib, const std::string& command) {
        return RunCli(dir, {command}, {.prefix = "ulimit -v " + std::to_string(kib) + ";"});
    };
    // The lowest limit (KiB) under which the program starts at all: libraries
    // that fail before main are beyond its reach.
    long low = 0, high = 4L << 20;
    ASSERT_EQ(limited(high, "--help").status, 0);
    while (high - low > 1) {
        const long middle = (low + high) / 2;
        (limited(middle, "--help").status == 0 ? high : low) = middle;
    }
    const std::size_t all = Lines(RunCli(dir, {"formats"}).out).size();
    bool saidSo = false;
    for (long kib = high + 16; kib < high + 1024; kib += 32) {
        const CliRun run = limited(kib, "formats");
        if (run.status == 0) {
            EXPECT_EQ(Lines(run.out).size(), all) << kib;
            continue;
        }
        EXPECT_EQ(run.status, 1) << kib;
        EXPECT_EQ(run.err, "wavtrn-cli: out of memory\n") << kib;
        saidSo = true;
    }
    EXPECT_TRUE(saidSo) << "no limit from " << high << " KiB up ran out of memory";
}

}  // namespace
