#include "app/dialog.h"

#include "app/message_boxes.h"
#include "app/several.h"
#include "diag/diag.h"
#include "platform/acm/acm.h"
#include "platform/acm/chooser.h"
#include "platform/window/window.h"
#include "res/resource.h"
#include "wave/convert.h"
#include "wave/waveio.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

// Dialog state, alive from initialisation to close.
DWORD cbwfxMax = 0;
WAVEFORMATEX* pwfxDst = nullptr;
OPENFILENAMEA ofn;
bool fFormatChosen = false;      // pwfxDst holds a format the user chose

// A path longer than the platform's limit is refused, never cut and used.
void RefuseLongPath() {
    std::snprintf(szMessage, sizeof szMessage, DialogText(Text::PathTooLong), static_cast<unsigned long>(kPathChars - 1));
    ShowMessage(szMessage);
}

// Describes the source in the source-format label. A file that cannot be
// opened (missing, a folder) or fails its check clears the label, so that it
// never describes another file.
void DescribeSource(HWND hDlg, const char* szSrc) {
    if (ShowSourceFormat(szSrc, hDlg) != SourceFormat::Described) SetDlgItemTextA(hDlg, IDC_SRCFORMAT, "");
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
    ConversionReporter reporter(hDlg, szSrc, szDst, fFormatChosen);
    const int result = ConvertWave(szSrc, szDst, pwfxDst, reporter);
    reporter.Finish();
    if (result == 0) reporter.ShowText(DialogText(Text::Success));
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

// Describes the path in the source field, unless the field is empty.
void DescribeSourceField(HWND hDlg) {
    char szSrc[kPathChars];
    if (!ReadPathField(hDlg, IDC_SRCFILE, szSrc)) return;
    if (szSrc[0] != '\0') DescribeSource(hDlg, szSrc);
}

// Cuts a path to its folder: "/a/b.wav" gives "/a", "b.wav" gives ".". False
// for an empty path.
bool CutToFolder(char* szPath) {
    if (szPath[0] == '\0') return false;
    char* slash = std::strrchr(szPath, '/');
    if (slash == nullptr) std::strcpy(szPath, ".");
    else slash[slash == szPath ? 1 : 0] = '\0';
    return true;
}

// The folder of the path in a field, when that folder exists.
bool FieldFolder(HWND hDlg, int id, char* szFolder) {
    if (GetWindowTextLengthA(GetDlgItem(hDlg, id)) >= kPathChars) return false;
    GetDlgItemTextA(hDlg, id, szFolder, kPathChars);
    std::error_code ec;
    return CutToFolder(szFolder) && std::filesystem::is_directory(szFolder, ec);
}

// A picker opens in the folder of the path in its own field, else in that of
// the other field; with neither, where the window service's picker opens on
// its own (the last folder used).
const char* PickerFolder(HWND hDlg, int idOwn, int idOther, char* szFolder) {
    if (FieldFolder(hDlg, idOwn, szFolder) || FieldFolder(hDlg, idOther, szFolder)) return szFolder;
    return nullptr;
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

// Puts a chosen or dropped source into the source field and describes it.
void TakeSource(HWND hDlg, const char* szFile) {
    SetDlgItemTextA(hDlg, IDC_SRCFILE, szFile);
    if (szFile[0] != '\0') DescribeSource(hDlg, szFile);
}

void OnSourceBrowse(HWND hDlg) {
    char szFile[kPathChars];
    char szFileTitle[256];
    char szFolder[kPathChars];
    PreparePicker(hDlg, szFile, szFileTitle, sizeof szFileTitle);
    ofn.lpstrTitle = DialogText(Text::SourcePickerTitle);
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    ofn.lpstrInitialDir = PickerFolder(hDlg, IDC_SRCFILE, IDC_DSTFILE, szFolder);
    if (!GetOpenFileNameA(&ofn)) return;
    TakeSource(hDlg, szFile);
}

void OnDestinationBrowse(HWND hDlg) {
    char szFile[kPathChars];
    char szFileTitle[256];
    char szFolder[kPathChars];
    PreparePicker(hDlg, szFile, szFileTitle, sizeof szFileTitle);
    ofn.lpstrTitle = DialogText(Text::DestinationPickerTitle);
    ofn.Flags = OFN_HIDEREADONLY;
    ofn.lpstrInitialDir = PickerFolder(hDlg, IDC_DSTFILE, IDC_SRCFILE, szFolder);
    if (!GetSaveFileNameA(&ofn)) return;
    SetDlgItemTextA(hDlg, IDC_DSTFILE, szFile);
}

void OnChooseFormat(HWND hDlg);

// Several files at once: each is converted into a folder the user picks, in
// the format chosen, which the chooser asks for first when none is.
void OnSeveralFiles(HWND hDlg, const std::vector<std::string>& vSources) {
    char szFolder[kPathChars];
    if (!PickFolderFor(hDlg, vSources, szFolder)) return;
    if (!fFormatChosen) OnChooseFormat(hDlg);
    if (!fFormatChosen) return;
    ConvertSeveral(hDlg, vSources, szFolder, pwfxDst);
}

// A file dropped on the destination field names the destination; one dropped
// anywhere else on the dialog is the new source. Several files dropped
// together are converted into a folder, wherever they were dropped.
void OnDropFiles(HWND hDlg, HDROP hDrop, HWND hTarget) {
    const UINT cFiles = DragQueryFileA(hDrop, 0xFFFFFFFFu, nullptr, 0);
    if (cFiles == 0) return;
    std::vector<std::string> vFiles;
    char szFile[kPathChars];
    for (UINT i = 0; i < cFiles; ++i) {
        if (DragQueryFileA(hDrop, i, nullptr, 0) >= static_cast<UINT>(kPathChars)) return RefuseLongPath();
        DragQueryFileA(hDrop, i, szFile, kPathChars);
        vFiles.emplace_back(szFile);
    }
    if (cFiles > 1) return OnSeveralFiles(hDlg, vFiles);
    if (hTarget != nullptr && hTarget == GetDlgItem(hDlg, IDC_DSTFILE)) SetDlgItemTextA(hDlg, IDC_DSTFILE, szFile);
    else TakeSource(hDlg, szFile);
}

// Reads the format of the source the dialog has described (its label holds
// the description); false when there is none.
bool DescribedSourceFormat(HWND hDlg, FormatBlock& pwfxSrc) {
    char szSrc[kPathChars];
    if (GetWindowTextLengthA(GetDlgItem(hDlg, IDC_SRCFORMAT)) == 0) return false;
    if (GetWindowTextLengthA(GetDlgItem(hDlg, IDC_SRCFILE)) >= kPathChars) return false;
    GetDlgItemTextA(hDlg, IDC_SRCFILE, szSrc, kPathChars);
    return szSrc[0] != '\0' && ReadSourceFormatOf(szSrc, pwfxSrc);
}

void OnChooseFormat(HWND hDlg) {
    if (pwfxDst == nullptr) return;
    ACMFORMATCHOOSEA afc;
    std::memset(&afc, 0, sizeof afc);
    afc.cbStruct = sizeof afc;
    afc.hwndOwner = hDlg;
    afc.pwfx = pwfxDst;
    afc.cbwfx = cbwfxMax;
    // The chooser also lists the source's own rate and channel count.
    FormatBlock pwfxSrc;
    if (DescribedSourceFormat(hDlg, pwfxSrc)) {
        afc.fdwEnum = ACM_FORMATENUMF_CONVERT;
        afc.pwfxEnum = pwfxSrc.get();
    }
    if (acmFormatChooseA(&afc) != MMSYSERR_NOERROR) return;
    fFormatChosen = true;
    char szFormat[260];
    std::snprintf(szFormat, sizeof szFormat, "%s(%s)", afc.szFormatTag, afc.szFormat);
    SetDlgItemTextA(hDlg, IDC_DSTFORMAT, szFormat);
}

}  // namespace

void OnTest(HWND hDlg) { OnDiagnostic(hDlg, TestFiles); }
void OnCopy(HWND hDlg) { OnDiagnostic(hDlg, CopyWholeFile); }
void OnCpy2(HWND hDlg) { OnDiagnostic(hDlg, CopyByteByByte); }

SourceFormat ShowSourceFormat(const char* path, HWND hDlg) {
    DialogReporter reporter(hDlg, path);
    std::string description;
    const SourceFormat result = DescribeSourceFormat(path, reporter, description);
    if (result == SourceFormat::Described) SetDlgItemTextA(hDlg, IDC_SRCFORMAT, description.c_str());
    return result;
}

bool ReadPathField(HWND hDlg, int id, char* buffer) {
    buffer[0] = '\0';
    if (GetWindowTextLengthA(GetDlgItem(hDlg, id)) >= kPathChars) {
        RefuseLongPath();
        return false;
    }
    GetDlgItemTextA(hDlg, id, buffer, kPathChars);
    return true;
}

INT_PTR MainDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &cbwfxMax);
        // Never smaller than a bare format block: the conversion reads 18 bytes of it.
        cbwfxMax = std::max<DWORD>(cbwfxMax, sizeof(WAVEFORMATEX));
        pwfxDst = static_cast<WAVEFORMATEX*>(std::calloc(1, cbwfxMax));
        fFormatChosen = false;
        // The init parameter is the list of sources to start with, or null.
        const auto* pvSources = reinterpret_cast<const std::vector<std::string>*>(lParam);
        if (pvSources != nullptr && pvSources->size() == 1 && !pvSources->front().empty()) {
            SetDlgItemTextA(hDlg, IDC_SRCFILE, pvSources->front().c_str());
            DescribeSourceField(hDlg);
        }
        if (pvSources != nullptr && pvSources->size() > 1) PostDropFiles(hDlg, *pvSources);
        SetFocus(GetDlgItem(hDlg, IDC_SRCFILE));
        return FALSE;
    }

    case WM_DROPFILES:
        OnDropFiles(hDlg, reinterpret_cast<HDROP>(wParam), reinterpret_cast<HWND>(lParam));
        return TRUE;

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK: OnExecute(hDlg); return TRUE;
        case IDCANCEL:
            std::free(pwfxDst);
            pwfxDst = nullptr;
            EndDialog(hDlg, static_cast<INT_PTR>(wParam));
            return TRUE;
        case IDC_SRCFILE:
            if (HIWORD(wParam) == EN_KILLFOCUS) DescribeSourceField(hDlg);
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

int WavtrnMain(const std::vector<std::string>& vSources) {
    DialogBoxParamA(nullptr, "WAVTRN", nullptr, MainDlgProc, reinterpret_cast<LPARAM>(&vSources));
    return 0;
}
