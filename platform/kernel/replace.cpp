#include "platform/kernel/replace.h"

#include "platform/kernel/attributes.h"
#include "platform/kernel/destination.h"
#include "platform/kernel/lasterror.h"
#include "platform/kernel/open_file.h"
#include "platform/kernel/temporary.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kRandomDigits = 4;

std::string Join(const std::string& folder, const std::string& name) {
    return (folder == "/" ? "" : folder) + "/" + name;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The folders whose stale temporary files this process has removed: each is
// read once, however many files are written into it. A child process starts
// with its parent's list. The path is part of the key, since a folder removed
// and made anew may get the number of the old one.
bool FirstVisit(const Destination& d) {
    static std::set<std::tuple<dev_t, ino_t, std::string>> visited;
    struct stat st {};
    if (::fstat(d.folder.get(), &st) != 0) return false;
    return visited.emplace(st.st_dev, st.st_ino, d.folderPath).second;
}

void SweepOnce(const Destination& d) {
    if (d.folderReadable && FirstVisit(d)) RemoveStaleTemporaryFiles(d.folder.get());
}

bool NamesStandardOutput(const char* path) {
    const std::string_view name = path;
    return name == "/dev/stdout" || name == "/dev/fd/1" || name == "/proc/self/fd/1";
}

// Writes to the standard output itself, through a duplicate of its
// descriptor: it may be a pipe, a terminal or a file opened by the shell.
bool BeginOnStandardOutput(const char* destination, PendingReplace& pending) {
    pending.finalPath = destination;
    pending.file.Reset(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
    struct stat st {};
    const int status = pending.file ? ::fcntl(pending.file.get(), F_GETFL) : -1;
    if (status < 0 || ::fstat(pending.file.get(), &st) != 0) {
        SetLastErrorFromErrno(errno);
        pending.file.Reset();
        return false;
    }
    if (S_ISDIR(st.st_mode) || (status & O_ACCMODE) == O_RDONLY) {
        SetLastErrorFromErrno(S_ISDIR(st.st_mode) ? EISDIR : EBADF);
        pending.file.Reset();
        return false;
    }
    pending.direct = true;
    return true;
}

// Opens an existing device for writing in place. Opened without waiting and
// without following a link, then checked: it must still be the device found.
bool BeginOnDevice(const Destination& d, PendingReplace& pending) {
    UniqueFd fd;
    struct stat st {};
    const int flags = O_WRONLY | O_NOFOLLOW | O_NOCTTY;
    const OpenOutcome outcome = OpenWithoutWaiting(d.folder.get(), d.name.c_str(), flags, Openable::DevicesOnly, fd, st);
    if (outcome == OpenOutcome::Failed) {
        SetLastErrorFromErrno(errno, pending.finalPath.c_str());
        return false;
    }
    if (outcome == OpenOutcome::WrongKind || !SameFile(st, d.st)) {
        SetLastErrorRefusal(ERROR_ACCESS_DENIED, Refusal::NotRegularFile);
        return false;
    }
    pending.file = std::move(fd);
    pending.direct = true;
    return true;
}

// Creates the temporary file beside the destination, in the open folder
// pending.folder, locks it for the writer's life and gives it what the
// existing destination has (mode, owner, group, ACL, extended attributes).
bool CreateTemporaryFile(PendingReplace& pending, const Destination& d) {
    const std::string base = TemporaryNameBase(pending.finalName);
    std::random_device rd;
    std::mt19937 rng(rd() ^ static_cast<unsigned>(::getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[kRandomDigits + 1];
        std::snprintf(suffix, sizeof suffix, "%04x", static_cast<unsigned>(rng() & 0xFFFF));
        const std::string name = base + suffix;
        UniqueFd fd(::openat(pending.folder.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!fd && errno == EEXIST) continue;
        if (!fd) {
            SetLastErrorFromErrno(errno, pending.finalPath.c_str());
            return false;
        }
        // Where locks cannot be had (some network file systems), the file's
        // age alone keeps it from being taken for stale.
        (void)::flock(fd.get(), LOCK_EX | LOCK_NB);
        const int error = d.exists ? TakeOverAttributes(pending.folder.get(), d.name.c_str(), d.st, fd.get()) : 0;
        if (error != 0) {
            ::unlinkat(pending.folder.get(), name.c_str(), 0);
            SetLastErrorFromErrno(error, pending.finalPath.c_str());
            return false;
        }
        pending.file = std::move(fd);
        pending.tempName = name;
        pending.tempPath = Join(d.folderPath, name);
        pending.active = true;
        return true;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

// Clears what an earlier use of the record left.
void Reset(PendingReplace& pending) {
    AbandonReplace(pending);
    pending.finalPath.clear();
    pending.tempPath.clear();
    pending.tempName.clear();
    pending.finalName.clear();
    pending.direct = false;
    pending.folderReadable = false;
}

// The checks on what the destination is now. False with the last error set
// when it cannot be replaced.
bool MayReplace(const Destination& d, const std::string& path) {
    if (!d.exists) return true;
    if (S_ISDIR(d.st.st_mode)) {
        SetLastErrorFromErrno(EISDIR);
        return false;
    }
    if (!S_ISREG(d.st.st_mode)) {
        // A pipe or a socket: opening it could wait for a reader for ever.
        SetLastErrorRefusal(ERROR_ACCESS_DENIED, Refusal::NotRegularFile);
        return false;
    }
    // Ask for write permission on an existing file first: replacing it by
    // rename would otherwise succeed where writing it in place would be refused.
    if (::faccessat(d.folder.get(), d.name.c_str(), W_OK, AT_SYMLINK_NOFOLLOW) != 0) {
        SetLastErrorFromErrno(errno, path.c_str());
        return false;
    }
    return true;
}

}  // namespace


bool BeginReplace(const char* destination, PendingReplace& pending) {
    Reset(pending);
    if (destination == nullptr || *destination == '\0') {
        SetLastErrorFromErrno(ENOENT, destination);
        return false;
    }
    if (NamesStandardOutput(destination)) return BeginOnStandardOutput(destination, pending);
    Destination d;
    if (const int error = ResolveDestination(destination, d); error != 0) {
        SetLastErrorFromErrno(error, destination);
        return false;
    }
    pending.finalPath = d.Path();
    if (d.exists && (S_ISCHR(d.st.st_mode) || S_ISBLK(d.st.st_mode))) return BeginOnDevice(d, pending);
    if (!MayReplace(d, pending.finalPath)) return false;
    SweepOnce(d);
    pending.finalName = d.name;
    pending.folder = std::move(d.folder);
    pending.folderReadable = d.folderReadable;
    return CreateTemporaryFile(pending, d);
}

void SweepStaleTemporaryFiles(const char* destination) {
    Destination d;
    if (destination == nullptr || NamesStandardOutput(destination) || ResolveDestination(destination, d) != 0) return;
    SweepOnce(d);
}

UniqueFd OpenReplaceTarget(const PendingReplace& pending) {
    if (!pending.direct && !pending.active) {
        SetLastError(ERROR_INVALID_HANDLE);
        return UniqueFd();
    }
    UniqueFd fd(::fcntl(pending.file.get(), F_DUPFD_CLOEXEC, 0));
    if (!fd) SetLastErrorFromErrno(errno);
    return fd;
}

void StartWriteBack(int fd) { (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }

bool CommitReplace(PendingReplace& pending) {
    if (pending.direct) {
        pending.file.Reset();
        return true;
    }
    if (!pending.active) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    // The data reaches the disk before the name does. A file system that
    // cannot flush (EINVAL) has nothing to wait for.
    if (::fdatasync(pending.file.get()) != 0 && errno != EINVAL) {
        SetLastErrorFromErrno(errno);
        AbandonReplace(pending);
        return false;
    }
    // Whoever may write in the folder could have put another file under the
    // temporary name: that one must not take the destination's place.
    struct stat written {}, named {};
    if (::fstat(pending.file.get(), &written) != 0 ||
        ::fstatat(pending.folder.get(), pending.tempName.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameFile(written, named)) {
        SetLastErrorRefusal(ERROR_ACCESS_DENIED, Refusal::TemporaryReplaced);
        AbandonReplace(pending);
        return false;
    }
    if (::renameat(pending.folder.get(), pending.tempName.c_str(), pending.folder.get(), pending.finalName.c_str()) != 0) {
        SetLastErrorFromErrno(errno, pending.finalPath.c_str());
        AbandonReplace(pending);
        return false;
    }
    pending.active = false;
    // The rename is done: a folder that cannot be flushed (opened without
    // read permission, or a file system without it) does not undo it.
    if (pending.folderReadable) (void)::fsync(pending.folder.get());
    pending.file.Reset();
    pending.folder.Reset();
    return true;
}

void AbandonReplace(PendingReplace& pending) {
    if (pending.active) ::unlinkat(pending.folder.get(), pending.tempName.c_str(), 0);
    pending.active = false;
    pending.file.Reset();
    pending.folder.Reset();
}

UniqueFd OpenCopySource(const char* path, struct stat* st) {
    UniqueFd fd;
    switch (OpenWithoutWaiting(AT_FDCWD, path, O_RDONLY, Openable::FilesAndDevices, fd, *st)) {
    case OpenOutcome::Opened: break;
    case OpenOutcome::Failed: SetLastErrorFromErrno(errno, path); break;
    case OpenOutcome::WrongKind: SetLastErrorRefusal(ERROR_ACCESS_DENIED, Refusal::NotRegularFile); break;
    }
    return fd;
}

bool IsSameFile(const char* first, const char* second) {
    struct stat a {}, b {};
    if (first == nullptr || second == nullptr) return false;
    if (::stat(first, &a) != 0 || ::stat(second, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
