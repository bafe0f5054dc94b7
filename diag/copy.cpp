// COPY and CPY2: copy the source file to the destination path, by the
// whole-file copy and byte by byte through buffered binary streams.
#include "diag/diag.h"

#include "platform/kernel/kernel.h"
#include "platform/kernel/replace.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes a stream when the copy leaves early.
struct StreamCloser {
    FILE*& pFile;
    ~StreamCloser() {
        if (pFile != nullptr) std::fclose(pFile);
    }
};

// A buffered stream that takes over an open descriptor; null (and the
// descriptor closed) when there is none.
FILE* OpenStream(UniqueFd fd, const char* mode) {
    if (!fd) return nullptr;
    FILE* stream = ::fdopen(fd.get(), mode);
    if (stream != nullptr) fd.Release();
    return stream;
}

}  // namespace

void CopyWholeFile(const char* szSrcFile, const char* szDstFile, Reporter& reporter) {
    if (CopyFileA(szSrcFile, szDstFile, FALSE)) {
        reporter.Message(Text::Success);
    } else {
        reporter.SystemError(DialogText(Text::CopyContext));
    }
}

// CPY2: copies byte by byte. The bytes go to a file beside the
// destination that replaces it only when every byte was read, written and
// flushed, so a failed copy leaves an existing destination as it was and never
// leaves a partial one; a destination that is a device is written directly.
void CopyByteByByte(const char* szSrcFile, const char* szDstFile, Reporter& reporter) {
    // A pipe is refused at once instead of waiting for its writer.
    struct stat st {};
    FILE* pSrcFile = OpenStream(OpenCopySource(szSrcFile, &st), "rb");
    StreamCloser srcCloser{pSrcFile};
    if (pSrcFile == nullptr) {
        reporter.Box(szSrcFile, Text::CannotRead);
        return;
    }
    // Writing a file onto itself would empty it before the first byte is read.
    if (IsSameFile(szSrcFile, szDstFile)) {
        const std::string text = std::string(szDstFile) + "\n" + DialogText(Text::SameFile);
        reporter.Box(text.c_str(), Text::CannotWrite);
        return;
    }
    PendingReplace pending;
    if (!BeginReplace(szDstFile, pending)) {
        reporter.Box(szDstFile, Text::CannotWrite);
        return;
    }
    ReplaceGuard guard(pending);
    FILE* pDstFile = OpenStream(OpenReplaceTarget(pending), "wb");
    StreamCloser dstCloser{pDstFile};
    if (pDstFile == nullptr) {
        reporter.Box(szDstFile, Text::CannotWrite);
        return;
    }

    // Both streams belong to this command alone on the dialog's one thread, so
    // the byte operations skip the stream locks (about three times faster).
    bool fWriteFailed = false;
    int ch;
    while ((ch = getc_unlocked(pSrcFile)) != EOF) {
        if (putc_unlocked(ch, pDstFile) == EOF) {
            fWriteFailed = true;
            break;
        }
    }
    const bool fReadFailed = std::ferror(pSrcFile) != 0;
    std::fclose(pSrcFile);
    pSrcFile = nullptr;
    // Closing flushes the stream's buffer: its result is the last write's.
    if (std::fclose(pDstFile) != 0) fWriteFailed = true;
    pDstFile = nullptr;

    if (fReadFailed) {
        reporter.Box(szSrcFile, Text::CannotRead);
        return;
    }
    if (fWriteFailed || !CommitReplace(pending)) {
        reporter.Box(szDstFile, Text::CannotWrite);
        return;
    }
    reporter.Message(Text::Success);
}
