// TEST, COPY and CPY2: the boxes they show, their verdicts and the files they leave.
#include "diag/diag.h"

#include "app/dialog.h"
#include "app/message_boxes.h"
#include "platform/kernel/kernel.h"
#include "platform/window/window.h"
#include "res/resource.h"
#include "support/faults.h"
#include "support/flow.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using testsupport::WriteText;

HWND const kDialog = reinterpret_cast<HWND>(0x4000);

struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

// A window backend that holds the two path fields and records every message box.
class RecordingBackend final : public WindowBackend {
public:
    std::map<int, std::string> fields;
    std::vector<Box> boxes;
    std::function<void(const Box&)> onBox;  // runs while the box is "shown"

    INT_PTR RunDialog(const DialogTemplate&, DLGPROC, LPARAM) override { return -1; }
    HWND ControlHandle(HWND, int id) override { return reinterpret_cast<HWND>(static_cast<std::intptr_t>(0x1000 + id)); }
    std::string ControlText(HWND control) override {
        return fields[static_cast<int>(reinterpret_cast<std::intptr_t>(control)) - 0x1000];
    }
    bool SetControlText(HWND control, std::string_view text) override {
        fields[static_cast<int>(reinterpret_cast<std::intptr_t>(control)) - 0x1000] = std::string(text);
        return true;
    }
    HWND SetFocus(HWND) override { return nullptr; }
    void EndDialog(HWND, INT_PTR) override {}
    void MessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) override {
        boxes.push_back({owner, std::string(text), std::string(caption), type});
        if (onBox) onBox(boxes.back());
    }
    std::optional<std::string> PickFile(const FilePickerRequest&) override { return std::nullopt; }
    std::optional<FormatChoice> ChooseFormat(HWND, const FormatChooserModel&) override { return std::nullopt; }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Box& b : boxes) texts.push_back(b.text);
        return texts;
    }
};

class Diag : public ::testing::Test {
protected:
    void SetUp() override { SetWindowBackend(&backend); }
    void TearDown() override {
        SetWindowBackend(nullptr);
        faults::FailStatx(0, 0);
    }
    void Fields(const std::string& src, const std::string& dst) {
        backend.fields[IDC_SRCFILE] = src;
        backend.fields[IDC_DSTFILE] = dst;
    }
    // Every box so far is a plain message: no owner, default caption, OK, no icon.
    void ExpectPlainBoxes() {
        for (const Box& b : backend.boxes) {
            EXPECT_EQ(b.owner, nullptr) << b.text;
            EXPECT_EQ(b.caption, kDefaultCaption) << b.text;
            EXPECT_EQ(b.type, MB_OK) << b.text;
        }
    }
    // A CPY2 failure box: owned by the dialog, OK, no icon.
    void ExpectDialogBox(const Box& b, const std::string& text, const std::string& caption) {
        EXPECT_EQ(b.owner, kDialog);
        EXPECT_EQ(b.text, text);
        EXPECT_EQ(b.caption, caption);
        EXPECT_EQ(b.type, MB_OK);
    }

    TempDir dir;
    RecordingBackend backend;
};

std::string Format(const char* format, unsigned long a, unsigned long b) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// The calendar line of a stamp, computed with the C library.
std::string CalendarLine(const timespec& ts) {
    std::tm tm{};
    EXPECT_NE(::gmtime_r(&ts.tv_sec, &tm), nullptr);
    char text[80];
    std::snprintf(text, sizeof text, "%d %d %d %d %d %d %d %ld", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_wday,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ts.tv_nsec / 1'000'000);
    return text;
}

