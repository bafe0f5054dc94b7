// Several files at once: each source converted into one folder under its own
// name, with one progress window for them all and a closing box that lists
// what was converted, skipped and failed, with the reason for each failure.
#pragma once

#include "platform/acm/acm.h"
#include "platform/wintypes.h"

#include <string>
#include <vector>

// Asks for the destination folder in a folder picker that opens in the first
// source's folder. True when a folder was chosen; it is then in szFolder
// (kPathChars bytes).
bool PickFolderFor(HWND hDlg, const std::vector<std::string>& vSources, char* szFolder);

// Converts each source into szFolder/<its name> in the format pwfxDst. When
// names there exist, one question decides: replace them all, skip them, or
// convert nothing. A cancel in the progress window stops after the current
// file's temporary file is removed; the files converted before it stay.
void ConvertSeveral(HWND hDlg, const std::vector<std::string>& vSources, const char* szFolder,
                    const WAVEFORMATEX* pwfxDst);
