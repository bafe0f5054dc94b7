// The format chooser of the codec service: the catalogue shown through the
// window service, the chosen block written back. It lives apart from the rest
// of the service so that a program without a window links none of it.
#pragma once

#include "platform/acm/acm.h"

// fdwStyle: the chooser opens on the format pwfx holds instead of its own default.
constexpr DWORD ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT = 0x40;
// fdwEnum: pwfxEnum is the source the chosen format is converted from; the
// chooser lists PCM and float also at the source's rate and channel count.
constexpr DWORD ACM_FORMATENUMF_CONVERT = 0x00100000;

struct ACMFORMATCHOOSEA {
    DWORD cbStruct;
    DWORD fdwStyle;
    HWND hwndOwner;
    WAVEFORMATEX* pwfx;
    DWORD cbwfx;
    const char* pszTitle;
    char szFormatTag[ACMFORMATTAGDETAILS_FORMATTAG_CHARS];
    char szFormat[ACMFORMATDETAILS_FORMAT_CHARS];
    char* pszName;
    DWORD cchName;
    DWORD fdwEnum;
    WAVEFORMATEX* pwfxEnum;
    HINSTANCE hInstance;
    const char* pszTemplateName;
    LPARAM lCustData;
    void* pfnHook;
};
// Shows the chooser through the window backend. 0: pwfx holds the chosen block and
// szFormatTag / szFormat its names. ACMERR_CANCELED: the user cancelled.
// ACMERR_NOTPOSSIBLE: cbwfx is too small for the chosen block (nothing written).
MMRESULT acmFormatChooseA(ACMFORMATCHOOSEA* pafmtc);
