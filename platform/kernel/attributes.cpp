#include "platform/kernel/attributes.h"

#include "platform/kernel/open_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/xattr.h>
#include <vector>

namespace {

constexpr char kAcl[] = "system.posix_acl_access";

// Reads the extended attributes of a file in a folder. A file the process may
// read is read through a descriptor; one it may not read is opened as a path
// only, whose attributes the calls take through its name under /proc.
class AttributeReader {
public:
    AttributeReader(int folder, const char* name) {
        struct stat st {};
        const OpenOutcome outcome =
            OpenWithoutWaiting(folder, name, O_RDONLY | O_NOFOLLOW | O_NOCTTY, Openable::Anything, fd_, st);
        if (outcome == OpenOutcome::Opened || errno != EACCES) return;
        fd_.Reset(::openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (fd_) procName_ = "/proc/self/fd/" + std::to_string(fd_.get());
    }
    // The file as opened, or errno when it could not be.
    int Open(const struct stat& expected) const {
        struct stat st {};
        if (!fd_ || ::fstat(fd_.get(), &st) != 0) return errno;
        // Another file under the name since it was looked at: its attributes are not the ones to keep.
        return st.st_dev == expected.st_dev && st.st_ino == expected.st_ino ? 0 : EAGAIN;
    }
    ssize_t List(char* names, std::size_t size) const {
        return procName_.empty() ? ::flistxattr(fd_.get(), names, size) : ::listxattr(procName_.c_str(), names, size);
    }
    ssize_t Get(const char* attribute, char* value, std::size_t size) const {
        return procName_.empty() ? ::fgetxattr(fd_.get(), attribute, value, size)
                                 : ::getxattr(procName_.c_str(), attribute, value, size);
    }

private:
    UniqueFd fd_;
    std::string procName_;
};

// Reads a list or a value whose size may change between asking and reading.
// 0, or the errno value of the failure.
template <class Read>
int ReadWhole(Read read, std::vector<char>& out) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = read(nullptr, 0);
        if (size < 0) return errno;
        out.resize(static_cast<std::size_t>(size));
        if (size == 0) return 0;
        const ssize_t got = read(out.data(), out.size());
        if (got >= 0) {
            out.resize(static_cast<std::size_t>(got));
            return 0;
        }
        if (errno != ERANGE) return errno;
    }
    return ERANGE;
}

// Attributes of the security modules and trusted ones need privileges that
// the process may not have; those are kept where it has them.
bool MayBeLeftOut(const char* attribute, int error) {
    const bool privileged = std::strncmp(attribute, "security.", 9) == 0 || std::strncmp(attribute, "trusted.", 8) == 0;
    return privileged && (error == EPERM || error == EACCES || error == ENOTSUP);
}

int CopyAttribute(const AttributeReader& from, const char* attribute, int to) {
    std::vector<char> value;
    const int error = ReadWhole([&](char* p, std::size_t n) { return from.Get(attribute, p, n); }, value);
    // Gone since the list was read, or not to be seen by this process: nothing to keep.
    if (error == ENODATA || error == EACCES || error == EPERM) return 0;
    if (error != 0) return error;
    if (::fsetxattr(to, attribute, value.data(), value.size(), 0) == 0) return 0;
    return MayBeLeftOut(attribute, errno) ? 0 : errno;
}

// The names of the file's attributes, each ended by a null byte.
int ListAttributes(const AttributeReader& from, std::vector<char>& names) {
    const int error = ReadWhole([&](char* p, std::size_t n) { return from.List(p, n); }, names);
    if (error == ENOTSUP) names.clear();
    return error == ENOTSUP ? 0 : error;
}

}  // namespace

int TakeOverAttributes(int folder, const char* name, const struct stat& st, int to) {
    // Owner and group first: a change of owner clears set-id bits and file
    // capabilities, which the mode and the attributes then give back.
    if (::fchown(to, st.st_uid, st.st_gid) != 0) (void)::fchown(to, static_cast<uid_t>(-1), st.st_gid);
    const AttributeReader from(folder, name);
    std::vector<char> names;
    if (const int error = from.Open(st); error != 0) return error;
    if (const int error = ListAttributes(from, names); error != 0) return error;
    bool hasAcl = false;
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1)
        hasAcl = hasAcl || std::strcmp(names.data() + at, kAcl) == 0;
    if (!hasAcl) (void)::fremovexattr(to, kAcl);
    if (::fchmod(to, st.st_mode & 07777) != 0) return errno;
    // The ACL goes last: it sets the group bits of the mode from its mask, as
    // the old file had them.
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        const char* attribute = names.data() + at;
        if (std::strcmp(attribute, kAcl) == 0) continue;
        if (const int error = CopyAttribute(from, attribute, to); error != 0) return error;
    }
    return hasAcl ? CopyAttribute(from, kAcl, to) : 0;
}
