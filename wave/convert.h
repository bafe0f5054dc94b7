// Describing a source WAVE file and converting it into a new WAVE file.
#pragma once

#include "platform/acm/acm.h"
#include "platform/wintypes.h"

// Writes the tag name and format name of the file's format into the dialog's
// source-format label. A file that cannot be opened changes nothing.
void ShowSourceFormat(const char* path, HWND hDlg);

// Converts the source WAVE file into destination in the format pwfxDst.
// Returns 0 when the conversion completed and the destination is in place;
// otherwise the failure has been shown, nothing was left behind and an
// existing destination is as it was.
int ConvertWave(const char* sourcePath, const char* destinationPath, const WAVEFORMATEX* pwfxDst);

// Shows the name of the five codec-service failures the program tells apart and
// returns true for them (the caller abandons); returns false for every other code.
bool CheckMmResult(MMRESULT mmr);
