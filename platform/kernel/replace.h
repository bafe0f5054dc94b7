// Replacing a file only when its new content is complete.
//
// A writer asks BeginReplace for the file to write and writes it through the
// descriptor OpenReplaceTarget hands over, then calls CommitReplace; on any
// failure it calls AbandonReplace. The new content goes to a temporary file
// beside the destination, renamed over it on commit, so an existing
// destination is untouched by a failed write and a file written onto itself
// is never destroyed. The temporary file is created and written through one
// descriptor, never opened again by its name, and locked for its writer's
// whole life (platform/kernel/temporary.h says how a stale one is told).
//
// A destination that is a symbolic link is followed by the kernel's own rules
// (a link another user planted in a sticky folder is refused when
// fs.protected_symlinks says so), and the file it leads to is replaced, not
// the link. A replaced file keeps its owner and group (where the process may
// give them), its permission bits, its ACL and its extended attributes. The
// commit flushes the new file's data before the rename and the folder after
// it, so a power cut leaves the old file or the new one, never an empty one.
//
// An existing destination that is a device is written directly (and not
// flushed); a pipe or a socket is refused, since opening it could wait for
// ever. "/dev/stdout", "/dev/fd/1" and "/proc/self/fd/1" name the standard
// output itself, whatever it is: it is written directly, never reopened.
#pragma once

#include "platform/kernel/unique_fd.h"

#include <string>
#include <sys/types.h>

struct PendingReplace {
    std::string finalPath;  // the destination with symbolic links followed (for messages)
    std::string tempPath;   // the temporary file's path (for messages and for removing it when
                            // its writer is killed; may pass PATH_MAX)
    bool direct = false;    // written in place (a device, the standard output)
    bool active = false;    // a temporary file exists and is neither committed nor abandoned
    UniqueFd file;          // the temporary file from its creation, or what is written in place
    UniqueFd folder;        // the destination's folder
    bool folderReadable = false;
    std::string tempName;   // the temporary file's and the destination's names in the folder
    std::string finalName;

    PendingReplace() = default;
    PendingReplace(const PendingReplace&) = delete;
    PendingReplace& operator=(const PendingReplace&) = delete;
};

// Prepares the replacement of destination. Creates the temporary file (empty,
// mode 0666 less the umask, or the existing destination's mode, owner, group,
// ACL and extended attributes), after removing the stale temporary files in
// its folder the first time this process writes there. Returns false with
// the last error set when the destination cannot be written (missing
// directory, a directory, a pipe, no permission, a link the kernel refuses).
bool BeginReplace(const char* destination, PendingReplace& pending);

// The file a pending replacement writes, for writing: a duplicate of the one
// descriptor BeginReplace opened (the temporary file, empty, or the device or
// standard output written in place), for the caller to own. Empty with the
// last error set.
UniqueFd OpenReplaceTarget(const PendingReplace& pending);

// Flushes the finished temporary file, moves it over the destination and
// flushes the folder. Returns false with the last error set when the flush or
// the rename fails, or when the temporary file's name no longer holds the file
// written (someone put another file there); the temporary file is then removed.
bool CommitReplace(PendingReplace& pending);

// Asks the disk to start writing what has reached fd so far, without waiting
// for it. Writers call it every few megabytes so the disk works while they
// compute and the flush on commit has little left to wait for. Only a hint:
// where it cannot be done, the commit's flush does it all.
void StartWriteBack(int fd);

// Removes the temporary file, leaving the destination as it was. Safe to call
// more than once and after a commit.
void AbandonReplace(PendingReplace& pending);

// Opens a file to copy from, for reading, without waiting for a pipe's writer:
// a folder, a pipe or a socket is refused with ERROR_ACCESS_DENIED. The
// descriptor with *st filled, or an empty one with the last error set.
UniqueFd OpenCopySource(const char* path, struct stat* st);

// Removes the stale temporary files in the folder destination would be
// written in, unless this process did so already. BeginReplace does it; a
// program that hands its writes to child processes calls it first for each
// destination, so that the children find it done and each folder is read once.
void SweepStaleTemporaryFiles(const char* destination);

// True when both paths name one existing file (same device and inode).
bool IsSameFile(const char* first, const char* second);

// Removes the temporary file on scope exit unless it was committed.
class ReplaceGuard {
public:
    explicit ReplaceGuard(PendingReplace& pending) : pending_(pending) {}
    ~ReplaceGuard() { AbandonReplace(pending_); }
    ReplaceGuard(const ReplaceGuard&) = delete;
    ReplaceGuard& operator=(const ReplaceGuard&) = delete;

private:
    PendingReplace& pending_;
};
