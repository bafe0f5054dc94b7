#include "app/report.h"

#include "app/texts.h"
#include "platform/kernel/lasterror.h"
#include "platform/window/window.h"

#include <cerrno>
#include <cstdio>

char szMessage[kMessageSize];

void ShowMessage(const char* text) { MessageBoxA(nullptr, text, nullptr, MB_OK); }

LONG ReportLastError(const char* context) {
    const LONG code = static_cast<LONG>(GetLastError());
    const char* format = texts::kOtherError;
    switch (code) {
    case 2: format = texts::kFileNotFound; break;
    case 3: format = texts::kPathNotFound; break;
    case 32: format = texts::kSharingViolation; break;
    default: break;
    }
    std::snprintf(szMessage, sizeof szMessage, format, context, static_cast<long>(code));
    ShowMessage(szMessage);
    return code;
}

void ReportFailedCheck(const char* expression, const char* file, int line) {
    std::snprintf(szMessage, sizeof szMessage, texts::kFailedCheck, expression, file, line);
    // The caption is the executable's own name, without its directory.
    MessageBoxA(nullptr, szMessage, program_invocation_short_name, MB_OK | MB_ICONSTOP | MB_TASKMODAL | MB_SETFOREGROUND);
}
