// The dialog program's message boxes, reporting results and failures: the plain
// message box, the system-error report, failed checks, and the reporters the
// dialog hands to the procedures it runs.
#pragma once

#include "core/reporter.h"
#include "platform/wintypes.h"

#include <cstddef>
#include <string>

// The last component of a path: "b.wav" for "/a/b.wav".
const char* BaseName(const char* szPath);

// A message box with no owner, the default caption, an OK button and no icon.
void ShowMessage(const char* text);

// Shows the thread's last system error with context ("copyfile: file not found",
// "CreateFile 1: error=5", ...) and returns the code.
LONG ReportLastError(const char* context);
// The same text, written into szText (cchText bytes) instead of a box.
LONG FormatLastError(const char* context, char* szText, std::size_t cchText);

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

// The reporter of one file among several converted into a folder: no box is
// shown; why the file failed is kept, in plain words, for the closing box.
// Its progress is a share of the whole batch: cbBefore bytes of sources came
// before it, cbAll in all, and the file itself weighs cbFile.
class SeveralReporter final : public DialogReporter {
public:
    SeveralReporter(HWND hDlg, const char* szSrc, const char* szDst, std::uint64_t cbBefore, std::uint64_t cbFile,
                    std::uint64_t cbAll);

    void Message(Text id, unsigned long number = 0) override;
    void ShowText(const char* text) override { Keep(text); }
    void Box(const char* text, Text) override { Keep(text); }
    LONG SystemError(const char* context) override;
    void FailedCheck(Text reason, const char* expression, const char* file, int line) override;
    bool Progress(std::uint64_t done, std::uint64_t total) override;

    // The first reason heard; "" when none was.
    const std::string& Reason() const { return reason_; }
    bool Cancelled() const { return fCancelled_; }

private:
    void Keep(const char* text);

    std::uint64_t cbBefore_, cbFile_, cbAll_;
    std::string reason_;
    bool fCancelled_ = false;
};
