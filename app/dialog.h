// The program's shell: the entry, the main dialog and its command handlers.
#pragma once

#include "platform/wintypes.h"

#include <climits>

// Path buffers hold the platform's path limit; a longer field is refused.
constexpr int kPathChars = PATH_MAX;

// Runs the main dialog until it is closed; returns the exit status (0).
int WavtrnMain();

INT_PTR MainDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

// Reads a path field into buffer (kPathChars bytes). A text that does not fit is
// refused with a message and false; an empty field gives true and "".
bool ReadPathField(HWND hDlg, int id, char* buffer);
