// Reporting results and failures to the user: the shared message buffer, the
// plain message box, the system-error report and required conditions.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>

constexpr std::size_t kMessageSize = 512;
extern char szMessage[kMessageSize];

// A message box with no owner, the default caption, an OK button and no icon.
void ShowMessage(const char* text);

// Shows the thread's last system error with context ("copyfile: file not found",
// "CreateFile 1: error=5", ...) and returns the code.
LONG ReportLastError(const char* context);

// Shows "Assertion failed: <expression>, file <file>, line <line>" with the stop
// icon and the executable's name as caption. The caller then abandons its command.
void ReportFailedCheck(const char* expression, const char* file, int line);

// A required condition: when it is false the failure is reported and the enclosing
// procedure returns (with the value given after the condition, if any). Objects
// that own what the procedure opened release it as the return unwinds them.
#define REQUIRE(condition, ...)                                          \
    do {                                                                 \
        if (!(condition)) {                                              \
            ReportFailedCheck(#condition, __FILE_NAME__, __LINE__);      \
            return __VA_ARGS__;                                          \
        }                                                                \
    } while (0)
