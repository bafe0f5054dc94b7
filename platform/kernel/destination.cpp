#include "platform/kernel/destination.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Links a path may pass through, as the kernel allows.
constexpr int kMaxLinks = 40;

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

bool IsFolderName(const std::string& name) { return name.empty() || name == "." || name == ".."; }

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Opens a folder relative to at: for reading where allowed (the clean-up
// lists it, the commit flushes it), else only as a place to create and
// rename in.
UniqueFd OpenFolder(int at, const std::string& path, bool& readable) {
    UniqueFd fd(::openat(at, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    readable = static_cast<bool>(fd);
    if (fd || errno != EACCES) return fd;
    return UniqueFd(::openat(at, path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// Moves from the link at the destination's folder and name to the place its
// target names. 0, or the errno value of the failure.
int FollowLink(Destination& d) {
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(d.folder.get(), d.name.c_str(), target, sizeof target - 1);
    if (n < 0) return errno;
    target[n] = '\0';
    const std::string text = target;
    const bool absolute = text[0] == '/';
    const std::string folder = DirectoryOf(text);
    bool readable = false;
    UniqueFd next = OpenFolder(absolute ? AT_FDCWD : d.folder.get(), folder, readable);
    if (!next) return errno;
    if (absolute) d.folderPath = folder;
    else if (text.find('/') != std::string::npos) d.folderPath = (d.folderPath == "/" ? "" : d.folderPath) + "/" + folder;
    d.folder = std::move(next);
    d.folderReadable = readable;
    d.name = NameOf(text);
    return 0;
}

// Walks the links from the destination's folder and name to the last one's
// target. reached: what the kernel reaches by following the first link, or
// nothing when there is no link or its target does not exist.
int Walk(Destination& d, UniqueFd& reached) {
    for (int links = 0;; ++links) {
        if (IsFolderName(d.name)) return EISDIR;
        if (::fstatat(d.folder.get(), d.name.c_str(), &d.st, AT_SYMLINK_NOFOLLOW) != 0) {
            d.exists = false;
            return errno == ENOENT ? 0 : errno;
        }
        d.exists = true;
        if (!S_ISLNK(d.st.st_mode)) return 0;
        if (links == kMaxLinks) return ELOOP;
        if (links == 0) {
            // The kernel follows the link first, so that its protections decide.
            reached.Reset(::openat(d.folder.get(), d.name.c_str(), O_PATH | O_CLOEXEC));
            if (!reached && errno != ENOENT) return errno;
        }
        if (const int error = FollowLink(d); error != 0) return error;
    }
}

}  // namespace

int ResolveDestination(const char* path, Destination& d) {
    const std::string text = path;
    d.folderPath = DirectoryOf(text);
    d.folder = OpenFolder(AT_FDCWD, d.folderPath, d.folderReadable);
    if (!d.folder) return errno;
    d.name = NameOf(text);
    UniqueFd reached;
    if (const int error = Walk(d, reached); error != 0) return error;
    if (!reached) return 0;
    struct stat st {};
    if (::fstat(reached.get(), &st) != 0) return errno;
    if (d.exists && SameFile(st, d.st)) return 0;
    // A link under /proc to a pipe or a socket names no file in any folder.
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        d.exists = true;
        d.st = st;
        return 0;
    }
    // The links changed while they were followed.
    return EAGAIN;
}
