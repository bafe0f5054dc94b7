// The window services as the command-line companion sees them: there is no
// dialog, only the source-format label that ShowSourceFormat writes, and every
// message box becomes a line of text ("caption: text").
#pragma once

#include "platform/window/window.h"

#include <string>
#include <vector>

class CaptureBackend final : public WindowBackend {
public:
    // The dialog handle the companion passes to ShowSourceFormat.
    static HWND Dialog();

    // Message lines are kept in messages(); with a descriptor set they are also
    // written to it at once, one line each, so a worker that dies halfway still
    // has told what it saw.
    void SetMessageSink(int fd) { sinkFd_ = fd; }

    const std::vector<std::string>& messages() const { return messages_; }
    bool labelWritten() const { return labelWritten_; }
    const std::string& label() const { return label_; }
    void Reset();

    INT_PTR RunDialog(const DialogTemplate& tmpl, DLGPROC proc, LPARAM param) override;
    HWND ControlHandle(HWND dialog, int id) override;
    std::string ControlText(HWND control) override;
    bool SetControlText(HWND control, std::string_view text) override;
    HWND SetFocus(HWND control) override;
    void EndDialog(HWND dialog, INT_PTR result) override;
    void MessageBox(HWND owner, std::string_view text, std::string_view caption, UINT type) override;
    std::optional<std::string> PickFile(const FilePickerRequest& request) override;
    std::optional<FormatChoice> ChooseFormat(HWND owner, const FormatChooserModel& model) override;

private:
    std::vector<std::string> messages_;
    std::string label_;
    bool labelWritten_ = false;
    int sinkFd_ = -1;
};
