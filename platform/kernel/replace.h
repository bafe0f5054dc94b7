// Replacing a file only when its new content is complete.
//
// A writer asks BeginReplace for the file to write, writes and closes it, then
// calls CommitReplace; on any failure it calls AbandonReplace. The new content
// goes to a temporary file beside the destination, renamed over it on commit, so
// an existing destination is untouched by a failed write and a file written onto
// itself is never destroyed. A destination that is a symbolic link is resolved
// first (the file it points to is replaced, not the link); a replaced file keeps
// its permission bits, and its owner and group where the process may set them.
// The commit flushes the new file's data before the rename and the folder after
// it, so a power cut leaves the old file or the new one, never an empty one.
//
// An existing destination that is a device is written directly (and not
// flushed); a pipe or a socket is refused, since opening it could wait for ever.
//
// Temporary files are named ".NAME.wavtrn-PID.XXXX" (PID: the writer's process
// id, XXXX: four hexadecimal digits), or ".wavtrn-PID.XXXX" when NAME is too
// long for that. BeginReplace removes such files of this user in the folder
// whose writer no longer runs (killed part-way), and nothing else.
#pragma once

#include <string>
#include <sys/types.h>

struct PendingReplace {
    std::string finalPath;  // the destination with symbolic links resolved
    std::string tempPath;   // the temporary file's full path (for messages; may pass PATH_MAX)
    std::string writePath;  // the path to open for writing: tempPath, a short equivalent
                            // when tempPath passes PATH_MAX, or finalPath when direct
    bool direct = false;    // written in place (a device)
    bool active = false;    // a temporary file exists and is neither committed nor abandoned
    int fd = -1;            // the temporary file, open until commit or abandon
    int dirFd = -1;         // the destination's folder
    std::string tempName;   // the temporary file's and the destination's names in the folder
    std::string finalName;

    PendingReplace() = default;
    PendingReplace(const PendingReplace&) = delete;
    PendingReplace& operator=(const PendingReplace&) = delete;
    ~PendingReplace();  // closes what is still open; the file is removed by AbandonReplace
};

// Prepares the replacement of destination. Creates the temporary file (empty,
// mode 0666 less the umask, or the existing destination's mode, owner and
// group). Returns false with the last error set when the destination cannot be
// written (missing directory, a directory, a pipe, no permission).
bool BeginReplace(const char* destination, PendingReplace& pending);

// Opens the file a pending replacement writes, empty, for writing: a new
// descriptor of the temporary file, or the device. -1 with the last error set.
int OpenReplaceTarget(const PendingReplace& pending);

// Flushes the finished temporary file, moves it over the destination and
// flushes the folder. Returns false with the last error set when the flush or
// the rename fails; the temporary file is then removed.
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
// descriptor with *st filled, or -1 with the last error set.
int OpenCopySource(const char* path, struct stat* st);

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
