#include "app/message_boxes.h"

#include "platform/kernel/lasterror.h"
#include "platform/window/window.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>

const char* BaseName(const char* szPath) {
    const char* slash = std::strrchr(szPath, '/');
    return slash != nullptr ? slash + 1 : szPath;
}

void ShowMessage(const char* text) { MessageBoxA(nullptr, text, nullptr, MB_OK); }

LONG FormatLastError(const char* context, char* szText, std::size_t cchText) {
    const LONG code = static_cast<LONG>(GetLastError());
    Text format = Text::OtherError;
    switch (code) {
    case 2: format = Text::FileNotFound; break;
    case 3: format = Text::PathNotFound; break;
    case 32: format = Text::SharingViolation; break;
    default: break;
    }
    std::snprintf(szText, cchText, DialogText(format), context, static_cast<long>(code));
    return code;
}

LONG ReportLastError(const char* context) {
    const LONG code = FormatLastError(context, szMessage, sizeof szMessage);
    ShowMessage(szMessage);
    return code;
}

namespace {

// Appends "\n\n" and the plain paragraph to the text in szMessage.
void AppendPlain(const char* szPlain) {
    if (szPlain == nullptr || szPlain[0] == '\0') return;
    const std::size_t cch = std::strlen(szMessage);
    std::snprintf(szMessage + cch, sizeof szMessage - cch, "\n\n%s", szPlain);
}

bool IsFolder(const char* szPath) {
    struct stat st;
    return szPath != nullptr && ::stat(szPath, &st) == 0 && S_ISDIR(st.st_mode);
}

Text SourceParagraph(const char* szPath) {
    if (IsFolder(szPath)) return Text::PlainSourceIsFolder;
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return Text::PlainSourceMissing;
    case ERROR_ACCESS_DENIED: return Text::PlainSourceDenied;
    default: return Text::PlainSourceUnreadable;
    }
}

Text DestinationParagraph(const char* szPath) {
    if (szPath != nullptr && szPath[0] == '\0') return Text::PlainNoDestination;
    if (IsFolder(szPath)) return Text::PlainDestinationIsFolder;
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return Text::PlainDestinationFolderMissing;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return Text::PlainDestinationDenied;
    case ERROR_DISK_FULL: return Text::PlainDestinationDiskFull;
    default: return Text::PlainDestinationUncreatable;
    }
}

}  // namespace

const char* PlainParagraph(Text reason, const char* szPath, bool fFormatChosen) {
    switch (reason) {
    case Text::CannotOpenSource: return DialogText(SourceParagraph(szPath));
    case Text::CannotCreateDestination: return DialogText(DestinationParagraph(szPath));
    case Text::NotRiffWave: return DialogText(Text::PlainNotWave);
    case Text::NoFormatChunk: return DialogText(Text::PlainNoFormatChunk);
    case Text::FormatChunkTooLarge: return DialogText(Text::PlainDamagedFormat);
    case Text::NoDataChunk: return DialogText(Text::PlainNoData);
    case Text::NoDestinationFormat: return DialogText(Text::PlainChooseFormat);
    // An empty format block is refused by the codec service with one of these two.
    case Text::NotPossible:
    case Text::InvalidParam: return DialogText(fFormatChosen ? Text::PlainNotPossible : Text::PlainChooseFormat);
    case Text::InvalidHandle:
    case Text::InvalidFlag: return DialogText(Text::PlainCodecFault);
    case Text::NoMemory: return DialogText(Text::PlainNoMemory);
    default: return nullptr;
    }
}

void ReportFailedCheck(const char* expression, const char* file, int line, const char* szPlain) {
    std::snprintf(szMessage, sizeof szMessage, DialogText(Text::FailedCheck), expression, file, line);
    AppendPlain(szPlain);
    // The caption is the executable's own name, without its directory.
    MessageBoxA(nullptr, szMessage, program_invocation_short_name, MB_OK | MB_ICONSTOP | MB_TASKMODAL | MB_SETFOREGROUND);
}

