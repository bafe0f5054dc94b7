// The Qt 6 Widgets window backend: the template dialog, message boxes, file
// pickers, the codec service's format chooser and the progress window of a
// long conversion as real windows.
#pragma once

#include "platform/window/window.h"

#include <csignal>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

class QIcon;
class QSocketNotifier;
class QWidget;
class TemplateDialog;

// Makes the application's default font one that shows Japanese text (Noto Sans
// CJK JP when installed) at a size near a desktop's usual 10 points. Needs a
// QApplication.
void UseDefaultUiFont();

// The program's icon, drawn from the SVG in the program's resources at the sizes
// title bars, task bars and switchers ask for. Needs a QGuiApplication.
QIcon ProgramIcon();

// Shows a window centred over its parent's window, frames included, and on
// the screen. Qt's own placement counts on a window manager's frame: on a bare
// X server it puts the window 10 by 40 pixels off the centre.
void ShowCentred(QWidget& window);
// Shows a window just below its parent's window, centred across it, so that
// the parent's fields stay readable; above it, or over it, when the screen has
// no room below.
void ShowBelow(QWidget& window);

class QtBackend final : public WindowBackend {
public:
    QtBackend();
    ~QtBackend() override;
    QtBackend(const QtBackend&) = delete;
    QtBackend& operator=(const QtBackend&) = delete;

    INT_PTR RunDialog(const DialogTemplate& tmpl, DLGPROC proc, LPARAM param) override;
    HWND ControlHandle(HWND dialog, int id) override;
    std::string ControlText(HWND control) override;
    bool SetControlText(HWND control, std::string_view text) override;
    HWND SetFocus(HWND control) override;
    void EndDialog(HWND dialog, INT_PTR result) override;
    void MessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) override;
    std::optional<std::string> PickFile(const FilePickerRequest& request) override;
    std::optional<FormatChoice> ChooseFormat(HWND owner, const FormatChooserModel& model) override;
    int Ask(HWND owner, std::string_view text, std::string_view caption,
            const std::vector<std::string>& buttons) override;
    // The conversion runs on this thread: every update lets the event loop run
    // once (user input only once the progress window, which holds the dialog,
    // is up).
    void BeginProgress(HWND owner, std::string_view text) override;
    bool UpdateProgress(std::uint64_t done, std::uint64_t total) override;
    void EndProgress() override;
    void SetProgressText(std::string_view text) override;
    bool PostDrop(HWND dialog, const std::vector<std::string>& files) override;

    // How long a conversion runs before its progress window shows; 500 ms
    // unless a test sets it.
    void SetProgressDelay(int ms) { progressDelayMs_ = ms; }

    // The widget behind a dialog or control handle of a running dialog, or null.
    QWidget* Widget(HWND handle) const;

    // Ends the windows as the end of a session asks: boxes, pickers and the
    // chooser close, a running conversion stops as its cancel button stops
    // it, no new window opens, and each dialog gets the close command once
    // the command it runs has returned. Ends with the last dialog.
    void CloseAll();
    // Calls CloseAll from the event loop when one of the signals numbered arrives;
    // their former handling comes back with the backend's end.
    void CloseOnSignals(std::initializer_list<int> numbers);

private:
    TemplateDialog* DialogOf(HWND handle) const;
    // The window a box, picker, chooser or progress window is centred over.
    QWidget* OwnerWindow(HWND owner) const;

    std::vector<TemplateDialog*> dialogs_;  // running dialogs, innermost last
    struct Progress;
    std::unique_ptr<Progress> progress_;
    int progressDelayMs_ = 500;
    bool closing_ = false;
    std::unique_ptr<QSocketNotifier> signalNotifier_;
    std::vector<std::pair<int, struct sigaction>> previousHandlers_;
};
