#include "platform/kernel/open_file.h"

#include <cerrno>
#include <fcntl.h>
#include <utility>

namespace {

bool Takes(Openable kinds, mode_t mode) {
    const bool device = S_ISCHR(mode) || S_ISBLK(mode);
    switch (kinds) {
    case Openable::RegularFiles: return S_ISREG(mode);
    case Openable::FilesAndDevices: return S_ISREG(mode) || device;
    case Openable::DevicesOnly: return device;
    case Openable::Anything: return true;
    }
    return false;
}

}  // namespace

OpenOutcome OpenWithoutWaiting(int folder, const char* name, int flags, Openable kinds, UniqueFd& fd,
                               struct stat& st) {
    fd.Reset();
    UniqueFd opened;
    do {
        opened.Reset(::openat(folder, name, flags | O_NONBLOCK | O_CLOEXEC, 0666));
    } while (!opened && errno == EINTR);
    if (!opened) return OpenOutcome::Failed;
    // The descriptor is closed before errno is handed back.
    auto failed = [&opened] {
        const int error = errno;
        opened.Reset();
        errno = error;
        return OpenOutcome::Failed;
    };
    if (::fstat(opened.get(), &st) != 0) return failed();
    if (!Takes(kinds, st.st_mode)) return OpenOutcome::WrongKind;
    const int status = ::fcntl(opened.get(), F_GETFL);
    if (status < 0 || ::fcntl(opened.get(), F_SETFL, status & ~O_NONBLOCK) != 0) return failed();
    fd = std::move(opened);
    return OpenOutcome::Opened;
}
