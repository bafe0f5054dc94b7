#include "app/dialog.h"

#include "app/report.h"
#include "diag/diag.h"
#include "platform/acm/acm.h"
#include "platform/window/window.h"
#include "res/resource.h"
#include "wave/convert.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Dialog state, alive from initialisation to close.
DWORD cbwfxMax = 0;
WAVEFORMATEX* pwfxDst = nullptr;
OPENFILENAMEA ofn;

// Describes the source in the source-format label. A file that fails its check
// clears the label, so that it never describes another file.
void DescribeSource(HWND hDlg, const char* szSrc) {
    if (ShowSourceFormat(szSrc, hDlg) == SourceFormat::FailedCheck) SetDlgItemTextA(hDlg, IDC_SRCFORMAT, "");
}

void OnExecute(HWND hDlg) {
    char szSrc[kPathChars];
    char szDst[kPathChars];
    if (!ReadPathField(hDlg, IDC_SRCFILE, szSrc) || !ReadPathField(hDlg, IDC_DSTFILE, szDst)) return;
    if (pwfxDst == nullptr) {
        ShowMessage(DialogText(Text::NoFormatBlock));
        return;
    }
    // The reporter closes the progress window before it shows "success".
    ConversionReporter reporter(hDlg, szSrc);
    if (ConvertWave(szSrc, szDst, pwfxDst, reporter) == 0) reporter.ShowText(DialogText(Text::Success));
}

// TEST, COPY and CPY2 on the two path fields.
void OnDiagnostic(HWND hDlg, void (*command)(const char*, const char*, Reporter&)) {
    char szSrcFile[kPathChars];
    char szDstFile[kPathChars];
    if (!ReadPathField(hDlg, IDC_SRCFILE, szSrcFile)) return;
    if (!ReadPathField(hDlg, IDC_DSTFILE, szDstFile)) return;
    DialogReporter reporter(hDlg);
    command(szSrcFile, szDstFile, reporter);
}

void OnSourceKillFocus(HWND hDlg) {
    char szSrc[kPathChars];
    if (!ReadPathField(hDlg, IDC_SRCFILE, szSrc)) return;
    if (szSrc[0] != '\0') DescribeSource(hDlg, szSrc);
}

void PreparePicker(HWND hDlg, char* szFile, char* szFileTitle, int cchFileTitle) {
    std::memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hDlg;
    ofn.lpstrFilter = DialogText(Text::FilterList);
    ofn.nFilterIndex = 1;
    szFile[0] = '\0';
    ofn.lpstrFile = szFile;
    ofn.nMaxFile = kPathChars;
    ofn.lpstrFileTitle = szFileTitle;
    ofn.nMaxFileTitle = static_cast<DWORD>(cchFileTitle);
}

void OnSourceBrowse(HWND hDlg) {
    char szFile[kPathChars];
    char szFileTitle[256];
    PreparePicker(hDlg, szFile, szFileTitle, sizeof szFileTitle);
    ofn.lpstrTitle = DialogText(Text::SourcePickerTitle);
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) return;
    SetDlgItemTextA(hDlg, IDC_SRCFILE, szFile);
    if (szFile[0] != '\0') {
        char szSrc[kPathChars];
        std::strcpy(szSrc, szFile);
        DescribeSource(hDlg, szSrc);
    }
}

void OnDestinationBrowse(HWND hDlg) {
    char szFile[kPathChars];
    char szFileTitle[256];
    PreparePicker(hDlg, szFile, szFileTitle, sizeof szFileTitle);
    ofn.lpstrTitle = DialogText(Text::DestinationPickerTitle);
    ofn.Flags = OFN_HIDEREADONLY;
    if (!GetSaveFileNameA(&ofn)) return;
    SetDlgItemTextA(hDlg, IDC_DSTFILE, szFile);
}

void OnChooseFormat(HWND hDlg) {
    if (pwfxDst == nullptr) return;
    ACMFORMATCHOOSEA afc;
    std::memset(&afc, 0, sizeof afc);
    afc.cbStruct = sizeof afc;
    afc.hwndOwner = hDlg;
    afc.pwfx = pwfxDst;
    afc.cbwfx = cbwfxMax;
    if (acmFormatChooseA(&afc) != MMSYSERR_NOERROR) return;
    char szFormat[260];
    std::snprintf(szFormat, sizeof szFormat, "%s(%s)", afc.szFormatTag, afc.szFormat);
    SetDlgItemTextA(hDlg, IDC_DSTFORMAT, szFormat);
}

}  // namespace

void OnTest(HWND hDlg) { OnDiagnostic(hDlg, TestFiles); }
void OnCopy(HWND hDlg) { OnDiagnostic(hDlg, CopyWholeFile); }
void OnCpy2(HWND hDlg) { OnDiagnostic(hDlg, CopyByteByByte); }

SourceFormat ShowSourceFormat(const char* path, HWND hDlg) {
    DialogReporter reporter(hDlg);
    std::string description;
    const SourceFormat result = DescribeSourceFormat(path, reporter, description);
    if (result == SourceFormat::Described) SetDlgItemTextA(hDlg, IDC_SRCFORMAT, description.c_str());
    return result;
}

bool ReadPathField(HWND hDlg, int id, char* buffer) {
    buffer[0] = '\0';
    if (GetWindowTextLengthA(GetDlgItem(hDlg, id)) >= kPathChars) {
        std::snprintf(szMessage, sizeof szMessage, DialogText(Text::PathTooLong), static_cast<unsigned long>(kPathChars - 1));
        ShowMessage(szMessage);
        return false;
    }
    GetDlgItemTextA(hDlg, id, buffer, kPathChars);
    return true;
}

INT_PTR MainDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &cbwfxMax);
        // Never smaller than a bare format block: the conversion reads 18 bytes of it.
        cbwfxMax = std::max<DWORD>(cbwfxMax, sizeof(WAVEFORMATEX));
        pwfxDst = static_cast<WAVEFORMATEX*>(std::calloc(1, cbwfxMax));
        SetFocus(GetDlgItem(hDlg, IDC_SRCFILE));
        return FALSE;

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: OnExecute(hDlg); return TRUE;
        case IDCANCEL:
            std::free(pwfxDst);
            pwfxDst = nullptr;
            EndDialog(hDlg, static_cast<INT_PTR>(wParam));
            return TRUE;
        case IDC_SRCFILE:
            if (HIWORD(wParam) == EN_KILLFOCUS) OnSourceKillFocus(hDlg);
            return TRUE;
        case IDC_SRCBROWSE: OnSourceBrowse(hDlg); return TRUE;
        case IDC_DSTBROWSE: OnDestinationBrowse(hDlg); return TRUE;
        case IDC_CHOOSEFORMAT: OnChooseFormat(hDlg); return TRUE;
        case IDC_TEST: OnTest(hDlg); return TRUE;
        case IDC_COPY: OnCopy(hDlg); return TRUE;
        case IDC_CPY2: OnCpy2(hDlg); return TRUE;
        default: return FALSE;
        }

    default: return FALSE;
    }
}

int WavtrnMain() {
    DialogBoxParamA(nullptr, "WAVTRN", nullptr, MainDlgProc, 0);
    return 0;
}
