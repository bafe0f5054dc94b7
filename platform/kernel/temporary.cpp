#include "platform/kernel/temporary.h"

#include "platform/kernel/open_file.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

constexpr char kMarker[] = ".wavtrn-";
constexpr std::size_t kMarkerLength = sizeof kMarker - 1;
constexpr std::size_t kRandomDigits = 4;
// A temporary file unchanged for this long, and not locked, has no writer.
constexpr time_t kStaleAfterSeconds = 10 * 60;

bool AllOf(const std::string& s, std::size_t from, std::size_t to, bool (*accept)(char)) {
    for (std::size_t i = from; i < to; ++i)
        if (!accept(s[i])) return false;
    return true;
}

bool IsDecimal(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDecimal(c) || (c >= 'a' && c <= 'f'); }

// Opens a candidate for its lock, when it is a regular file: for reading, or
// for writing when the mode allows only that. A descriptor opened only as a
// path cannot be locked.
UniqueFd OpenForLock(int folder, const char* name, struct stat& opened) {
    constexpr int kFlags = O_NOFOLLOW | O_NOCTTY;
    UniqueFd fd;
    if (OpenWithoutWaiting(folder, name, O_RDONLY | kFlags, Openable::RegularFiles, fd, opened) == OpenOutcome::Failed &&
        errno == EACCES)
        OpenWithoutWaiting(folder, name, O_WRONLY | kFlags, Openable::RegularFiles, fd, opened);
    return fd;
}

// Removes the file when it is stale. Its lock is taken before it is removed
// and held until then, so that a writer that starts on it meanwhile is not
// possible and one that holds it keeps its file.
void RemoveIfStale(int folder, const char* name, time_t now) {
    struct stat seen {};
    if (::fstatat(folder, name, &seen, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(seen.st_mode) ||
        seen.st_uid != ::geteuid() || now - seen.st_mtime < kStaleAfterSeconds)
        return;
    struct stat opened {};
    const UniqueFd fd = OpenForLock(folder, name, opened);
    if (!fd || opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino ||
        now - opened.st_mtime < kStaleAfterSeconds)
        return;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return;  // a writer holds it, or locks cannot be had here
    ::unlinkat(folder, name, 0);
}

}  // namespace

std::string TemporaryNameBase(const std::string& finalName) {
    const std::string pid = std::to_string(::getpid());
    std::string base = "." + finalName + kMarker + pid + ".";
    if (base.size() + kRandomDigits > NAME_MAX) base = std::string(kMarker) + pid + ".";
    return base;
}

bool IsTemporaryName(const std::string& name) {
    const auto marker = name.rfind(kMarker);
    if (name.empty() || name[0] != '.' || marker == std::string::npos) return false;
    const std::size_t digits = marker + kMarkerLength;
    const auto dot = name.find('.', digits);
    if (dot == std::string::npos || dot == digits || dot - digits > 10 || name[digits] == '0') return false;
    return name.size() - dot - 1 == kRandomDigits && AllOf(name, digits, dot, IsDecimal) &&
           AllOf(name, dot + 1, name.size(), IsHex);
}

void RemoveStaleTemporaryFiles(int folder) {
    // The listing reads through a descriptor of its own: the folder's stays
    // where it is, for the creation and the rename.
    UniqueFd listing(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing) return;
    DIR* dir = ::fdopendir(listing.get());
    if (dir == nullptr) return;
    listing.Release();
    const time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(dir)) {
        if (IsTemporaryName(entry->d_name)) RemoveIfStale(folder, entry->d_name, now);
    }
    ::closedir(dir);
}
