// Window, dialog, message-box and file-picker services.
//
// The program calls the plain functions below; they forward to the current
// backend: the Qt 6 Widgets backend for the real program, the scripted backend
// in tests, a console backend for the command-line companion.
#pragma once

#include "platform/wintypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct DialogTemplate;

constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_DROPFILES = 0x0233;
constexpr WORD BN_CLICKED = 0;
constexpr WORD EN_KILLFOCUS = 0x0200;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_ICONHAND = 0x10;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONMASK = 0xF0;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr UINT MB_SETFOREGROUND = 0x10000;

using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// Runs a modal dialog built from the named template; returns the value given to
// EndDialog, or -1 when the dialog cannot be created.
INT_PTR DialogBoxParamA(HINSTANCE hInstance, const char* lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                        LPARAM dwInitParam);
// Copies at most cchMax - 1 characters (bytes) of the control's text and a terminator;
// returns the number copied.
UINT GetDlgItemTextA(HWND hDlg, int nIDDlgItem, char* lpString, int cchMax);
BOOL SetDlgItemTextA(HWND hDlg, int nIDDlgItem, const char* lpString);
// Length of a control's text in bytes, without the terminator.
int GetWindowTextLengthA(HWND hWnd);
HWND GetDlgItem(HWND hDlg, int nIDDlgItem);
// Moves the keyboard focus; returns the control that had it.
HWND SetFocus(HWND hWnd);
BOOL EndDialog(HWND hDlg, INT_PTR nResult);
// A null caption gives the default caption, kDefaultCaption. Only MB_OK boxes exist; returns IDOK.
int MessageBoxA(HWND hWnd, const char* lpText, const char* lpCaption, UINT uType);
inline constexpr const char* kDefaultCaption = "WAVTRN";

constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;

struct OPENFILENAMEA {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    const char* lpstrFilter;  // pairs of terminated texts, ended by an empty text
    char* lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;  // 1-based
    char* lpstrFile;
    DWORD nMaxFile;
    char* lpstrFileTitle;
    DWORD nMaxFileTitle;
    const char* lpstrInitialDir;
    const char* lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    const char* lpstrDefExt;
    LPARAM lCustData;
    void* lpfnHook;
    const char* lpTemplateName;
};

// Return nonzero when the user confirmed a path that fits the record's buffer;
// the path is then in lpstrFile and its last component in lpstrFileTitle.
BOOL GetOpenFileNameA(OPENFILENAMEA* lpofn);
BOOL GetSaveFileNameA(OPENFILENAMEA* lpofn);

// A picker of an existing folder, opening in lpszInitialDir (null: the
// backend's choice). Nonzero when the user confirmed a folder whose path fits
// cchFolder bytes; the path is then in pszFolder.
BOOL BrowseForFolderA(HWND hwndOwner, const char* lpszTitle, const char* lpszInitialDir, char* pszFolder,
                      DWORD cchFolder);

// A question box with the question icon and a button for each of the cButtons
// texts, the last one answering Escape and the window's close button. Returns
// the 0-based index of the button pressed.
int QuestionBoxA(HWND hWnd, const char* lpText, const char* lpCaption, const char* const* lpButtons, int cButtons);

// What a backend needs to show a file picker.
struct FilePickerRequest {
    bool save = false;
    HWND owner = nullptr;
    std::string title;
    std::vector<std::pair<std::string, std::string>> filters;  // (text, patterns separated by ';')
    int filterIndex = 0;  // 0-based
    bool mustExist = false;
    bool folder = false;  // an existing folder is picked, not a file
    std::string initialDir;  // the folder the picker opens in; empty: the backend's choice
};

// Files dropped on a dialog. WM_DROPFILES carries the drop in wParam and, in
// lParam, the control the files were dropped on (null: the dialog itself). The
// drop belongs to the backend and lives as long as the message.
struct DropFiles {
    std::vector<std::string> files;  // local paths, in the order they were dropped
};
using HDROP = DropFiles*;

