// Reporting results and failures to the user in message boxes: the plain
// message box, the system-error report, failed checks, and the reporter the
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
    void ShowText(const char* text) override { ShowMessage(text); }
    void Box(const char* text, Text caption) override;
    LONG SystemError(const char* context) override { return ReportLastError(context); }
    void FailedCheck(Text, const char* expression, const char* file, int line) override {
        ReportFailedCheck(expression, file, line);
    }

protected:
    HWND hDlg_;
};
