#include "platform/window/window.h"

#include "res/dialog_template.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Without a window system: boxes go to standard error, pickers and the chooser
// are cancelled. The command-line companion relies on this.
class ConsoleBackend final : public WindowBackend {
public:
    INT_PTR RunDialog(const DialogTemplate&, DLGPROC, LPARAM) override { return -1; }
    HWND ControlHandle(HWND, int) override { return nullptr; }
    std::string ControlText(HWND) override { return {}; }
    bool SetControlText(HWND, std::string_view) override { return false; }
    HWND SetFocus(HWND) override { return nullptr; }
    void EndDialog(HWND, INT_PTR) override {}
    void MessageBox(HWND, std::string_view text, std::string_view caption, UINT) override {
        std::string line(caption);
        line += ": ";
        line += text;
        while (!line.empty() && line.back() == '\n') line.pop_back();
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    }
    std::optional<std::string> PickFile(const FilePickerRequest&) override { return std::nullopt; }
    std::optional<FormatChoice> ChooseFormat(HWND, const FormatChooserModel&) override { return std::nullopt; }
};

ConsoleBackend gConsoleBackend;
WindowBackend* gBackend = nullptr;

BOOL RunPicker(OPENFILENAMEA* ofn, bool save) {
    if (ofn == nullptr || ofn->lpstrFile == nullptr || ofn->nMaxFile == 0) return FALSE;
    FilePickerRequest request;
    request.save = save;
    request.owner = ofn->hwndOwner;
    request.title = ofn->lpstrTitle != nullptr ? ofn->lpstrTitle : "";
    request.filters = SplitFilterList(ofn->lpstrFilter);
    request.filterIndex = ofn->nFilterIndex > 0 ? static_cast<int>(ofn->nFilterIndex) - 1 : 0;
    request.mustExist = (ofn->Flags & OFN_FILEMUSTEXIST) != 0;
    if (ofn->lpstrInitialDir != nullptr) request.initialDir = ofn->lpstrInitialDir;
    const std::optional<std::string> path = GetWindowBackend().PickFile(request);
    if (!path || path->size() + 1 > ofn->nMaxFile) return FALSE;
    std::memcpy(ofn->lpstrFile, path->c_str(), path->size() + 1);
    const auto slash = path->find_last_of('/');
    ofn->nFileOffset = static_cast<WORD>(slash == std::string::npos ? 0 : std::min<std::size_t>(slash + 1, 0xFFFF));
    if (ofn->lpstrFileTitle != nullptr && ofn->nMaxFileTitle > 0) {
        const std::string title = path->substr(ofn->nFileOffset);
        const std::size_t n = std::min<std::size_t>(title.size(), ofn->nMaxFileTitle - 1);
        std::memcpy(ofn->lpstrFileTitle, title.data(), n);
        ofn->lpstrFileTitle[n] = '\0';
    }
    return TRUE;
}

}  // namespace

void SetWindowBackend(WindowBackend* backend) { gBackend = backend; }

WindowBackend& GetWindowBackend() { return gBackend != nullptr ? *gBackend : gConsoleBackend; }

std::vector<std::pair<std::string, std::string>> SplitFilterList(const char* list) {
    std::vector<std::pair<std::string, std::string>> pairs;
    if (list == nullptr) return pairs;
    while (*list != '\0') {
        std::string text = list;
        list += text.size() + 1;
        if (*list == '\0') break;
        std::string pattern = list;
        list += pattern.size() + 1;
        pairs.emplace_back(std::move(text), std::move(pattern));
    }
    return pairs;
}

INT_PTR DialogBoxParamA(HINSTANCE, const char* lpTemplateName, HWND, DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    const DialogTemplate* tmpl = FindDialogTemplate(lpTemplateName);
    if (tmpl == nullptr || lpDialogFunc == nullptr) return -1;
    return GetWindowBackend().RunDialog(*tmpl, lpDialogFunc, dwInitParam);
}

HWND GetDlgItem(HWND hDlg, int nIDDlgItem) { return GetWindowBackend().ControlHandle(hDlg, nIDDlgItem); }

UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, char* lpString, int cchMax) {
    if (lpString == nullptr || cchMax <= 0) return 0;
    const HWND control = GetDlgItem(hDlg, nIDDlgItem);
    const std::string text = control != nullptr ? GetWindowBackend().ControlText(control) : std::string();
    const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(cchMax - 1));
    std::memcpy(lpString, text.data(), n);
    lpString[n] = '\0';
    return static_cast<UINT>(n);
}

