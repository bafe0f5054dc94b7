#include "cli/reporter.h"

#include "cli/output.h"
#include "platform/kernel/lasterror.h"
#include "res/cli_strings.h"
#include "res/strings.h"

#include <cstdarg>
#include <cstdio>

std::string Formatted(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

namespace {

// The platform's own reason for a refusal, in the table's words.
const char* RefusalText(Refusal refusal) {
    switch (refusal) {
        case Refusal::NotRegularFile: return PlainText(Text::NotRegularFile);
        case Refusal::TemporaryReplaced: return PlainText(Text::TemporaryReplaced);
        case Refusal::None: break;
    }
    return "";
}

// Why the last error happened: the platform's reason for a refusal of its own,
// else the system's reason, else the code.
std::string LastReason() {
    if (const Refusal refusal = LastErrorRefusal(); refusal != Refusal::None) return RefusalText(refusal);
    const std::string reason = LastErrorReason();
    return reason.empty() ? Said<CliText::ErrorCode>(static_cast<unsigned long>(GetLastError())) : reason;
}

}  // namespace

CliReporter::CliReporter(std::string source, std::string destination, bool verbose)
    : source_(std::move(source)), destination_(std::move(destination)), verbose_(verbose) {}

void CliReporter::Message(Text id, unsigned long number) { Say(Formatted(PlainText(id), number)); }

void CliReporter::Box(const char* text, Text caption) { Say(std::string(PlainText(caption)) + ": " + text); }

LONG CliReporter::SystemError(const char* context) {
    const LONG code = static_cast<LONG>(GetLastError());
    Say(std::string(context) + ": " + LastReason());
    return code;
}

std::string CliReporter::WithPath(Text id, const std::string& path) {
    return Formatted(PlainText(id), path.c_str(), LastReason().c_str());
}

void CliReporter::FailedCheck(Text reason, const char* expression, const char* file, int line) {
    if (reason == Text::CannotOpenSource) {
        Say(WithPath(reason, source_));
    } else if (reason == Text::CannotCreateDestination) {
        Say(WithPath(reason, destination_));
    } else {
        Say(PlainText(reason));
    }
    if (verbose_) Detail(Formatted(DialogText(Text::FailedCheck), expression, file, line));
}

void CliReporter::Say(const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", Printable(source_).c_str(), Printable(text).c_str());
}

void CliReporter::Detail(const std::string& text) { Say(text); }
