// The program's shell: the entry, the main dialog and its command handlers.
#pragma once

#include "platform/wintypes.h"
#include "wave/convert.h"

#include <string>
#include <vector>

// Runs the main dialog until it is closed; returns the exit status (0). One
// source path given starts the dialog with that file in the source field,
// described; several are taken as if dropped on the dialog together.
int WavtrnMain(const std::vector<std::string>& vSources = {});

INT_PTR MainDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);

// Reads a path field into buffer (kPathChars bytes). A text that does not fit is
// refused with a message and false; an empty field gives true and "".
bool ReadPathField(HWND hDlg, int id, char* buffer);

// TEST, COPY and CPY2 on the files named in the two path fields.
void OnTest(HWND hDlg);
void OnCopy(HWND hDlg);
void OnCpy2(HWND hDlg);

// Writes the description of the source file's format into the source-format
// label and returns how the description went. A file that cannot be opened, or
// fails its check, changes nothing here (the dialog then clears the label).
SourceFormat ShowSourceFormat(const char* path, HWND hDlg);
