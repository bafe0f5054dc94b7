// File diagnostics: identity comparison (TEST) and the two copies (COPY, CPY2).
#pragma once

#include "platform/wintypes.h"

// 0 same file, 1 first path not opened, 2 second path not opened, 3 different.
LONG CompareFileInfo(const char* firstPath, const char* secondPath);

void OnTest(HWND hDlg);
void OnCopy(HWND hDlg);
void OnCpy2(HWND hDlg);
