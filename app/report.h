// Reporting results and failures to the user in message boxes: the plain
// message box, the system-error report, failed checks, and the reporters the
// dialog hands to the procedures it runs.
#pragma once

#include "platform/wintypes.h"
#include "wave/report.h"

// A message box with no owner, the default caption, an OK button and no icon.
void ShowMessage(const char* text);

// Shows the thread's last system error with context ("copyfile: file not found",
// "CreateFile 1: error=5", ...) and returns the code.
LONG ReportLastError(const char* context);

// Shows "Assertion failed: <expression>, file <file>, line <line>" with the stop
// icon and the executable's name as caption. The caller then abandons its command.
void ReportFailedCheck(const char* expression, const char* file, int line);

// The dialog's reporter: every message is a message box, failed checks show
// their condition, and the byte copy's refusals are owned by the dialog.
class DialogReporter : public Reporter {
public:
    explicit DialogReporter(HWND hDlg) : hDlg_(hDlg) {}
    void Message(Text id, unsigned long number = 0) override;
    void ShowText(const char* text) override;
    void Box(const char* text, Text caption) override;
    LONG SystemError(const char* context) override;
    void FailedCheck(Text, const char* expression, const char* file, int line) override;

protected:
    // Runs before every message box.
    virtual void BeforeBox() {}

    HWND hDlg_;
};

// The reporter of a conversion the dialog runs: its progress goes to the window
// service's progress window over the dialog (the source's file name, the share
// done, the time left, a cancel button), which closes before any message box.
class ConversionReporter final : public DialogReporter {
public:
    ConversionReporter(HWND hDlg, const char* sourcePath);
    ~ConversionReporter() override { BeforeBox(); }
    ConversionReporter(const ConversionReporter&) = delete;
    ConversionReporter& operator=(const ConversionReporter&) = delete;

    bool Progress(std::uint64_t done, std::uint64_t total) override;

private:
    void BeforeBox() override;

    bool fProgressOpen_ = true;
};
