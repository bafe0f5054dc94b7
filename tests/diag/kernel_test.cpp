// Kernel file services: opening for attribute queries, identity records,
// time-stamp conversion and the whole-file copy, checked against the C library
// and coreutils as independent readers.
#include "platform/kernel/kernel.h"
#include "support/faults.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;
using testsupport::WriteText;

constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;

FILETIME Stamp(std::uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::uint64_t Ticks(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The stamp of a UTC calendar time, computed with the C library.
std::uint64_t TicksOf(int year, int month, int day, int hour, int minute, int second, int millisecond) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    const std::int64_t seconds = static_cast<std::int64_t>(::timegm(&tm)) + kSecondsFrom1601To1970;
    return static_cast<std::uint64_t>(seconds) * 10'000'000u + static_cast<std::uint64_t>(millisecond) * 10'000u;
}

std::string Fields(const SYSTEMTIME& st) {
    char text[80];
    std::snprintf(text, sizeof text, "%hu %hu %hu %hu %hu %hu %hu %hu", st.wYear, st.wMonth, st.wDayOfWeek, st.wDay,
                  st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return text;
}

std::string Convert(std::uint64_t ticks) {
    const FILETIME ft = Stamp(ticks);
    SYSTEMTIME st{};
    EXPECT_TRUE(FileTimeToSystemTime(&ft, &st)) << ticks;
    return Fields(st);
}

HANDLE OpenForAttributes(const std::string& path) {
    return CreateFileA(path.c_str(), 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

BY_HANDLE_FILE_INFORMATION InfoOf(const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info{};
    HANDLE h = OpenForAttributes(path);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
    if (h == INVALID_HANDLE_VALUE) return info;
    EXPECT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_TRUE(CloseHandle(h));
    return info;
}

DWORD OpenError(const std::string& path) {
    SetLastError(0);
    HANDLE h = OpenForAttributes(path);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE) << path;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return GetLastError();
}

std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned start) {
    std::mt19937 rng(start);
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    return bytes;
}

std::size_t CountEntries(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// ---------------------------------------------------------------------------
// FileTimeToSystemTime

TEST(FileTimeToSystemTime, KnownStamps) {
    EXPECT_EQ(Convert(TicksOf(2002, 3, 5, 10, 20, 30, 456)), "2002 3 2 5 10 20 30 456");
    EXPECT_EQ(Convert(0), "1601 1 1 1 0 0 0 0");  // a Monday
    EXPECT_EQ(Convert(9'999), "1601 1 1 1 0 0 0 0");
    EXPECT_EQ(Convert(10'000), "1601 1 1 1 0 0 0 1");
    EXPECT_EQ(Convert(static_cast<std::uint64_t>(kSecondsFrom1601To1970) * 10'000'000u), "1970 1 4 1 0 0 0 0");
    // The largest stamp the conversion takes.
    EXPECT_EQ(Convert(0x7FFF'FFFF'FFFF'FFFFull), "30828 9 4 14 2 48 5 477");
}

TEST(FileTimeToSystemTime, LeapYearsAndCenturies) {
    const std::uint64_t day = 86'400ull * 10'000'000u;
    EXPECT_EQ(Convert(TicksOf(2000, 2, 28, 0, 0, 0, 0) + day), "2000 2 2 29 0 0 0 0");
    EXPECT_EQ(Convert(TicksOf(1900, 2, 28, 0, 0, 0, 0) + day), "1900 3 4 1 0 0 0 0");
    EXPECT_EQ(Convert(TicksOf(2100, 2, 28, 0, 0, 0, 0) + day), "2100 3 1 1 0 0 0 0");
    EXPECT_EQ(Convert(TicksOf(1604, 2, 28, 0, 0, 0, 0) + day), "1604 2 0 29 0 0 0 0");
}

// Every field agrees with the C library's gmtime over stamps from 1601 to 9999.
TEST(FileTimeToSystemTime, AgreesWithGmtime) {
    std::mt19937_64 rng(42);
    const std::uint64_t last = TicksOf(9999, 12, 31, 23, 59, 59, 999);
    for (int i = 0; i < 200'000; ++i) {
        const std::uint64_t ticks = rng() % last;
        const std::time_t seconds = static_cast<std::time_t>(ticks / 10'000'000u) - kSecondsFrom1601To1970;
        std::tm tm{};
        ASSERT_NE(::gmtime_r(&seconds, &tm), nullptr);
        char expected[80];
        std::snprintf(expected, sizeof expected, "%d %d %d %d %d %d %d %d", tm.tm_year + 1900, tm.tm_mon + 1,
                      tm.tm_wday, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                      static_cast<int>(ticks / 10'000u % 1000u));
        ASSERT_EQ(Convert(ticks), expected) << ticks;
    }
}

TEST(FileTimeToSystemTime, RefusesStampsFromTheTopBitOn) {
    for (const std::uint64_t ticks : {0x8000'0000'0000'0000ull, 0xFFFF'FFFF'FFFF'FFFFull, 0x8000'0000'0000'0001ull}) {
        const FILETIME ft = Stamp(ticks);
        SYSTEMTIME st{};
        SetLastError(0);
        EXPECT_FALSE(FileTimeToSystemTime(&ft, &st)) << ticks;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(Fields(st), "0 0 0 0 0 0 0 0") << "the record is left as it was";
    }
}

// ---------------------------------------------------------------------------
// CreateFileA for attribute queries and GetFileInformationByHandle

TEST(IdentityRecord, PlainFileMatchesStat) {
    TempDir dir;
    const std::string path = dir.file("a.bin");
    WriteBytes(path, RandomBytes(12'345, 1));
    HANDLE h = OpenForAttributes(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const auto fd = reinterpret_cast<std::intptr_t>(h);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::fcntl(static_cast<int>(fd), F_GETFD), FD_CLOEXEC) << "the handle is an open descriptor";
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(::fcntl(static_cast<int>(fd), F_GETFD), -1) << "closed";

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(info.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(info.nFileSizeHigh, 0u);
    EXPECT_EQ(info.nFileSizeLow, 12'345u);
    EXPECT_EQ(info.nNumberOfLinks, 1u);
    EXPECT_EQ((std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, st.st_ino);
    const std::uint64_t dev = st.st_dev;
    EXPECT_EQ(info.dwVolumeSerialNumber, static_cast<DWORD>(dev ^ (dev >> 32)));
    const auto stamp = [](const timespec& ts) {
        return static_cast<std::uint64_t>(ts.tv_sec + kSecondsFrom1601To1970) * 10'000'000u +
               static_cast<std::uint64_t>(ts.tv_nsec) / 100u;
    };
    EXPECT_EQ(Ticks(info.ftLastWriteTime), stamp(st.st_mtim));
    EXPECT_EQ(Ticks(info.ftLastAccessTime), stamp(st.st_atim));

    // Creation time: the birth time as coreutils reports it, where there is one.
    std::string birth;
    ASSERT_EQ(testsupport::RunCommand("stat --format=%W " + testsupport::ShellQuote(path), &birth), 0);
    const long long birthSeconds = std::stoll(birth);
    if (birthSeconds > 0) {
        EXPECT_EQ(Ticks(info.ftCreationTime) / 10'000'000u,
                  static_cast<std::uint64_t>(birthSeconds + kSecondsFrom1601To1970));
    } else {
        EXPECT_EQ(Ticks(info.ftCreationTime), stamp(st.st_ctim));
    }
}

TEST(IdentityRecord, AttributesComeFromModeAndTypeNotName) {
    TempDir dir;
    const std::string plain = dir.file(".hidden-looking");
    WriteText(plain, "x");
    EXPECT_EQ(InfoOf(plain).dwFileAttributes, FILE_ATTRIBUTE_NORMAL);

    const std::string readOnly = dir.file("ro.txt");
    WriteText(readOnly, "x");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    EXPECT_EQ(InfoOf(readOnly).dwFileAttributes, FILE_ATTRIBUTE_READONLY);

    // No permission at all: the open reads no content, so it still succeeds.
    const std::string locked = dir.file("locked.txt");
    WriteText(locked, "x");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    EXPECT_EQ(InfoOf(locked).dwFileAttributes, FILE_ATTRIBUTE_READONLY);

    // Owner-writable only is still writable.
    ASSERT_EQ(::chmod(locked.c_str(), 0200), 0);
    EXPECT_EQ(InfoOf(locked).dwFileAttributes, FILE_ATTRIBUTE_NORMAL);

    EXPECT_EQ(InfoOf("/dev/null").dwFileAttributes, FILE_ATTRIBUTE_DEVICE);
}

TEST(IdentityRecord, HardLinksAgreeAndCountEachOther) {
    TempDir dir;
    const std::string a = dir.file("a");
    const std::string b = dir.file("b");
    WriteText(a, "same file");
    ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
    const BY_HANDLE_FILE_INFORMATION ia = InfoOf(a);
    const BY_HANDLE_FILE_INFORMATION ib = InfoOf(b);
    EXPECT_EQ(ia.nNumberOfLinks, 2u);
    EXPECT_EQ(ia.dwFileAttributes, ib.dwFileAttributes);
    EXPECT_EQ(ia.dwVolumeSerialNumber, ib.dwVolumeSerialNumber);
    EXPECT_EQ(ia.nFileIndexHigh, ib.nFileIndexHigh);
    EXPECT_EQ(ia.nFileIndexLow, ib.nFileIndexLow);
    EXPECT_EQ(Ticks(ia.ftCreationTime), Ticks(ib.ftCreationTime));
    EXPECT_EQ(Ticks(ia.ftLastWriteTime), Ticks(ib.ftLastWriteTime));

    const std::string c = dir.file("c");
    WriteText(c, "same file");
    const BY_HANDLE_FILE_INFORMATION ic = InfoOf(c);
    EXPECT_FALSE(ia.nFileIndexLow == ic.nFileIndexLow && ia.nFileIndexHigh == ic.nFileIndexHigh);
}

TEST(IdentityRecord, SizeAbove4GiBIsSplitInTwoHalves) {
    TempDir dir;
    const std::string path = dir.file("sparse");
    const std::uint64_t size = (std::uint64_t{5} << 30) + 123;  // sparse: no blocks written
    WriteText(path, "");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
    const BY_HANDLE_FILE_INFORMATION info = InfoOf(path);
    EXPECT_EQ(info.nFileSizeHigh, 1u);
    EXPECT_EQ(info.nFileSizeLow, static_cast<DWORD>(size));
    EXPECT_EQ(info.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
}

TEST(IdentityRecord, OpenFailuresAndTheirCodes) {
    TempDir dir;
    EXPECT_EQ(OpenError(dir.file("missing")), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(OpenError(dir.file("no-dir/missing")), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(OpenError(dir.path().string()), ERROR_ACCESS_DENIED) << "no flag admits a directory";
    EXPECT_EQ(OpenError(dir.path().string() + "/"), ERROR_ACCESS_DENIED);
    const std::string file = dir.file("f");
    WriteText(file, "x");
    EXPECT_EQ(OpenError(file + "/below"), ERROR_PATH_NOT_FOUND);
    EXPECT_NE(OpenError(""), ERROR_SUCCESS);

    // Content access or another disposition is refused rather than guessed at.
    for (const auto& [access, disposition] : {std::pair<DWORD, DWORD>{0, 2}, {0x80000000u, OPEN_EXISTING}}) {
        SetLastError(0);
        EXPECT_EQ(CreateFileA(file.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }

    BY_HANDLE_FILE_INFORMATION info{};
    EXPECT_FALSE(GetFileInformationByHandle(INVALID_HANDLE_VALUE, &info));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(IdentityRecord, InjectedFailureLeavesTheRecordUntouched) {
    TempDir dir;
    const std::string path = dir.file("f");
    WriteText(path, "x");
    HANDLE h = OpenForAttributes(path);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    faults::FailStatx(2, EACCES);
    BY_HANDLE_FILE_INFORMATION info;
    std::memset(&info, 0xAB, sizeof info);
    EXPECT_TRUE(GetFileInformationByHandle(h, &info)) << "the first call still succeeds";
    std::memset(&info, 0xAB, sizeof info);
    EXPECT_FALSE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&info);
    for (std::size_t i = 0; i < sizeof info; ++i) ASSERT_EQ(bytes[i], 0xAB) << i;
    EXPECT_TRUE(GetFileInformationByHandle(h, &info)) << "the failure happens once";
    CloseHandle(h);
}

// ---------------------------------------------------------------------------
// CopyFileA

TEST(CopyFile, CopiesContentModeAndLastWriteTime) {
    TempDir dir;
    const std::string src = dir.file("src");
    const std::string dst = dir.file("dst");
    const auto content = RandomBytes(3 * 1024 * 1024 + 17, 2);
    WriteBytes(src, content);
    ASSERT_EQ(::chmod(src.c_str(), 0640), 0);
    const struct timespec times[2] = {{1'000'000'000, 0}, {1'015'323'630, 456'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, src.c_str(), times, 0), 0);

    ASSERT_TRUE(CopyFileA(src.c_str(), dst.c_str(), FALSE)) << GetLastError();
    EXPECT_EQ(ReadBytes(dst), content);
    struct stat st {};
    ASSERT_EQ(::stat(dst.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1'015'323'630);
    EXPECT_EQ(st.st_mtim.tv_nsec, 456'000'000);
    EXPECT_EQ(CountEntries(dir.path()), 2u) << "no temporary file left";
}

TEST(CopyFile, ReplacesExistingAndFollowsLinks) {
    TempDir dir;
    const std::string src = dir.file("src");
    const std::string dst = dir.file("dst");
    const std::string link = dir.file("link");
    WriteText(src, "new content");
    WriteText(dst, "old content that is longer");
    ASSERT_EQ(::symlink("dst", link.c_str()), 0);
    ASSERT_TRUE(CopyFileA(src.c_str(), link.c_str(), FALSE)) << GetLastError();
    EXPECT_TRUE(fs::is_symlink(link)) << "the link stays a link";
    EXPECT_EQ(ReadBytes(dst), ReadBytes(src));

    // Empty files copy to empty files.
    const std::string empty = dir.file("empty");
    WriteText(empty, "");
    ASSERT_TRUE(CopyFileA(empty.c_str(), dst.c_str(), FALSE));
    EXPECT_TRUE(ReadBytes(dst).empty());
    EXPECT_EQ(CountEntries(dir.path()), 4u);
}

TEST(CopyFile, RefusesToCopyOntoItselfThroughAHardLink) {
    TempDir dir;
    const std::string src = dir.file("src");
    const std::string hard = dir.file("hard");
    WriteText(src, "content");
    ASSERT_EQ(::link(src.c_str(), hard.c_str()), 0);
    EXPECT_FALSE(CopyFileA(src.c_str(), hard.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ReadBytes(src), std::vector<std::uint8_t>({'c', 'o', 'n', 't', 'e', 'n', 't'}));
    EXPECT_EQ(CountEntries(dir.path()), 2u);
}

// A file system too small for the copy: the copy fails with "disk full", the
// existing destination keeps its content and no temporary file is left. Needs
// the right to mount; skipped without it.
TEST(CopyFile, FullFileSystemKeepsDestination) {
    TempDir dir;
    const std::string mnt = dir.file("mnt");
    fs::create_directory(mnt);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mnt};
    const std::string src = dir.file("big");
    WriteBytes(src, RandomBytes(1024 * 1024, 4));
    const std::string dst = mnt + "/dst";
    WriteText(dst, "keep me");
    SetLastError(0);
    EXPECT_FALSE(CopyFileA(src.c_str(), dst.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(ReadBytes(dst), std::vector<std::uint8_t>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    EXPECT_EQ(CountEntries(mnt), 1u);
}

}  // namespace
