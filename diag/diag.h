// File diagnostics: identity comparison (TEST) and the two copies (COPY, CPY2),
// on two paths, reporting through the caller's reporter.
#pragma once

#include "core/reporter.h"
#include "platform/wintypes.h"

// 0 same file, 1 first path not opened, 2 second path not opened, 3 different.
LONG CompareFileInfo(const char* firstPath, const char* secondPath, Reporter& reporter);

// TEST: every field of both identity records, then "同一" or "違う".
void TestFiles(const char* szSrcFile, const char* szDstFile, Reporter& reporter);
// COPY: the whole-file copy, replacing an existing destination.
void CopyWholeFile(const char* szSrcFile, const char* szDstFile, Reporter& reporter);
// CPY2: the byte-by-byte copy through buffered streams.
void CopyByteByByte(const char* szSrcFile, const char* szDstFile, Reporter& reporter);
