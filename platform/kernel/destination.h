// Finding the file a destination path names, the way the kernel finds it.
#pragma once

#include "platform/kernel/unique_fd.h"

#include <string>
#include <sys/stat.h>

// Where a destination's file is: its folder, open, and its name there, with
// symbolic links followed to their final target; and what is there now.
struct Destination {
    UniqueFd folder;          // for reading where allowed, else opened as a path only
    bool folderReadable = false;
    std::string folderPath;   // for messages: the path the folder was reached by
    std::string name;
    bool exists = false;
    struct stat st {};        // what is there (exists)

    std::string Path() const { return (folderPath == "/" ? "" : folderPath) + "/" + name; }
};

// Finds the destination's file. Each link is first followed by the kernel
// itself, so that its protections decide (fs.protected_symlinks refuses a
// link that another user planted in a sticky folder, as it refuses cp), and
// the file so reached must be the one the folder and name lead to. A
// destination that reaches a pipe or a socket through /proc is given with
// that file's status. Returns 0, or the errno value of the failure.
int ResolveDestination(const char* path, Destination& destination);