int GetWindowTextLengthA(HWND hWnd) {
    if (hWnd == nullptr) return 0;
    return static_cast<int>(GetWindowBackend().ControlText(hWnd).size());
}

BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, const char* lpString) {
    const HWND control = GetDlgItem(hDlg, nIDDlgItem);
    if (control == nullptr) return FALSE;
    return GetWindowBackend().SetControlText(control, lpString != nullptr ? lpString : "") ? TRUE : FALSE;
}

HWND SetFocus(HWND hWnd) { return GetWindowBackend().SetFocus(hWnd); }

BOOL EndDialog(HWND hDlg, INT_PTR nResult) {
    if (hDlg == nullptr) return FALSE;
    GetWindowBackend().EndDialog(hDlg, nResult);
    return TRUE;
}

int MessageBoxA(HWND hWnd, const char* lpText, const char* lpCaption, UINT uType) {
    GetWindowBackend().MessageBox(hWnd, lpText != nullptr ? lpText : "", lpCaption != nullptr ? lpCaption : kDefaultCaption,
                                  uType);
    return IDOK;
}

BOOL GetOpenFileNameA(OPENFILENAMEA* lpofn) { return RunPicker(lpofn, false); }

BOOL BrowseForFolderA(HWND hwndOwner, const char* lpszTitle, const char* lpszInitialDir, char* pszFolder,
                      DWORD cchFolder) {
    if (pszFolder == nullptr || cchFolder == 0) return FALSE;
    FilePickerRequest request;
    request.owner = hwndOwner;
    request.title = lpszTitle != nullptr ? lpszTitle : "";
    request.mustExist = true;
    request.folder = true;
    if (lpszInitialDir != nullptr) request.initialDir = lpszInitialDir;
    const std::optional<std::string> path = GetWindowBackend().PickFile(request);
    if (!path || path->size() + 1 > cchFolder) return FALSE;
    std::memcpy(pszFolder, path->c_str(), path->size() + 1);
    return TRUE;
}

int QuestionBoxA(HWND hWnd, const char* lpText, const char* lpCaption, const char* const* lpButtons, int cButtons) {
    std::vector<std::string> buttons;
    for (int i = 0; lpButtons != nullptr && i < cButtons; ++i)
        buttons.emplace_back(lpButtons[i] != nullptr ? lpButtons[i] : "");
    if (buttons.empty()) return -1;
    const int answer = GetWindowBackend().Ask(hWnd, lpText != nullptr ? lpText : "",
                                              lpCaption != nullptr ? lpCaption : kDefaultCaption, buttons);
    return answer >= 0 && answer < cButtons ? answer : cButtons - 1;
}

BOOL GetSaveFileNameA(OPENFILENAMEA* lpofn) { return RunPicker(lpofn, true); }

UINT DragQueryFileA(HDROP hDrop, UINT iFile, char* lpszFile, UINT cch) {
    if (hDrop == nullptr) return 0;
    if (iFile == 0xFFFFFFFFu) return static_cast<UINT>(hDrop->files.size());
    if (iFile >= hDrop->files.size()) return 0;
    const std::string& file = hDrop->files[iFile];
    if (lpszFile == nullptr) return static_cast<UINT>(file.size());
    if (cch == 0) return 0;
    const std::size_t n = std::min<std::size_t>(file.size(), cch - 1);
    std::memcpy(lpszFile, file.data(), n);
    lpszFile[n] = '\0';
    return static_cast<UINT>(n);
}

BOOL PostDropFiles(HWND hDlg, const std::vector<std::string>& files) {
    return hDlg != nullptr && !files.empty() && GetWindowBackend().PostDrop(hDlg, files) ? TRUE : FALSE;
}

void BeginProgress(HWND hWndOwner, const char* lpszText) {
    GetWindowBackend().BeginProgress(hWndOwner, lpszText != nullptr ? lpszText : "");
}

BOOL UpdateProgress(std::uint64_t done, std::uint64_t total) {
    return GetWindowBackend().UpdateProgress(done, total) ? TRUE : FALSE;
}

void EndProgress() { GetWindowBackend().EndProgress(); }

void SetProgressText(const char* lpszText) { GetWindowBackend().SetProgressText(lpszText != nullptr ? lpszText : ""); }
