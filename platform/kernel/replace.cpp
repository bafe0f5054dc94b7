#include "platform/kernel/replace.h"

#include "platform/kernel/kernel_testing.h"
#include "platform/kernel/lasterror.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Marks the program's temporary files: ".NAME.wavtrn-PID.XXXX" or ".wavtrn-PID.XXXX".
constexpr char kMarker[] = ".wavtrn-";
constexpr std::size_t kMarkerLength = sizeof kMarker - 1;
constexpr std::size_t kRandomDigits = 4;

// Where the flushes and renames are recorded, for tests; null when not.
std::vector<std::string>* gSyncLog = nullptr;

void Record(const char* what, const std::string& path, const std::string& to = {}) {
    if (gSyncLog != nullptr) gSyncLog->push_back(std::string(what) + " " + path + (to.empty() ? "" : " " + to));
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links (also dangling ones) to the path that will really be written.
bool ResolveLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0) return true;
        target[n] = '\0';
        if (target[0] == '/') {
            path = target;
        } else {
            path = DirectoryOf(path) + "/" + target;
        }
    }
    errno = ELOOP;
    return false;
}

void CloseDescriptors(PendingReplace& pending) {
    if (pending.fd >= 0) ::close(pending.fd);
    if (pending.dirFd >= 0) ::close(pending.dirFd);
    pending.fd = -1;
    pending.dirFd = -1;
}

// The writer's process id when name is one of the program's temporary names,
// otherwise 0.
pid_t WriterOf(const char* name) {
    const std::string n = name;
    const auto marker = n.rfind(kMarker);
    if (n.empty() || n[0] != '.' || marker == std::string::npos) return 0;
    const std::size_t digits = marker + kMarkerLength;
    const auto dot = n.find('.', digits);
    if (dot == std::string::npos || dot == digits || dot - digits > 10 || n[digits] == '0' ||
        n.size() - dot - 1 != kRandomDigits)
        return 0;
    long long pid = 0;
    for (std::size_t i = digits; i < dot; ++i) {
        if (n[i] < '0' || n[i] > '9') return 0;
        pid = pid * 10 + (n[i] - '0');
    }
    for (std::size_t i = dot + 1; i < n.size(); ++i) {
        if (!((n[i] >= '0' && n[i] <= '9') || (n[i] >= 'a' && n[i] <= 'f'))) return 0;
    }
    return pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

// Removes the temporary files a writer that no longer runs left in the folder
// (killed part-way): only regular files of this user with the program's
// naming pattern, never a link or anything a running process may still write.
void RemoveStaleTemporaryFiles(int dirFd) {
    const int listFd = ::dup(dirFd);
    if (listFd < 0) return;
    DIR* dir = ::fdopendir(listFd);
    if (dir == nullptr) {
        ::close(listFd);
        return;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t writer = WriterOf(entry->d_name);
        if (writer <= 0 || writer == ::getpid()) continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        if (::kill(writer, 0) == 0 || errno != ESRCH) continue;
        ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

// Opens the destination's folder: for reading where allowed (its flush and
// the clean-up need that), else only as a place to create and rename in.
int OpenFolder(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES) return fd;
    return ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Gives the temporary file the existing destination's owner, group and
// permission bits. An owner or group the process may not give is left as it
// is (EPERM); the mode follows the owner, which may clear set-id bits.
void TakeOverAttributes(int fd, const struct stat& st) {
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    (void)::fchmod(fd, st.st_mode & 07777);
}

// Creates the temporary file beside the destination, in the open folder
// pending.dirFd. The name carries the writer's process id, so that a later run
// can tell a killed writer's file; a destination name too long for the
// additions gets a temporary name without it. An existing destination's mode,
// owner and group go over to it.
bool CreateTemporaryFile(PendingReplace& pending, const std::string& dir, const struct stat* existing) {
    const std::string pid = std::to_string(::getpid());
    std::string base = "." + pending.finalName + kMarker + pid + ".";
    if (base.size() + kRandomDigits > NAME_MAX) base = std::string(kMarker) + pid + ".";
    std::random_device rd;
    std::mt19937 rng(rd() ^ static_cast<unsigned>(::getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[kRandomDigits + 1];
        std::snprintf(suffix, sizeof suffix, "%04x", static_cast<unsigned>(rng() & 0xFFFF));
        const std::string name = base + suffix;
        const int fd = ::openat(pending.dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            SetLastErrorFromErrno(errno, pending.finalPath.c_str());
            CloseDescriptors(pending);
            return false;
        }
        if (existing != nullptr) TakeOverAttributes(fd, *existing);
        pending.fd = fd;
        pending.tempName = name;
        pending.tempPath = (dir == "/" ? "" : dir) + "/" + name;
        // A path past PATH_MAX cannot be opened; the descriptor's own name can.
        pending.writePath = pending.tempPath.size() < PATH_MAX ? pending.tempPath
                                                                : "/proc/self/fd/" + std::to_string(fd);
        pending.active = true;
        return true;
    }
    CloseDescriptors(pending);
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

}  // namespace

PendingReplace::~PendingReplace() { CloseDescriptors(*this); }

void SetSyncLogForTesting(std::vector<std::string>* log) { gSyncLog = log; }

bool BeginReplace(const char* destination, PendingReplace& pending) {
    AbandonReplace(pending);
    CloseDescriptors(pending);
    pending.finalPath.clear();
    pending.tempPath.clear();
    pending.writePath.clear();
    pending.tempName.clear();
    pending.finalName.clear();
    pending.direct = false;
    if (destination == nullptr || *destination == '\0') {
        SetLastErrorFromErrno(ENOENT, destination);
        return false;
    }
    std::string path = destination;
    if (!ResolveLinks(path)) {
        SetLastErrorFromErrno(errno, destination);
        return false;
    }
    pending.finalPath = path;

    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        SetLastErrorFromErrno(EISDIR);
        return false;
    }
    if (exists && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))) {
        pending.writePath = path;
        pending.direct = true;
        return true;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // A pipe or a socket: opening it could wait for a reader for ever.
        SetLastErrorRefusal(ERROR_ACCESS_DENIED, Text::NotRegularFile);
        return false;
    }

    // Ask for write permission on an existing file first: replacing it by rename
    // would otherwise succeed where writing it in place would be refused.
    if (exists && ::access(path.c_str(), W_OK) != 0) {
        SetLastErrorFromErrno(errno, path.c_str());
        return false;
    }

    const std::string dir = DirectoryOf(path);
    pending.finalName = NameOf(path);
    pending.dirFd = OpenFolder(dir);
    if (pending.dirFd < 0) {
        SetLastErrorFromErrno(errno, path.c_str());
        return false;
    }
    RemoveStaleTemporaryFiles(pending.dirFd);

    return CreateTemporaryFile(pending, dir, exists ? &st : nullptr);
}

int OpenReplaceTarget(const PendingReplace& pending) {
    if (!pending.direct) {
        if (!pending.active) {
            SetLastError(ERROR_INVALID_HANDLE);
            return -1;
        }
        const int fd = ::fcntl(pending.fd, F_DUPFD_CLOEXEC, 0);
        if (fd < 0 || ::ftruncate(fd, 0) != 0) {
            SetLastErrorFromErrno(errno);
            if (fd >= 0) ::close(fd);
            return -1;
        }
        return fd;
    }
    // Opened without waiting, then checked: the device may have been replaced
    // by a pipe since BeginReplace looked at it.
    const int fd = ::open(pending.writePath.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno, pending.writePath.c_str());
        return -1;
    }
    struct stat st {};
    const int status = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !(S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISREG(st.st_mode)) ||
        status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        SetLastErrorRefusal(ERROR_ACCESS_DENIED, Text::NotRegularFile);
        ::close(fd);
        return -1;
    }
    return fd;
}

