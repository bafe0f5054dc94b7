// Describing a source WAVE file and converting it into a new WAVE file.
#pragma once

#include "core/reporter.h"
#include "platform/acm/acm.h"
#include "platform/wintypes.h"

#include <string>

enum class SourceFormat {
    Described,    // the description holds the tag name and the format name
    NotOpened,    // the file cannot be opened; nothing was reported
    FailedCheck,  // the file is no WAVE file this reader takes; the reporter heard why
};

// Names the format the source file holds: the format tag's name, a blank and
// the format's name ("unknown" for either the codec service cannot name).
//   [in]  path         the source file
//   [in]  reporter     hears of a failed check
//   [out] description  the text, when the result is Described
SourceFormat DescribeSourceFormat(const char* path, Reporter& reporter, std::string& description);

// Leaves the source's metadata chunks out of the destination.
constexpr DWORD CONVERTF_NOMETADATA = 0x0001;

// Converts the source WAVE file into destination in the format pwfxDst.
// Returns 0 when the conversion completed and the destination is in place;
// otherwise the failure has been reported, nothing was left behind and an
// existing destination is as it was. The reporter hears the conversion's
// progress and may stop it. The source's metadata chunks follow the
// destination's "data" (and "fact") chunk, their sample positions at the
// destination's rate, unless fdwConvert holds CONVERTF_NOMETADATA.
int ConvertWave(const char* sourcePath, const char* destinationPath, const WAVEFORMATEX* pwfxDst,
                Reporter& reporter, DWORD fdwConvert = 0);

// Reports the name of the five codec-service failures the program tells apart
// and returns true for them (the caller abandons); returns false for every
// other code.
bool CheckMmResult(MMRESULT mmr, Reporter& reporter);
