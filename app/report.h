// Reporting results and failures to the user in message boxes: the plain
// message box, the system-error report, failed checks, and the reporters the
// dialog hands to the procedures it runs.
#pragma once

#include "platform/wintypes.h"
#include "wave/report.h"

// The last component of a path: "b.wav" for "/a/b.wav".
const char* BaseName(const char* szPath);

// A message box with no owner, the default caption, an OK button and no icon.
void ShowMessage(const char* text);

// Shows the thread's last system error with context ("copyfile: file not found",
// "CreateFile 1: error=5", ...) and returns the code.
LONG ReportLastError(const char* context);

// Shows "Assertion failed: <expression>, file <file>, line <line>" with the stop
// icon and the executable's name as caption, followed by a blank line and the
// plain paragraph szPlain when one is given. The caller then abandons its command.
void ReportFailedCheck(const char* expression, const char* file, int line, const char* szPlain = nullptr);

// The plain paragraph that follows a failed check for reason on the file at
// szPath (the source or the destination the check was about; may be null):
// what is wrong and what to do, chosen by the thread's last error where the
// reason alone does not say it. fFormatChosen tells a codec failure that
// comes from no format having been chosen.
const char* PlainParagraph(Text reason, const char* szPath, bool fFormatChosen);

// The dialog's reporter: every message is a message box, failed checks show
// their condition, and the byte copy's refusals are owned by the dialog. A
// failed check and the five codec-service failures keep their exact text as
// the first line and add the plain paragraph after a blank line.
class DialogReporter : public Reporter {
public:
    // The paths, when given, let a failed check say which file is at fault.
    explicit DialogReporter(HWND hDlg, const char* szSrc = nullptr, const char* szDst = nullptr)
        : hDlg_(hDlg), szSrc_(szSrc), szDst_(szDst) {}
    void Message(Text id, unsigned long number = 0) override;
    void ShowText(const char* text) override;
    void Box(const char* text, Text caption) override;
    LONG SystemError(const char* context) override;
    void FailedCheck(Text, const char* expression, const char* file, int line) override;

protected:
    // Runs before every message box.
    virtual void BeforeBox() {}

    HWND hDlg_;
    const char* szSrc_;
    const char* szDst_;
    bool fFormatChosen_ = true;
};

// The reporter of a conversion the dialog runs: its progress goes to the window
// service's progress window beside the dialog (the source's and the
// destination's file names, the share done, the time left, a cancel button),
// which closes before any message box. The "cancelled" box waits for Finish,
// called once the conversion has returned and removed its temporary file.
class ConversionReporter final : public DialogReporter {
public:
    ConversionReporter(HWND hDlg, const char* sourcePath, const char* destinationPath, bool fFormatChosen);
    ~ConversionReporter() override { BeforeBox(); }
    ConversionReporter(const ConversionReporter&) = delete;
    ConversionReporter& operator=(const ConversionReporter&) = delete;

    bool Progress(std::uint64_t done, std::uint64_t total) override;
    void Message(Text id, unsigned long number = 0) override;
    void Finish();

private:
    void BeforeBox() override;

    bool fProgressOpen_ = true;
    bool fCancelled_ = false;
};
