#include "platform/kernel/replace.h"

#include "platform/kernel/lasterror.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

}  // namespace

bool BeginReplace(const char* destination, PendingReplace& pending) {
    pending = PendingReplace{};
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
    if (exists && !S_ISREG(st.st_mode)) {
        pending.writePath = path;
        pending.direct = true;
        return true;
    }

    // Ask for write permission on an existing file first: replacing it by rename
    // would otherwise succeed where writing it in place would be refused.
    if (exists && ::access(path.c_str(), W_OK) != 0) {
        SetLastErrorFromErrno(errno, path.c_str());
        return false;
    }

    const std::string dir = DirectoryOf(path);
    const std::string base = dir + "/." + NameOf(path) + ".wavtrn-";
    std::random_device rd;
    std::mt19937_64 rng((static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^ static_cast<std::uint64_t>(::getpid()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(rng()));
        std::string candidate = base + suffix;
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            SetLastErrorFromErrno(errno, path.c_str());
            return false;
        }
        if (exists) (void)::fchmod(fd, st.st_mode & 07777);
        ::close(fd);
        pending.writePath = std::move(candidate);
        pending.active = true;
        return true;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

bool CommitReplace(PendingReplace& pending) {
    if (pending.direct) return true;
    if (!pending.active) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (::rename(pending.writePath.c_str(), pending.finalPath.c_str()) != 0) {
        SetLastErrorFromErrno(errno, pending.finalPath.c_str());
        AbandonReplace(pending);
        return false;
    }
    pending.active = false;
    return true;
}

void AbandonReplace(PendingReplace& pending) {
    if (!pending.active) return;
    ::unlink(pending.writePath.c_str());
    pending.active = false;
}

bool IsSameFile(const char* first, const char* second) {
    struct stat a {}, b {};
    if (first == nullptr || second == nullptr) return false;
    if (::stat(first, &a) != 0 || ::stat(second, &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
