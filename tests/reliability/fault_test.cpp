// File-system faults during a conversion and during the byte copy (CPY2): a
// disk that fills, a destination folder that cannot be written, a source that
// vanishes, shrinks or cannot be read. After each, an existing destination is
// byte for byte what it was and no temporary file is left beside it.
//
// The full and read-only file systems are small tmpfs mounts of the test's
// own, which need root; without it those tests are skipped with a message.
#include "reliability.h"
#include "support/faults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <fstream>
#include <optional>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace reliability;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
namespace fs = std::filesystem;

const char* const kSrcCheck = "hSrcWaveFile";
const char* const kDstCheck = "hDstWaveFile";
const char* const kReadError = "入力ファイルを読み込めないため、変換を中止しました。";

// A tmpfs of its own at dir/mnt, unmounted at the end.
class SmallFileSystem {
public:
    SmallFileSystem(const TempDir& dir, const char* options) : path_(dir.file("mnt")) {
        fs::create_directory(path_);
        if (::geteuid() != 0) {
            why_ = "not root: cannot mount a tmpfs of its own";
        } else if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, options) != 0) {
            why_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
        } else {
            mounted_ = true;
        }
    }
    ~SmallFileSystem() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }
    bool MakeReadOnly() {
        return ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    // Writes a filler file until the file system refuses another byte.
    void Fill() {
        const int fd = ::open(file("filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const std::vector<char> block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (::write(fd, block.data(), 1) > 0) {
        }
        ::close(fd);
    }

private:
    std::string path_;
    std::string why_;
    bool mounted_ = false;
};

// A PCM source of 8,000 Hz 16-bit mono, the destination format, so that the
// converted file is as long as the source's data.
std::string WritePcmSource(const std::string& path, std::uint32_t frames) {
    const Source s = PcmSource(frames);
    WriteBytes(path, testsupport::MakeWave(s.fmt, s.data));
    return path;
}

const Bytes kPrecious(7777, 0xA5);

std::string ByteCopyRefusal(const std::string& dst) {
    return "box icon=none caption=\"書き込み不可\" text=\"" + dst + "\"\n";
}

// ---------------------------------------------------------------------------
// A disk that fills

struct FullDiskCase {
    const char* name;
    bool existing;     // a destination is there before the command
    bool fullAtStart;  // the file system is full before the first byte is written
};

void PrintTo(const FullDiskCase& c, std::ostream* out) { *out << c.name; }

class FullDisk : public testing::TestWithParam<FullDiskCase> {};

TEST_P(FullDisk, ConversionStopsWithDiskFullAndKeepsTheDestination) {
    const FullDiskCase& c = GetParam();
    TempDir dir;
    SmallFileSystem small(dir, "size=256k");
    if (!small.mounted()) GTEST_SKIP() << small.why();
    const std::string src = WritePcmSource(dir.file("in.wav"), 300000);  // 600 kB of data
    const std::string dst = small.file("out.wav");
    if (c.existing) WriteBytes(dst, kPrecious);
    if (c.fullAtStart) small.Fill();
    const std::string before = Listing(small.path());

    const flow::Result r = flow::RunScript(Execute(src, dst));
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(BoxesOf(r.transcript), PlainBox("disk full") + "end 2\n");
    if (c.existing) {
        EXPECT_EQ(ReadBytes(dst), kPrecious);
    }
    EXPECT_EQ(Listing(small.path()), before) << "a temporary file was left";
}

TEST_P(FullDisk, ByteCopyRefusesAndKeepsTheDestination) {
    const FullDiskCase& c = GetParam();
    TempDir dir;
    SmallFileSystem small(dir, "size=256k");
    if (!small.mounted()) GTEST_SKIP() << small.why();
    const std::string src = WritePcmSource(dir.file("in.wav"), 300000);
    const std::string dst = small.file("out.wav");
    if (c.existing) WriteBytes(dst, kPrecious);
    if (c.fullAtStart) small.Fill();
    const std::string before = Listing(small.path());

    const flow::Result r = flow::RunScript("text 101 " + src + "\ntext 104 " + dst + "\nclick 110\n");
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    EXPECT_EQ(BoxesOf(r.transcript), ByteCopyRefusal(dst) + "end 2\n");
    if (c.existing) {
        EXPECT_EQ(ReadBytes(dst), kPrecious);
    }
    EXPECT_EQ(Listing(small.path()), before) << "a temporary file was left";
}

const FullDiskCase kFullDiskCases[] = {
    {"FillsMidwayNoDestination", false, false},
    {"FillsMidwayOverADestination", true, false},
    {"FullFromTheStartOverADestination", true, true},
};

std::string FullDiskName(const testing::TestParamInfo<FullDiskCase>& param) { return param.param.name; }
INSTANTIATE_TEST_SUITE_P(Tmpfs, FullDisk, testing::ValuesIn(kFullDiskCases), FullDiskName);

// ---------------------------------------------------------------------------
// A destination folder that cannot be written: a read-only mount when root
// (root ignores permission bits), a folder without write permission otherwise.

TEST(UnwritableFolder, EveryCommandRefusesAndChangesNothing) {
    TempDir dir;
    const std::string src = WritePcmSource(dir.file("in.wav"), 8000);
    std::string folder;
    std::unique_ptr<SmallFileSystem> small;
    bool readOnlyMount = false;
    if (::geteuid() == 0) {
        small = std::make_unique<SmallFileSystem>(dir, "size=256k");
        if (!small->mounted()) GTEST_SKIP() << small->why();
        folder = small->path();
        WriteBytes(folder + "/out.wav", kPrecious);
        ASSERT_TRUE(small->MakeReadOnly()) << std::strerror(errno);
        readOnlyMount = true;
    } else {
        folder = dir.file("locked");
        fs::create_directory(folder);
        WriteBytes(folder + "/out.wav", kPrecious);
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    }
    struct Unlock {
        std::string folder;
        ~Unlock() { ::chmod(folder.c_str(), 0755); }
    } unlock{folder};

    const std::string existing = folder + "/out.wav";
    const std::string fresh = folder + "/new.wav";
    // An existing file on a read-only mount cannot be written either (19, write
    // protected); in a locked folder it could be, so only a new name is refused.
    const std::string copyRefusal = readOnlyMount ? "copyfile: error=19" : "copyfile: error=5";
    for (const std::string& dst : readOnlyMount ? std::vector<std::string>{existing, fresh}
                                                : std::vector<std::string>{fresh}) {
        SCOPED_TRACE(dst);
        flow::Result r = flow::RunScript(Execute(src, dst));
        EXPECT_TRUE(HasFailedCheck(r.transcript, kDstCheck)) << r.transcript;
        EXPECT_EQ(r.transcript.find("success"), std::string::npos) << r.transcript;

        r = flow::RunScript("text 101 " + src + "\ntext 104 " + dst + "\nclick 110\n");
        EXPECT_EQ(BoxesOf(r.transcript), ByteCopyRefusal(dst) + "end 2\n");

        r = flow::RunScript("text 101 " + src + "\ntext 104 " + dst + "\nclick 109\n");
        EXPECT_EQ(BoxesOf(r.transcript), PlainBox(copyRefusal) + "end 2\n");

        EXPECT_EQ(ReadBytes(existing), kPrecious);
        EXPECT_EQ(Listing(folder), "out.wav\n");
    }
}

// ---------------------------------------------------------------------------
// The source changes between inspection and conversion: the conversion reads
// the file afresh and answers what it finds then.

struct ChangedSource {
    const char* name;
    std::function<void(const std::string& path)> change;
    std::string check;   // the failed check, or empty for a conversion
    long long frames;    // for a conversion: the frames it holds
};

void PrintTo(const ChangedSource& c, std::ostream* out) { *out << c.name; }

class SourceChanged : public testing::TestWithParam<ChangedSource> {};

TEST_P(SourceChanged, AfterInspection) {
    const ChangedSource& c = GetParam();
    TempDir dir;
    const std::string src = WritePcmSource(dir.file("in.wav"), 8000);
    const std::string dst = dir.file("out.wav");
    WriteBytes(dst, kPrecious);

    flow::Result r = flow::RunScript(Describe(src));
    EXPECT_EQ(r.transcript, std::string(kPcm8kLabel) + "end 2\n");
    c.change(src);
    const std::string before = Listing(dir.path());
    r = flow::RunScript(Execute(src, dst));
    EXPECT_EQ(r.exitStatus, 0) << r.errors;
    if (!c.check.empty()) {
        EXPECT_TRUE(HasFailedCheck(r.transcript, c.check)) << r.transcript;
        EXPECT_EQ(ReadBytes(dst), kPrecious);
    } else {
        EXPECT_NE(r.transcript.find(PlainBox("success")), std::string::npos) << r.transcript;
        EXPECT_EQ(ReadBytes(dst).size(), 46u + 2 * c.frames);
    }
    EXPECT_EQ(Listing(dir.path()), before);
}

const ChangedSource kChangedSources[] = {
    {"Vanished", [](const std::string& p) { fs::remove(p); }, kSrcCheck, 0},
    {"ReplacedByAFolder",
     [](const std::string& p) {
         fs::remove(p);
         fs::create_directory(p);
     },
     kSrcCheck, 0},
    {"ReplacedByAPipe",
     [](const std::string& p) {
         fs::remove(p);
         ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0);
     },
     kSrcCheck, 0},
    {"ShrunkIntoItsHead", [](const std::string& p) { fs::resize_file(p, 30); },
     "SrcWaveData.ckid==mmioStringToFOURCC(\"data\",0)", 0},
    {"ShrunkIntoItsData", [](const std::string& p) { fs::resize_file(p, 46 + 2 * 1000 + 1); }, "", 1000},
};

