// Reading the head of a source WAVE file and describing its format.
#include "app/report.h"
#include "platform/window/window.h"
#include "res/resource.h"
#include "wave/convert.h"
#include "wave/waveio.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

bool ReadSourceFormat(HMMIO hSrcWaveFile, MMCKINFO& SrcWaveFile, MMCKINFO& SrcWaveFmt, FormatBlock& pwfxSrc) {
    mmioDescend(hSrcWaveFile, &SrcWaveFile, nullptr, 0);
    REQUIRE(SrcWaveFile.ckid==mmioStringToFOURCC("RIFF",MMIO_TOUPPER), false);
    REQUIRE(SrcWaveFile.fccType==mmioStringToFOURCC("WAVE",MMIO_TOUPPER), false);

    mmioDescend(hSrcWaveFile, &SrcWaveFmt, &SrcWaveFile, 0);
    REQUIRE(SrcWaveFmt.ckid==mmioStringToFOURCC("fmt ",0), false);
    // No format block is longer than a WAVEFORMATEX with 65535 extra bytes.
    REQUIRE(SrcWaveFmt.cksize<=sizeof(WAVEFORMATEX)+0xFFFF, false);

    // The block is never shorter than a WAVEFORMATEX; bytes the chunk or the
    // file does not hold stay zero, so a 16-byte PCM chunk gets cbSize 0.
    pwfxSrc.bytes.assign(std::max<DWORD>(SrcWaveFmt.cksize, sizeof(WAVEFORMATEX)), 0);
    mmioRead(hSrcWaveFile, reinterpret_cast<char*>(pwfxSrc.bytes.data()), static_cast<LONG>(SrcWaveFmt.cksize));
    WAVEFORMATEX* pwfx = pwfxSrc.get();
    const DWORD cbExtraHeld = pwfxSrc.size() - sizeof(WAVEFORMATEX);
    if (pwfx->cbSize > cbExtraHeld) pwfx->cbSize = static_cast<WORD>(cbExtraHeld);

    mmioAscend(hSrcWaveFile, &SrcWaveFmt, 0);
    return true;
}

void ShowSourceFormat(const char* path, HWND hDlg) {
    MmioFile hSrcWaveFile(mmioOpenA(path, nullptr, MMIO_READ));
    if (!hSrcWaveFile) return;

    MMCKINFO SrcWaveFile{};
    MMCKINFO SrcWaveFmt{};
    FormatBlock pwfxSrc;
    if (!ReadSourceFormat(hSrcWaveFile.get(), SrcWaveFile, SrcWaveFmt, pwfxSrc)) return;

    ACMFORMATTAGDETAILSA aftd{};
    aftd.cbStruct = sizeof aftd;
    aftd.dwFormatTag = pwfxSrc.get()->wFormatTag;
    if (acmFormatTagDetailsA(nullptr, &aftd, ACM_FORMATTAGDETAILSF_FORMATTAG) == 0) {
        std::snprintf(szMessage, sizeof szMessage, "%.*s", static_cast<int>(sizeof aftd.szFormatTag),
                      aftd.szFormatTag);
    } else {
        std::snprintf(szMessage, sizeof szMessage, "unknown");
    }
    std::strncat(szMessage, " ", sizeof szMessage - std::strlen(szMessage) - 1);

    ACMFORMATDETAILSA afd{};
    afd.cbStruct = sizeof afd;
    afd.dwFormatTag = pwfxSrc.get()->wFormatTag;
    afd.pwfx = pwfxSrc.get();
    afd.cbwfx = pwfxSrc.size();
    char szFormat[ACMFORMATDETAILS_FORMAT_CHARS + 1] = "unknown";
    if (acmFormatDetailsA(nullptr, &afd, ACM_FORMATDETAILSF_FORMAT) == 0) {
        std::snprintf(szFormat, sizeof szFormat, "%.*s", static_cast<int>(sizeof afd.szFormat), afd.szFormat);
    }
    std::strncat(szMessage, szFormat, sizeof szMessage - std::strlen(szMessage) - 1);

    SetDlgItemTextA(hDlg, IDC_SRCFORMAT, szMessage);
}