// The seven field boxes two files' stat records should give.
std::vector<std::string> FieldBoxes(const struct stat& a, const struct stat& b, unsigned long attrA = 0x80,
                                    unsigned long attrB = 0x80) {
    const auto serial = [](const struct stat& s) {
        const std::uint64_t d = s.st_dev;
        return static_cast<unsigned long>(static_cast<std::uint32_t>(d ^ (d >> 32)));
    };
    const auto hi = [](std::uint64_t v) { return static_cast<unsigned long>(v >> 32); };
    const auto lo = [](std::uint64_t v) { return static_cast<unsigned long>(v & 0xFFFFFFFFu); };
    return {Format("attr =%lu %lu", attrA, attrB),
            Format("volno=%lu %lu", serial(a), serial(b)),
            Format("sizhi=%lu %lu", hi(static_cast<std::uint64_t>(a.st_size)), hi(static_cast<std::uint64_t>(b.st_size))),
            Format("sizlo=%lu %lu", lo(static_cast<std::uint64_t>(a.st_size)), lo(static_cast<std::uint64_t>(b.st_size))),
            Format("links=%lu %lu", a.st_nlink, b.st_nlink),
            Format("idx 1=%lu %lu", hi(a.st_ino), hi(b.st_ino)),
            Format("idx 2=%lu %lu", lo(a.st_ino), lo(b.st_ino))};
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

// The descriptor number the next open will get.
long NextDescriptor() {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::close(fd);
    return fd;
}

std::vector<std::string> Slice(const std::vector<std::string>& v, std::size_t from, std::size_t count) {
    if (from + count > v.size()) return {};
    return {v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(from + count)};
}

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// ---------------------------------------------------------------------------
// TEST

TEST_F(Diag, SameFileTwiceShowsTwelveBoxesAndSame) {
    const std::string file = dir.file("a.wav");
    WriteText(file, "hello");
    const long fd = NextDescriptor();
    Fields(file, file);
    OnTest(kDialog);
    const auto texts = backend.Texts();
    ASSERT_EQ(texts.size(), 13u);
    EXPECT_EQ(texts[0], "hFile1=" + std::to_string(fd));
    EXPECT_EQ(texts[1], "hFile2=" + std::to_string(fd)) << "the first file is closed before the second opens";
    const struct stat st = StatOf(file);
    const std::string write = CalendarLine(st.st_mtim);
    EXPECT_EQ(texts[4], write + "\n" + write);
    for (int i = 2; i <= 4; ++i) {
        const auto nl = texts[i].find('\n');
        ASSERT_NE(nl, std::string::npos);
        EXPECT_EQ(texts[i].substr(0, nl), texts[i].substr(nl + 1)) << texts[i];
    }
    EXPECT_EQ(Slice(texts, 5, 7), FieldBoxes(st, st));
    EXPECT_EQ(texts[12], "同一\n");
    ExpectPlainBoxes();
    EXPECT_EQ(NextDescriptor(), fd) << "nothing left open";
}

TEST_F(Diag, HardLinksAreTheSameFile) {
    const std::string a = dir.file("a");
    const std::string b = dir.file("b");
    WriteText(a, "linked");
    ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(CompareFileInfo(a.c_str(), b.c_str(), testsupport::BoxReporter()), 0);
    const auto texts = backend.Texts();
    ASSERT_EQ(texts.size(), 12u);
    const struct stat st = StatOf(a);
    EXPECT_EQ(Slice(texts, 5, 7), FieldBoxes(st, st));
    EXPECT_EQ(texts[9], "links=2 2");
}

TEST_F(Diag, ACopyIsADifferentFile) {
    const std::string a = dir.file("a");
    const std::string b = dir.file("b");
    WriteBytes(a, Bytes("same bytes"));
    WriteBytes(b, Bytes("same bytes"));
    Fields(a, b);
    OnTest(kDialog);
    const auto texts = backend.Texts();
    ASSERT_EQ(texts.size(), 13u);
    EXPECT_EQ(Slice(texts, 5, 7), FieldBoxes(StatOf(a), StatOf(b)));
    EXPECT_NE(texts[11], Format("idx 2=%lu %lu", 0, 0));
    EXPECT_EQ(texts[12], "違う\n");
    EXPECT_EQ(CompareFileInfo(a.c_str(), b.c_str(), testsupport::BoxReporter()), 3);
}

TEST_F(Diag, OpenFailuresEndEarly) {
    const std::string file = dir.file("f");
    WriteText(file, "x");
    const std::string fd = std::to_string(NextDescriptor());
    struct Case {
        std::string first, second;
        LONG result;
        std::vector<std::string> texts;
    };
    const std::vector<Case> cases = {
        {dir.file("missing"), file, 1, {"hFile1=-1", "CreateFile 1: file not found", "違う\n"}},
        {dir.file("no/such"), file, 1, {"hFile1=-1", "CreateFile 1: path not found", "違う\n"}},
        {dir.path().string(), file, 1, {"hFile1=-1", "CreateFile 1: error=5", "違う\n"}},
        {"", file, 1, {"hFile1=-1", "CreateFile 1: file not found", "違う\n"}},
        {file, dir.file("missing"), 2, {"hFile1=" + fd, "hFile2=-1", "CreateFile 2: file not found", "違う\n"}},
        {file, dir.file("no/such"), 2, {"hFile1=" + fd, "hFile2=-1", "CreateFile 2: path not found", "違う\n"}},
        {file, dir.path().string(), 2, {"hFile1=" + fd, "hFile2=-1", "CreateFile 2: error=5", "違う\n"}},
    };
    for (const Case& c : cases) {
        backend.boxes.clear();
        EXPECT_EQ(CompareFileInfo(c.first.c_str(), c.second.c_str(), testsupport::BoxReporter()), c.result) << c.first << " " << c.second;
        backend.boxes.clear();
        Fields(c.first, c.second);
        OnTest(kDialog);
        EXPECT_EQ(backend.Texts(), c.texts) << c.first << " " << c.second;
        ExpectPlainBoxes();
    }
    EXPECT_EQ(std::to_string(NextDescriptor()), fd);
}

TEST_F(Diag, LargeSparseFileShowsBothHalves) {
    const std::string file = dir.file("big");
    WriteText(file, "");
    ASSERT_EQ(::truncate(file.c_str(), (off_t{4} << 30) + 7), 0);
    EXPECT_EQ(CompareFileInfo(file.c_str(), file.c_str(), testsupport::BoxReporter()), 0);
    const auto texts = backend.Texts();
    ASSERT_EQ(texts.size(), 12u);
    EXPECT_EQ(texts[7], "sizhi=1 1");
    EXPECT_EQ(texts[8], "sizlo=7 7");
}

TEST_F(Diag, ReadOnlyAndUnreadableFilesAreCompared) {
    const std::string file = dir.file("locked");
    WriteText(file, "x");
    ASSERT_EQ(::chmod(file.c_str(), 0), 0);
    EXPECT_EQ(CompareFileInfo(file.c_str(), file.c_str(), testsupport::BoxReporter()), 0);
    const auto texts = backend.Texts();
    ASSERT_EQ(texts.size(), 12u);
    EXPECT_EQ(texts[5], "attr =1 1");
}

// The last-access time is shown but does not decide: the file's access time is
// changed while the second handle box is up, between the two reads.
TEST_F(Diag, LastAccessTimeAloneDoesNotDecide) {
    const std::string file = dir.file("f");
    WriteText(file, "x");
    struct statx stx {};
    ASSERT_EQ(::statx(AT_FDCWD, file.c_str(), 0, STATX_BTIME, &stx), 0);
    if ((stx.stx_mask & STATX_BTIME) == 0) {
        GTEST_SKIP() << "no birth time here: the creation time follows the status-change time";
    }
    backend.onBox = [&](const Box& b) {
        if (b.text.rfind("hFile2=", 0) != 0) return;
        const struct timespec times[2] = {{1'015'323'630, 456'000'000}, {0, UTIME_OMIT}};
        ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    };
    EXPECT_EQ(CompareFileInfo(file.c_str(), file.c_str(), testsupport::BoxReporter()), 0);
    const auto texts = backend.Texts();
    ASSERT_EQ(texts.size(), 12u);
    const auto nl = texts[3].find('\n');
    ASSERT_NE(nl, std::string::npos);
    EXPECT_EQ(texts[3].substr(nl + 1), "2002 3 2 5 10 20 30 456");
    EXPECT_NE(texts[3].substr(0, nl), texts[3].substr(nl + 1));
}

TEST_F(Diag, UnreadableRecordsKeepTheirFills) {
    const std::string file = dir.file("f");
    WriteText(file, "x");
    const struct stat st = StatOf(file);
    const std::string line = CalendarLine(st.st_mtim);
    const std::string zero = "1601 1 1 1 0 0 0 0";
    const std::string none = "0 0 0 0 0 0 0 0";
    const unsigned long ones = 4294967295ul;

    // First record unreadable: zeros, shown as the zero stamp and 0 values.
    faults::FailStatx(1, EACCES);
    EXPECT_EQ(CompareFileInfo(file.c_str(), file.c_str(), testsupport::BoxReporter()), 3);
    auto texts = backend.Texts();
    ASSERT_EQ(texts.size(), 13u);
    EXPECT_EQ(texts[1], "GetFileInfo 1: error=5");
    EXPECT_EQ(texts[2].rfind("hFile2=", 0), 0u);
    for (int i = 3; i <= 5; ++i) EXPECT_EQ(texts[i].substr(0, texts[i].find('\n')), zero);
    EXPECT_EQ(texts[5], zero + "\n" + line);
    const auto expected = FieldBoxes(st, st);
    for (int i = 0; i < 7; ++i) {
        // "name=0 <the second file's value>"
        const std::string& e = expected[static_cast<std::size_t>(i)];
        EXPECT_EQ(texts[static_cast<std::size_t>(6 + i)], e.substr(0, 6) + "0" + e.substr(e.find(' ', 6)));
    }

    // Second record unreadable: all 0xFF, refused by the conversion, 4294967295 values.
    backend.boxes.clear();
    faults::FailStatx(2, EBADF);
    EXPECT_EQ(CompareFileInfo(file.c_str(), file.c_str(), testsupport::BoxReporter()), 3);
    texts = backend.Texts();
    ASSERT_EQ(texts.size(), 13u);
    EXPECT_EQ(texts[2], "GetFileInfo 2: error=6");
    EXPECT_EQ(texts[5], line + "\n" + none);
    for (int i = 6; i < 13; ++i) {
        EXPECT_EQ(texts[i].substr(texts[i].size() - 11), " " + std::to_string(ones)) << texts[i];
    }

    // Both unreadable: the two fills never agree.
    backend.boxes.clear();
    faults::FailStatx(1, EACCES);
    backend.onBox = [](const Box& b) {
        if (b.text.rfind("hFile2=", 0) == 0) faults::FailStatx(1, EACCES);
    };
    EXPECT_EQ(CompareFileInfo(file.c_str(), file.c_str(), testsupport::BoxReporter()), 3);
    texts = backend.Texts();
    ASSERT_EQ(texts.size(), 14u);
    EXPECT_EQ(texts[5], zero + "\n" + none);
    EXPECT_EQ(texts[7], "attr =0 4294967295");
}

// ---------------------------------------------------------------------------
// COPY

TEST_F(Diag, CopyReportsSuccessAndEachFailure) {
    const std::string src = dir.file("src");
    const std::string dst = dir.file("dst");
    WriteBytes(src, Bytes("new\r\n\x1a"));
    WriteBytes(dst, Bytes("old old old"));
    struct Case {
        std::string src, dst, text;
    };
    const std::vector<Case> cases = {
        {src, dst, "success"},
        {dir.file("missing"), dst, "copyfile: file not found"},
        {src, dir.file("no/dst"), "copyfile: path not found"},
        {src, src, "copyfile: shareing violation"},
        {src, "/dev/full", "copyfile: error=112"},
        {dir.path().string(), dst, "copyfile: error=5"},
    };
    for (const Case& c : cases) {
        backend.boxes.clear();
        Fields(c.src, c.dst);
        OnCopy(kDialog);
        EXPECT_EQ(backend.Texts(), std::vector<std::string>{c.text}) << c.src << " -> " << c.dst;
        ExpectPlainBoxes();
        EXPECT_EQ(ReadBytes(src), Bytes("new\r\n\x1a"));
        EXPECT_EQ(ReadBytes(dst), Bytes("new\r\n\x1a"));
    }
    EXPECT_FALSE(fs::exists(dir.file("missing")));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

// ---------------------------------------------------------------------------
// CPY2

TEST_F(Diag, ByteCopyPassesEveryByteValue) {
    const std::string src = dir.file("src");
    const std::string dst = dir.file("dst");
    std::vector<std::uint8_t> content;
    for (int round = 0; round < 3; ++round) {
        for (int b = 0; b < 256; ++b) content.push_back(static_cast<std::uint8_t>(b));
    }
    for (const char* tail : {"\r\n", "\n\r", "\r\r\n", "\x1a\x1a", "\0\n"}) content.insert(content.end(), tail, tail + 2);
    content.push_back(0x1A);  // a last byte that once meant end of text
    WriteBytes(src, content);
    WriteBytes(dst, std::vector<std::uint8_t>(10'000, 'o'));  // longer than the source
    Fields(src, dst);
    OnCpy2(kDialog);
    EXPECT_EQ(backend.Texts(), std::vector<std::string>{"success"});
    ExpectPlainBoxes();
    EXPECT_EQ(ReadBytes(dst), content);

    // An empty source gives an empty destination.
    const std::string empty = dir.file("empty");
    WriteText(empty, "");
    backend.boxes.clear();
    Fields(empty, dst);
    OnCpy2(kDialog);
    EXPECT_EQ(backend.Texts(), std::vector<std::string>{"success"});
    EXPECT_TRUE(fs::exists(dst));
    EXPECT_TRUE(ReadBytes(dst).empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3)
        << "no temporary file left";
}

TEST_F(Diag, ByteCopyOpenFailures) {
    const std::string src = dir.file("src");
    WriteText(src, "source");

    Fields(dir.file("missing"), dir.file("dst"));
    OnCpy2(kDialog);
    ASSERT_EQ(backend.boxes.size(), 1u);
    ExpectDialogBox(backend.boxes[0], dir.file("missing"), "読み込み不可");
    EXPECT_FALSE(fs::exists(dir.file("dst"))) << "nothing is created";

    backend.boxes.clear();
    Fields(src, dir.file("no/dst"));
    OnCpy2(kDialog);
    ASSERT_EQ(backend.boxes.size(), 1u);
    ExpectDialogBox(backend.boxes[0], dir.file("no/dst"), "書き込み不可");

    backend.boxes.clear();
    Fields(src, dir.path().string());
    OnCpy2(kDialog);
    ASSERT_EQ(backend.boxes.size(), 1u);
    ExpectDialogBox(backend.boxes[0], dir.path().string(), "書き込み不可");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST_F(Diag, ByteCopyRefusesToCopyAFileOntoItself) {
    const std::string src = dir.file("src");
    const std::string hard = dir.file("hard");
    const std::string soft = dir.file("soft");
    WriteText(src, "precious");
    ASSERT_EQ(::link(src.c_str(), hard.c_str()), 0);
    ASSERT_EQ(::symlink("src", soft.c_str()), 0);
    for (const std::string& dst : {src, hard, soft}) {
        backend.boxes.clear();
        Fields(src, dst);
        OnCpy2(kDialog);
        ASSERT_EQ(backend.boxes.size(), 1u) << dst;
        ExpectDialogBox(backend.boxes[0], dst + "\n同じファイルにはコピーできません", "書き込み不可");
        EXPECT_EQ(ReadBytes(src), Bytes("precious"));
    }
    EXPECT_TRUE(fs::is_symlink(soft));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
}

TEST_F(Diag, ByteCopyReportsWriteFailures) {
    const std::string src = dir.file("src");
    WriteBytes(src, std::vector<std::uint8_t>(100'000, 0x5A));

    // A full device: the buffered writes fail while copying, or for a small
    // file only when the stream is closed and its buffer flushed.
    const std::string small = dir.file("small");
    WriteText(small, "ten bytes!");
    for (const std::string& source : {src, small}) {
        backend.boxes.clear();
        Fields(source, "/dev/full");
        OnCpy2(kDialog);
        ASSERT_EQ(backend.boxes.size(), 1u) << source;
        ExpectDialogBox(backend.boxes[0], "/dev/full", "書き込み不可");
    }

    // A file size limit stops the copy part-way: the existing destination keeps
    // its content and no partial file is left beside it.
    const std::string dst = dir.file("dst");
    WriteText(dst, "keep me");
    backend.boxes.clear();
    Fields(src, dst);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old;
    limit.rlim_cur = 40'000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    OnCpy2(kDialog);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_EQ(backend.boxes.size(), 1u);
    ExpectDialogBox(backend.boxes[0], dst, "書き込み不可");
    EXPECT_EQ(ReadBytes(dst), Bytes("keep me"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
}

TEST_F(Diag, ByteCopyReportsReadFailures) {
    // A directory opens as a stream on Linux, but reading it fails.
    const std::string dst = dir.file("dst");
    WriteText(dst, "keep me");
    const std::string sub = dir.file("sub");
    fs::create_directory(sub);
    Fields(sub, dst);
    OnCpy2(kDialog);
    ASSERT_EQ(backend.boxes.size(), 1u);
    ExpectDialogBox(backend.boxes[0], sub, "読み込み不可");
    EXPECT_EQ(ReadBytes(dst), Bytes("keep me"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST_F(Diag, CopySpeeds) {
    const std::string src = dir.file("src");
    constexpr int kMiB = 8;
    std::vector<std::uint8_t> content(kMiB << 20);
    std::uint32_t x = 7;
    for (auto& b : content) b = static_cast<std::uint8_t>((x = x * 1'664'525u + 1'013'904'223u) >> 24);
    WriteBytes(src, content);
    for (auto* command : {&OnCopy, &OnCpy2}) {
        const std::string dst = dir.file(command == &OnCopy ? "copy" : "cpy2");
        Fields(src, dst);
        backend.boxes.clear();
        const auto start = std::chrono::steady_clock::now();
        command(kDialog);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(backend.Texts(), std::vector<std::string>{"success"});
        EXPECT_EQ(ReadBytes(dst), content);
        RecordProperty(command == &OnCopy ? "copy_mib_per_s" : "cpy2_mib_per_s", static_cast<int>(kMiB / seconds));
        std::printf("%s: %d MiB in %.3f s\n", command == &OnCopy ? "COPY" : "CPY2", kMiB, seconds);
    }
}

// ---------------------------------------------------------------------------
// The buttons through the dialog procedure

TEST(DiagFlow, ButtonsRunTheirCommands) {
    TempDir dir;
    const std::string src = dir.file("src.bin");
    const std::string dst = dir.file("dst.bin");
    WriteBytes(src, Bytes(std::string("\r\n\x1a\0 bytes", 10)));
    // The focus starts on a button, so the source field never loses it.
    flow::Result r = flow::RunScript("focus 108\ntext 101 " + src + "\ntext 104 " + dir.file("missing") +
                                     "\nclick 108\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    const std::string fd = std::to_string(NextDescriptor());
    EXPECT_EQ(r.transcript, "box icon=none caption=\"WAVTRN\" text=\"hFile1=" + fd +
                                "\"\n"
                                "box icon=none caption=\"WAVTRN\" text=\"hFile2=-1\"\n"
                                "box icon=none caption=\"WAVTRN\" text=\"CreateFile 2: file not found\"\n"
                                "box icon=none caption=\"WAVTRN\" text=\"違う\\n\"\n"
                                "end 2\n");

    r = flow::RunScript("focus 109\ntext 101 " + src + "\ntext 104 " + dst + "\nclick 109\nclick 108\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript.rfind("box icon=none caption=\"WAVTRN\" text=\"success\"\n", 0), 0u) << r.transcript;
    EXPECT_NE(r.transcript.find("text=\"違う\\n\"\nend 2\n"), std::string::npos) << r.transcript;
    EXPECT_EQ(ReadBytes(dst), ReadBytes(src));

    fs::remove(dst);
    r = flow::RunScript("focus 110\ntext 101 " + src + "\ntext 104 " + dst + "\nclick 110\ntext 101 " +
                        dir.file("missing") + "\nclick 110\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(r.transcript, "box icon=none caption=\"WAVTRN\" text=\"success\"\n"
                            "box icon=none caption=\"読み込み不可\" text=\"" + dir.file("missing") + "\"\n"
                            "end 2\n");
    EXPECT_EQ(ReadBytes(dst), ReadBytes(src));
}

}  // namespace