// With iFile 0xFFFFFFFF: the number of files. Otherwise the length of file
// iFile's path (without terminator) when lpszFile is null, else the number of
// bytes copied of it into lpszFile (at most cch - 1 and a terminator); 0 for no
// such file.
UINT DragQueryFileA(HDROP hDrop, UINT iFile, char* lpszFile, UINT cch);

// Queues a drop of files on a running dialog, as if they had been dropped on
// it: the procedure receives WM_DROPFILES once the message it is handling (such
// as WM_INITDIALOG) has returned and the dialog is shown. FALSE for no dialog.
BOOL PostDropFiles(HWND hDlg, const std::vector<std::string>& files);

// Progress of one long operation (a conversion), shown by the window service.
// BeginProgress starts the operation's clock. Once it has run for about half a
// second, the backend shows a window over hWndOwner with lpszText (the file's
// name), the share done, the time left and a cancel button; until the end, each
// UpdateProgress lets the owner repaint. FALSE from UpdateProgress means the user
// asked to stop. EndProgress closes the window; one operation at a time.
void BeginProgress(HWND hWndOwner, const char* lpszText);
BOOL UpdateProgress(std::uint64_t done, std::uint64_t total);
void EndProgress();
// Changes the text of the operation under way (one of several files).
void SetProgressText(const char* lpszText);

// What a backend needs to show the codec service's format chooser.
struct FormatChooserModel {
    struct Format {
        std::string name;
        DWORD avgBytesPerSec = 0;
        // What a change of tag keeps where the new tag offers it.
        DWORD samplesPerSec = 0;
        WORD channels = 0;
        WORD bitsPerSample = 0;
        bool floatingPoint = false;  // float samples: listed after the integer ones of the same depth
    };
    struct Tag {
        std::string name;
        std::vector<Format> formats;
    };
    std::vector<Tag> tags;
    int defaultTag = 0;
    int defaultFormat = 0;
};

struct FormatChoice {
    int tag = 0;
    int format = 0;
};

class WindowBackend {
public:
    virtual ~WindowBackend() = default;
    virtual INT_PTR RunDialog(const DialogTemplate& tmpl, DLGPROC proc, LPARAM param) = 0;
    virtual HWND ControlHandle(HWND dialog, int id) = 0;
    virtual std::string ControlText(HWND control) = 0;
    virtual bool SetControlText(HWND control, std::string_view text) = 0;
    virtual HWND SetFocus(HWND control) = 0;
    virtual void EndDialog(HWND dialog, INT_PTR result) = 0;
    virtual void MessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) = 0;
    // A question with a button a text; returns the index pressed. Without a
    // window to ask in, the last button (the one that cancels).
    virtual int Ask(HWND owner, std::string_view text, std::string_view caption,
                    const std::vector<std::string>& buttons) {
        (void)owner;
        (void)text;
        (void)caption;
        return static_cast<int>(buttons.size()) - 1;
    }
    virtual std::optional<std::string> PickFile(const FilePickerRequest& request) = 0;
    virtual std::optional<FormatChoice> ChooseFormat(HWND owner, const FormatChooserModel& model) = 0;
    // Without a window to show, progress is never shown and never cancelled.
    virtual void BeginProgress(HWND owner, std::string_view text) {
        (void)owner;
        (void)text;
    }
    virtual bool UpdateProgress(std::uint64_t done, std::uint64_t total) {
        (void)done;
        (void)total;
        return true;
    }
    virtual void EndProgress() {}
    virtual void SetProgressText(std::string_view text) { (void)text; }
    virtual bool PostDrop(HWND dialog, const std::vector<std::string>& files) {
        (void)dialog;
        (void)files;
        return false;
    }
};

// The backend the functions above use. Without one set, a console backend
// prints message boxes to standard error and cancels pickers and the chooser.
void SetWindowBackend(WindowBackend* backend);
WindowBackend& GetWindowBackend();

// Splits a picker filter list ("text\0pattern\0...\0\0") into pairs.
std::vector<std::pair<std::string, std::string>> SplitFilterList(const char* list);