void DialogReporter::Message(Text id, unsigned long number) {
    BeforeBox();
    std::snprintf(szMessage, sizeof szMessage, DialogText(id), number);
    switch (id) {
    case Text::InvalidHandle:
    case Text::NoMemory:
    case Text::InvalidFlag:
    case Text::InvalidParam:
    case Text::NotPossible: AppendPlain(PlainParagraph(id, nullptr, fFormatChosen_)); break;
    default: break;
    }
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

void DialogReporter::FailedCheck(Text reason, const char* expression, const char* file, int line) {
    // The last error says why a file did not open; read it before a box can change it.
    const char* szPath = reason == Text::CannotCreateDestination ? szDst_ : szSrc_;
    const char* szPlain = PlainParagraph(reason, szPath, fFormatChosen_);
    BeforeBox();
    ReportFailedCheck(expression, file, line, szPlain);
}

ConversionReporter::ConversionReporter(HWND hDlg, const char* sourcePath, const char* destinationPath,
                                       bool fFormatChosen)
    : DialogReporter(hDlg, sourcePath, destinationPath) {
    fFormatChosen_ = fFormatChosen;
    // The window names the two files, not the folders they are in.
    char szText[2 * kPathChars + 64];
    std::snprintf(szText, sizeof szText, DialogText(Text::ProgressFiles), BaseName(sourcePath),
                  BaseName(destinationPath));
    BeginProgress(hDlg, szText);
}

void ConversionReporter::Message(Text id, unsigned long number) {
    // "Cancelled" waits until the conversion has returned and removed its
    // temporary file, so that the box never stands beside a half-written file.
    if (id == Text::Cancelled) {
        BeforeBox();
        fCancelled_ = true;
        return;
    }
    DialogReporter::Message(id, number);
}

void ConversionReporter::Finish() {
    BeforeBox();
    if (fCancelled_) DialogReporter::Message(Text::Cancelled);
    fCancelled_ = false;
}

bool ConversionReporter::Progress(std::uint64_t done, std::uint64_t total) {
    return !fProgressOpen_ || UpdateProgress(done, total) != FALSE;
}

void ConversionReporter::BeforeBox() {
    if (!fProgressOpen_) return;
    fProgressOpen_ = false;
    EndProgress();
}

SeveralReporter::SeveralReporter(HWND hDlg, const char* szSrc, const char* szDst, std::uint64_t cbBefore,
                                 std::uint64_t cbFile, std::uint64_t cbAll)
    : DialogReporter(hDlg, szSrc, szDst), cbBefore_(cbBefore), cbFile_(cbFile), cbAll_(cbAll) {}

void SeveralReporter::Keep(const char* text) {
    if (reason_.empty()) reason_ = text;
}

void SeveralReporter::Message(Text id, unsigned long number) {
    if (id == Text::Cancelled) {
        fCancelled_ = true;
        return Keep(DialogText(Text::BatchCancelled));
    }
    char szText[kMessageSize];
    std::snprintf(szText, sizeof szText, DialogText(id), number);
    // A codec failure's name means nothing to the user; its plain paragraph does.
    const char* szPlain = PlainParagraph(id, nullptr, true);
    Keep(szPlain != nullptr ? szPlain : szText);
}

LONG SeveralReporter::SystemError(const char* context) {
    char szText[kMessageSize];
    const LONG code = FormatLastError(context, szText, sizeof szText);
    Keep(szText);
    return code;
}

void SeveralReporter::FailedCheck(Text reason, const char*, const char*, int) {
    const char* szPlain = PlainParagraph(reason, reason == Text::CannotCreateDestination ? szDst_ : szSrc_, true);
    Keep(szPlain != nullptr ? szPlain : PlainText(reason));
}

bool SeveralReporter::Progress(std::uint64_t done, std::uint64_t total) {
    const double share = total > 0 ? static_cast<double>(std::min(done, total)) / static_cast<double>(total) : 0;
    const auto cbDone = cbBefore_ + static_cast<std::uint64_t>(share * static_cast<double>(cbFile_));
    return UpdateProgress(std::min(cbDone, cbAll_), cbAll_) != FALSE;
}
