#include "app/report.h"

#include "platform/kernel/lasterror.h"
#include "platform/window/window.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

void ShowMessage(const char* text) { MessageBoxA(nullptr, text, nullptr, MB_OK); }

LONG ReportLastError(const char* context) {
    const LONG code = static_cast<LONG>(GetLastError());
    Text format = Text::OtherError;
    switch (code) {
    case 2: format = Text::FileNotFound; break;
    case 3: format = Text::PathNotFound; break;
    case 32: format = Text::SharingViolation; break;
    default: break;
    }
    std::snprintf(szMessage, sizeof szMessage, DialogText(format), context, static_cast<long>(code));
    ShowMessage(szMessage);
    return code;
}

void ReportFailedCheck(const char* expression, const char* file, int line) {
    std::snprintf(szMessage, sizeof szMessage, DialogText(Text::FailedCheck), expression, file, line);
    // The caption is the executable's own name, without its directory.
    MessageBoxA(nullptr, szMessage, program_invocation_short_name, MB_OK | MB_ICONSTOP | MB_TASKMODAL | MB_SETFOREGROUND);
}

void DialogReporter::Message(Text id, unsigned long number) {
    BeforeBox();
    std::snprintf(szMessage, sizeof szMessage, DialogText(id), number);
    ShowMessage(szMessage);
}

void DialogReporter::ShowText(const char* text) {
    BeforeBox();
    ShowMessage(text);
}

void DialogReporter::Box(const char* text, Text caption) {
    BeforeBox();
    MessageBoxA(hDlg_, text, DialogText(caption), MB_OK);
}

LONG DialogReporter::SystemError(const char* context) {
    BeforeBox();
    return ReportLastError(context);
}

void DialogReporter::FailedCheck(Text, const char* expression, const char* file, int line) {
    BeforeBox();
    ReportFailedCheck(expression, file, line);
}

ConversionReporter::ConversionReporter(HWND hDlg, const char* sourcePath) : DialogReporter(hDlg) {
    // The window names the file, not the folder it is in.
    const char* slash = std::strrchr(sourcePath, '/');
    BeginProgress(hDlg, slash != nullptr ? slash + 1 : sourcePath);
}

bool ConversionReporter::Progress(std::uint64_t done, std::uint64_t total) {
    return !fProgressOpen_ || UpdateProgress(done, total) != FALSE;
}

void ConversionReporter::BeforeBox() {
    if (!fProgressOpen_) return;
    fProgressOpen_ = false;
    EndProgress();
}
