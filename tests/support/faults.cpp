#include "support/faults.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
ssize_t __real_read(int fd, void* buffer, size_t count);
int __real_statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* result);
int __real_fdatasync(int fd);
int __real_fsync(int fd);
int __real_renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath);
}

namespace {

std::atomic<int> gReadCountdown{0}, gReadErrno{0};
std::atomic<int> gStatxCountdown{0}, gStatxErrno{0};
std::atomic<std::vector<std::string>*> gSyncLog{nullptr};

// Whether this call is the armed one: counts the countdown down to it.
bool Strikes(std::atomic<int>& countdown) {
    int left = countdown.load();
    while (left > 0 && !countdown.compare_exchange_weak(left, left - 1)) {
    }
    return left == 1;
}

// The path the system gives for a descriptor.
std::string PathOf(int fd) {
    char path[PATH_MAX + 1];
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, PATH_MAX);
    return n < 0 ? "?" : std::string(path, static_cast<std::size_t>(n));
}

// A file's device and inode numbers, "?" when it cannot be looked at.
std::string IdentityOf(const struct stat& st) { return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino); }

std::string IdentityOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? IdentityOf(st) : "?";
}

std::string IdentityIn(int dirfd, const char* name) {
    struct stat st {};
    return ::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? IdentityOf(st) : "?";
}

std::string PathIn(int dirfd, const char* name) {
    if (name[0] == '/') return name;
    const std::string folder = dirfd == AT_FDCWD ? "." : PathOf(dirfd);
    return (folder == "/" ? "" : folder) + "/" + name;
}

void Record(const std::string& line) {
    if (std::vector<std::string>* log = gSyncLog.load()) log->push_back(line);
}

}  // namespace

namespace faults {

void FailRead(int nthCall, int err) {
    gReadErrno = err;
    gReadCountdown = nthCall > 0 ? nthCall : 0;
}

void FailStatx(int nthCall, int err) {
    gStatxErrno = err;
    gStatxCountdown = nthCall > 0 ? nthCall : 0;
}

void RecordSyncs(std::vector<std::string>* log) { gSyncLog = log; }

}  // namespace faults

extern "C" {

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    if (Strikes(gReadCountdown)) {
        errno = gReadErrno;
        return -1;
    }
    return __real_read(fd, buffer, count);
}

int __wrap_statx(int dirfd, const char* path, int flags, unsigned int mask, struct statx* result) {
    if (Strikes(gStatxCountdown)) {
        errno = gStatxErrno;
        return -1;
    }
    return __real_statx(dirfd, path, flags, mask, result);
}

int __wrap_fdatasync(int fd) {
    Record("fdatasync " + IdentityOf(fd));
    return __real_fdatasync(fd);
}

int __wrap_fsync(int fd) {
    Record("fsync " + PathOf(fd));
    return __real_fsync(fd);
}

int __wrap_renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath) {
    Record("rename " + IdentityIn(olddirfd, oldpath) + " " + PathIn(newdirfd, newpath));
    return __real_renameat(olddirfd, oldpath, newdirfd, newpath);
}

}  // extern "C"
