// Replacing a file only when its new content is complete.
//
// A writer asks BeginReplace for the path to write, writes and closes it, then
// calls CommitReplace; on any failure it calls AbandonReplace. The new content
// goes to a temporary file beside the destination, renamed over it on commit, so
// an existing destination is untouched by a failed write and a file written onto
// itself is never destroyed. A destination that is a symbolic link is resolved
// first (the file it points to is replaced, not the link); a replaced file keeps
// its permission bits. An existing destination that is not a regular file (a
// device, a pipe) is written directly.
#pragma once

#include <string>

struct PendingReplace {
    std::string finalPath;  // the destination with symbolic links resolved
    std::string writePath;  // the file to write: a temporary file, or finalPath when direct
    bool direct = false;    // written in place (not a regular file)
    bool active = false;    // a temporary file exists and is neither committed nor abandoned
};

// Prepares the replacement of destination. Creates the temporary file (empty,
// mode 0666 less the umask). Returns false with the last error set when the
// destination cannot be written (missing directory, a directory, no permission).
bool BeginReplace(const char* destination, PendingReplace& pending);

// Moves the finished temporary file over the destination. Returns false with the
// last error set when that fails; the temporary file is then removed.
bool CommitReplace(PendingReplace& pending);

// Removes the temporary file, leaving the destination as it was. Safe to call
// more than once and after a commit.
void AbandonReplace(PendingReplace& pending);

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