void StartWriteBack(int fd) { (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }

bool CommitReplace(PendingReplace& pending) {
    if (pending.direct) return true;
    if (!pending.active) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    // The data reaches the disk before the name does. A file system that
    // cannot flush (EINVAL) has nothing to wait for.
    Record("fdatasync", pending.tempPath);
    if (::fdatasync(pending.fd) != 0 && errno != EINVAL) {
        SetLastErrorFromErrno(errno);
        AbandonReplace(pending);
        return false;
    }
    Record("rename", pending.tempPath, pending.finalPath);
    if (::renameat(pending.dirFd, pending.tempName.c_str(), pending.dirFd, pending.finalName.c_str()) != 0) {
        SetLastErrorFromErrno(errno, pending.finalPath.c_str());
        AbandonReplace(pending);
        return false;
    }
    pending.active = false;
    // The rename is done: a folder that cannot be flushed (opened without
    // read permission, or a file system without it) does not undo it.
    Record("fsync", DirectoryOf(pending.finalPath));
    (void)::fsync(pending.dirFd);
    CloseDescriptors(pending);
    return true;
}

void AbandonReplace(PendingReplace& pending) {
    if (pending.active) ::unlinkat(pending.dirFd, pending.tempName.c_str(), 0);
    pending.active = false;
    CloseDescriptors(pending);
}

int OpenCopySource(const char* path, struct stat* st) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastErrorFromErrno(errno, path);
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, st) != 0 || status < 0) {
        SetLastErrorFromErrno(errno, path);
        ::close(fd);
        return -1;
    }
    if (!(S_ISREG(st->st_mode) || S_ISCHR(st->st_mode) || S_ISBLK(st->st_mode)) ||
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        SetLastErrorRefusal(ERROR_ACCESS_DENIED, Text::NotRegularFile);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool IsSameFile(const char* first, const char* second) {
    struct stat a {}, b {};
    if (first == nullptr || second == nullptr) return false;
    if (::stat(first, &a) != 0 || ::stat(second, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
