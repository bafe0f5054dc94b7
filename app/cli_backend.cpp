#include "app/cli_backend.h"

#include "res/resource.h"

#include <cerrno>
#include <unistd.h>

namespace {

// Handles only need to be distinct and non-null; nothing dereferences them.
char gDialogTag;
char gLabelTag;

HWND FakeHandle(char& tag) { return reinterpret_cast<HWND>(&tag); }

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace

HWND CaptureBackend::Dialog() { return FakeHandle(gDialogTag); }

void CaptureBackend::Reset() {
    messages_.clear();
    label_.clear();
    labelWritten_ = false;
}

INT_PTR CaptureBackend::RunDialog(const DialogTemplate&, DLGPROC, LPARAM) { return -1; }

HWND CaptureBackend::ControlHandle(HWND dialog, int id) {
    if (dialog == Dialog() && id == IDC_SRCFORMAT) return FakeHandle(gLabelTag);
    return nullptr;
}

std::string CaptureBackend::ControlText(HWND control) { return control == FakeHandle(gLabelTag) ? label_ : std::string(); }

bool CaptureBackend::SetControlText(HWND control, std::string_view text) {
    if (control != FakeHandle(gLabelTag)) return false;
    label_.assign(text);
    labelWritten_ = true;
    return true;
}

HWND CaptureBackend::SetFocus(HWND) { return nullptr; }

void CaptureBackend::EndDialog(HWND, INT_PTR) {}

void CaptureBackend::MessageBox(HWND, std::string_view text, std::string_view caption, UINT) {
    std::string line(caption);
    line += ": ";
    line += text;
    // One message, one line: a text with line breaks keeps them as blanks.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    messages_.push_back(line);
    if (sinkFd_ >= 0) WriteAll(sinkFd_, line + '\n');
}

std::optional<std::string> CaptureBackend::PickFile(const FilePickerRequest&) { return std::nullopt; }

std::optional<FormatChoice> CaptureBackend::ChooseFormat(HWND, const FormatChooserModel&) { return std::nullopt; }
