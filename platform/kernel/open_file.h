// Opening a name that may be a FIFO without hanging on it.
#pragma once

#include "platform/kernel/unique_fd.h"

#include <sys/stat.h>

// The kinds of file OpenWithoutWaiting keeps open.
enum class Openable {
    RegularFiles,
    FilesAndDevices,  // regular files, character and block devices
    DevicesOnly,      // character and block devices
    Anything,
};

enum class OpenOutcome {
    Opened,     // fd holds the file, its reads and writes wait again; st describes it
    Failed,     // errno says why the open, fstat or fcntl failed
    WrongKind,  // a kind not taken (a folder, a FIFO, a socket, ...); st describes it
};

// Opens name (relative to the open folder, or AT_FDCWD) with flags, O_CLOEXEC
// and O_NONBLOCK: a FIFO with no one at its other end is opened or refused at
// once instead of hanging the open. Looks at what was opened (fstat), and
// when it is of a kind taken clears O_NONBLOCK, so that reads and writes on a
// device wait as usual. fd is empty unless the outcome is Opened. A new file
// gets mode 0666 less the umask.
OpenOutcome OpenWithoutWaiting(int folder, const char* name, int flags, Openable kinds, UniqueFd& fd,
                               struct stat& st);