std::string ChangedName(const testing::TestParamInfo<ChangedSource>& param) { return param.param.name; }
INSTANTIATE_TEST_SUITE_P(Source, SourceChanged, testing::ValuesIn(kChangedSources), ChangedName);

// Another thread cuts the source short while the conversion reads it: the
// conversion ends at the new end of the file with what it read, all of it.
TEST(SourceShrinks, DuringTheConversion) {
    TempDir dir;
    constexpr std::uint32_t kFrames = 16'000'000;  // 32 MB of data
    const Source s = PcmSource(8000);
    Bytes data;
    data.reserve(2ull * kFrames);
    while (data.size() < 2ull * kFrames) data.insert(data.end(), s.data.begin(), s.data.end());
    const std::string src = dir.file("in.wav");
    WriteBytes(src, testsupport::MakeWave(s.fmt, data));
    const std::string dst = dir.file("out.wav");
    constexpr std::uintmax_t kCutAt = 4u << 20;

    // Cuts the source once the unfinished destination beside it holds 1 MiB.
    std::atomic<bool> cut{false};
    std::atomic<bool> stop{false};
    std::thread cutter([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!stop && std::chrono::steady_clock::now() < deadline) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(dir.path(), ec)) {
                const std::string name = entry.path().filename().string();
                if (name.rfind(".out.wav", 0) == 0 && entry.file_size(ec) > (1u << 20)) {
                    ::truncate(src.c_str(), static_cast<off_t>(kCutAt));
                    cut = true;
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    const flow::Result r = flow::RunScript(Execute(src, dst));
    stop = true;
    cutter.join();
    ASSERT_TRUE(cut) << "the conversion ended before the source could be cut";

    EXPECT_EQ(BoxesOf(r.transcript), PlainBox("success") + "end 2\n");
    const Bytes out = ReadBytes(dst);
    ASSERT_GE(out.size(), 46u + (1u << 20));
    const std::size_t written = out.size() - 46;
    // Whatever was read before the cut, and never more than the file held.
    EXPECT_LT(written, data.size());
    EXPECT_TRUE(std::equal(out.begin() + 46, out.end(), data.begin()));
    EXPECT_EQ(testsupport::Probe(dst).ok, true);
    EXPECT_EQ(FilesIn(dir.path()), 2u) << Listing(dir.path());
}

// ---------------------------------------------------------------------------
// The source cannot be read part-way through the conversion.

TEST(ReadError, InsideTheLoopAbandonsTheConversion) {
    TempDir dir;
    // 80,000 frames: the 8,000 Hz 16-bit mono destination buffer takes 8 kB, so
    // the loop makes about twenty passes.
    const std::string src = WritePcmSource(dir.file("in.wav"), 80000);
    const std::string dst = dir.file("out.wav");
    WriteBytes(dst, kPrecious);
    // The first read(2) is the format block's, 2 the metadata reader's first; 3
    // is the loop's first pass, 7 its fifth.
    for (int nth : {2, 3, 7}) {
        SCOPED_TRACE("read " + std::to_string(nth) + " fails");
        faults::FailRead(nth, EIO);
        const flow::Result r = flow::RunScript(Execute(src, dst));
        faults::FailRead(0, 0);
        EXPECT_EQ(r.exitStatus, 0) << r.errors;
        EXPECT_EQ(BoxesOf(r.transcript), PlainBox(kReadError) + "end 2\n");
        EXPECT_EQ(ReadBytes(dst), kPrecious);
        EXPECT_EQ(FilesIn(dir.path()), 2u) << Listing(dir.path());
    }
}

// ---------------------------------------------------------------------------
// Edges of the write path. Each row's source and destination are made afresh
// for execute, COPY and CPY2 in turn; each command gives the row's outcome
// ("check EXPRESSION", a caption of the byte copy's refusals, or a plain box),
// leaves no temporary file and passes the row's check. A file replaced with
// success was flushed before the rename and its folder after it; nothing else
// (a device, a refusal) is flushed.

enum Command { kExecute, kCopy, kCpy2 };
using Paths = std::pair<std::string, std::string>;

struct WriteEdge {
    const char* name;
    bool needsRoot;
    std::function<Paths(const TempDir&)> make;
    std::array<std::string, 3> outcomes;
    std::function<void(const Paths&, Command)> check;
    const char* sysctl = nullptr;  // a setting under /proc/sys the row needs at 1, or null
};

void PrintTo(const WriteEdge& e, std::ostream* out) { *out << e.name; }

// A kernel setting at 1 for a row's life, its old value given back after.
class SysctlAtOne {
public:
    explicit SysctlAtOne(const char* name) : path_(std::string("/proc/sys/") + name) {
        std::ifstream in(path_);
        std::getline(in, old_);
        std::ofstream out(path_);
        set_ = !old_.empty() && (out << "1" << std::flush);
    }
    ~SysctlAtOne() {
        if (set_) std::ofstream(path_) << old_;
    }
    SysctlAtOne(const SysctlAtOne&) = delete;
    SysctlAtOne& operator=(const SysctlAtOne&) = delete;
    bool set() const { return set_; }

private:
    std::string path_;
    std::string old_;
    bool set_ = false;
};

class WriteEdges : public testing::TestWithParam<WriteEdge> {};

TEST_P(WriteEdges, EveryCommandGivesItsOutcome) {
    const WriteEdge& e = GetParam();
    if (e.needsRoot && ::geteuid() != 0) GTEST_SKIP() << "needs root";
    std::optional<SysctlAtOne> setting;
    if (e.sysctl != nullptr && !setting.emplace(e.sysctl).set()) GTEST_SKIP() << "cannot set " << e.sysctl;
    for (const Command c : {kExecute, kCopy, kCpy2}) {
        SCOPED_TRACE(c);
        TempDir dir;
        const Paths paths = e.make(dir);
        const auto& [src, dst] = paths;
        // The focus starts on the button, so the source is not described first.
        const std::string button = c == kCopy ? "109\n" : "110\n";
        std::vector<std::string> log;
        faults::RecordSyncs(&log);
        const flow::Result r = flow::RunScript(c == kExecute ? Execute(src, dst)
                                                             : "focus " + button + "text 101 " + src + "\ntext 104 " + dst +
                                                                   "\nclick " + button);
        faults::RecordSyncs(nullptr);
        const std::string& want = e.outcomes[c];
        if (want == "success" && fs::is_regular_file(dst)) {
            ASSERT_EQ(log.size(), 3u);
            EXPECT_EQ(log[1], "rename " + log[0].substr(std::strlen("fdatasync ")) + " " + dst);
            EXPECT_EQ(log[2], "fsync " + fs::path(dst).parent_path().string());
        } else {
            EXPECT_TRUE(log.empty()) << log.front();
        }
        if (want.rfind("check ", 0) == 0) {
            EXPECT_TRUE(HasFailedCheck(r.transcript, want.substr(6))) << r.transcript;
        } else if (want == "読み込み不可" || want == "書き込み不可") {
            const std::string& text = want == "読み込み不可" ? src : dst;
            EXPECT_EQ(BoxesOf(r.transcript), "box icon=none caption=\"" + want + "\" text=\"" + text + "\"\nend 2\n");
        } else {
            EXPECT_EQ(BoxesOf(r.transcript), PlainBox(want) + "end 2\n");
        }
        const std::string temporary = ".wavtrn-" + std::to_string(::getpid()) + ".";
        EXPECT_EQ(Listing(fs::path(dst).parent_path()).find(temporary), std::string::npos);
        if (e.check) e.check(paths, c);
    }
}

Paths PcmOnto(const std::string& src, const std::string& dst) { return {WritePcmSource(src, 800), dst}; }
void SameAsSource(const Paths& p, Command) { EXPECT_EQ(ReadBytes(p.second), ReadBytes(p.first)); }
void Untouched(const Paths& p, Command) { EXPECT_EQ(ReadBytes(p.second), kPrecious); }
const char* const kRiffCheck = "check SrcWaveFile.ckid==mmioStringToFOURCC(\"RIFF\",MMIO_TOUPPER)";

// A process id that no process has: a child's, once it has been reaped.
pid_t DeadProcess() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// A file last changed eleven minutes ago.
void MakeOld(const std::string& path) {
    const timespec old = {std::time(nullptr) - 11 * 60, 0};
    const timespec times[2] = {old, old};
    EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// A lock the test holds on a temporary file, as its writer would, until the row's check.
int gHeldLock = -1;

std::string ShellOutput(const std::string& command) {
    std::string out;
    EXPECT_EQ(testsupport::RunCommand(command, &out), 0) << command;
    return out;
}

const WriteEdge kWriteEdges[] = {
    {"NameOf255Bytes", false, [](const TempDir& d) { return PcmOnto(d.file("in.wav"), d.file(std::string(251, 'n') + ".wav")); },
     {"success", "success", "success"}, SameAsSource},
    {"PathOf4095Bytes", false,
     [](const TempDir& d) {
         std::string folder = d.path().string();
         while (folder.size() < 4095 - 250) fs::create_directory(folder += "/" + std::string(200, 'd'));
         return PcmOnto(d.file("in.wav"), folder + "/" + std::string(4095 - folder.size() - 5, 'n') + ".wav");
     },
     {"success", "success", "success"}, SameAsSource},
    {"AnotherUsersFileKeepsItsOwner", true,
     [](const TempDir& d) {
         const Paths p = PcmOnto(d.file("in.wav"), d.file("out.wav"));
         WriteBytes(p.second, kPrecious);
         EXPECT_EQ(::chown(p.second.c_str(), 65534, 65534) | ::chmod(p.second.c_str(), 0600) | ::chmod(p.first.c_str(), 0600), 0);
         return p;
     },
     {"success", "success", "success"},
     [](const Paths& p, Command c) {
         SameAsSource(p, c);
         struct stat st {};
         EXPECT_EQ(::stat(p.second.c_str(), &st), 0);
         EXPECT_EQ((std::array<unsigned, 3>{st.st_uid, st.st_gid, st.st_mode & 07777}), (std::array<unsigned, 3>{65534, 65534, 0600}));
     }},
    {"PipeSource", false,
     [](const TempDir& d) {
         EXPECT_EQ(::mkfifo(d.file("in.wav").c_str(), 0644), 0);
         WriteBytes(d.file("out.wav"), kPrecious);
         return Paths{d.file("in.wav"), d.file("out.wav")};
     },
     {std::string("check ") + kSrcCheck, "copyfile: error=5", "読み込み不可"}, Untouched},
    {"PipeDestinationWithoutReader", false,
     [](const TempDir& d) {
         EXPECT_EQ(::mkfifo(d.file("out.wav").c_str(), 0644), 0);
         return PcmOnto(d.file("in.wav"), d.file("out.wav"));
     },
     {std::string("check ") + kDstCheck, "copyfile: error=5", "書き込み不可"},
     [](const Paths& p, Command) { EXPECT_TRUE(fs::is_fifo(p.second)); }},
    {"DeviceDestination", false, [](const TempDir& d) { return PcmOnto(d.file("in.wav"), "/dev/null"); },
     {"success", "success", "success"}, nullptr},
    {"DeviceSourceGivesANewFilesMode", false, [](const TempDir& d) { return Paths{"/dev/null", d.file("out.wav")}; },
     {kRiffCheck, "success", "success"},
     [](const Paths& p, Command c) {
         const mode_t mask = ::umask(022);
         ::umask(mask);
         if (c != kExecute) {
             EXPECT_EQ(fs::status(p.second).permissions(), fs::perms(0666 & ~mask));
         }
     }},
    // The source's first bytes cannot be read: the system's words, not "not a WAVE file".
    {"SourceReadFault", false,
     [](const TempDir& d) {
         WriteBytes(d.file("out.wav"), kPrecious);
         return Paths{"/proc/self/mem", d.file("out.wav")};
     },
     {"入力ファイルの読み込み: error=29", "copyfile: error=30", "読み込み不可"}, Untouched},
    // Stale: old and unlocked, of this user. Kept: a locked one (a writer in
    // another PID namespace or on another machine), a young one, another
    // user's, a link and names of another pattern.
    {"StaleTemporaryFilesAreJudgedByLockAndAge", false,
     [](const TempDir& d) {
         const std::string dead = std::to_string(DeadProcess());
         for (const std::string& name : {".out.wav.wavtrn-" + dead + ".0a1b", ".wavtrn-" + dead + ".ffff", std::string("keep"),
                                        ".out.wav.wavtrn-" + dead + ".0a1b~", ".out.wav.wavtrn-" + dead + ".1111",
                                        ".out.wav.wavtrn-" + dead + ".3333"}) {
             WriteBytes(d.file(name), kPrecious);
             MakeOld(d.file(name));
         }
         WriteBytes(d.file(".out.wav.wavtrn-" + dead + ".2222"), kPrecious);
         gHeldLock = ::open(d.file(".out.wav.wavtrn-" + dead + ".1111").c_str(), O_RDONLY | O_CLOEXEC);
         EXPECT_EQ(::flock(gHeldLock, LOCK_EX), 0);
         if (::geteuid() == 0) {
             EXPECT_EQ(::chown(d.file(".out.wav.wavtrn-" + dead + ".3333").c_str(), 65534, 65534), 0);
         }
         EXPECT_EQ(::symlink("keep", d.file(".k.wavtrn-" + dead + ".1234").c_str()), 0);
         return PcmOnto(d.file("in.wav"), d.file("out.wav"));
     },
     {"success", "success", "success"},
     [](const Paths& p, Command) {
         ::close(gHeldLock);
         const std::string left = Listing(fs::path(p.first).parent_path());
         EXPECT_EQ(left.find(".0a1b\n"), std::string::npos) << left;
         EXPECT_EQ(left.find(".ffff\n"), std::string::npos) << left;
         for (const char* kept : {".1111\n", ".2222\n", ".0a1b~\n", ".1234\n", "keep\n"})
             EXPECT_NE(left.find(kept), std::string::npos) << kept << " was removed";
         EXPECT_EQ(left.find(".3333\n") != std::string::npos, ::geteuid() == 0) << left;
     }},
    // A link another user planted in a sticky folder (as in /tmp) is not
    // followed: the file it points to stays as it was, as cp leaves it.
    {"PlantedLinkInAStickyFolderIsRefused", true,
     [](const TempDir& d) {
         const std::string sticky = d.file("sticky"), victim = d.file("victim");
         fs::create_directory(sticky);
         EXPECT_EQ(::chmod(sticky.c_str(), 01777), 0);
         WriteBytes(victim, kPrecious);
         EXPECT_EQ(::symlink(victim.c_str(), (sticky + "/out.wav").c_str()), 0);
         EXPECT_EQ(::lchown((sticky + "/out.wav").c_str(), 65534, 65534), 0);
         return PcmOnto(d.file("in.wav"), sticky + "/out.wav");
     },
     {std::string("check ") + kDstCheck, "copyfile: error=5", "書き込み不可"},
     [](const Paths& p, Command) {
         EXPECT_EQ(ReadBytes((fs::path(p.first).parent_path() / "victim").string()), kPrecious);
         EXPECT_TRUE(fs::is_symlink(p.second));
     },
     "fs/protected_symlinks"},
    // The replaced file keeps its ACL, so the owning group does not get the
    // mask's write permission, and its extended attributes.
    {"AclAndExtendedAttributesAreKept", false,
     [](const TempDir& d) {
         const Paths p = PcmOnto(d.file("in.wav"), d.file("out.wav"));
         WriteBytes(p.second, kPrecious);
         EXPECT_EQ(::chmod(p.second.c_str(), 0644) | ::chmod(p.first.c_str(), 0644), 0);
         const std::string dst = testsupport::ShellQuote(p.second);
         ShellOutput("setfacl -m u:nobody:rw,g::r " + dst + " && setfattr -n user.origin -v studio " + dst);
         return p;
     },
     {"success", "success", "success"},
     [](const Paths& p, Command c) {
         SameAsSource(p, c);
         const std::string dst = testsupport::ShellQuote(p.second);
         const std::string acl = ShellOutput("getfacl --omit-header " + dst);
         EXPECT_NE(acl.find("user:nobody:rw-"), std::string::npos) << acl;
         EXPECT_NE(acl.find("group::r--"), std::string::npos) << acl;
         // COPY gives the file the source's mode, whose group bits are the mask.
         EXPECT_NE(acl.find(c == kCopy ? "mask::r--" : "mask::rw-"), std::string::npos) << acl;
         EXPECT_EQ(ShellOutput("getfattr --only-values -n user.origin " + dst), "studio");
     }},
};

std::string EdgeName(const testing::TestParamInfo<WriteEdge>& param) { return param.param.name; }
INSTANTIATE_TEST_SUITE_P(Fault, WriteEdges, testing::ValuesIn(kWriteEdges), EdgeName);

}  // namespace
