// The program's shell: the entry, the main dialog and its command handlers.
#pragma once

#include "platform/wintypes.h"

// Runs the main dialog until it is closed; returns the exit status (0).
int WavtrnMain();

INT_PTR MainDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

// Reads a path field into buffer (kPathChars bytes). A text that does not fit is
// refused with a message and false; an empty field gives true and "".
bool ReadPathField(HWND hDlg, int id, char* buffer);

// TEST, COPY and CPY2 on the files named in the two path fields.
void OnTest(HWND hDlg);
void OnCopy(HWND hDlg);
void OnCpy2(HWND hDlg);

// Writes the description of the source file's format into the source-format
// label. A file that cannot be opened changes nothing.
void ShowSourceFormat(const char* path, HWND hDlg);
