// How the program's procedures tell their caller what happened: the caller
// hands down a reporter (the dialog's shows message boxes, the command line's
// prints "file: reason"), so the procedures never know who shows it. The
// header belongs to neither wave/ nor diag/: both include it, and so do the
// programs that implement it.
#pragma once

#include "platform/wintypes.h"
#include "res/strings.h"

#include <cstddef>
#include <cstdint>

// The shared buffer every formatted text is built in before it is shown.
constexpr std::size_t kMessageSize = 512;
inline char szMessage[kMessageSize];

class Reporter {
public:
    virtual ~Reporter() = default;

    // A text of the table, formatted with at most one number (%lu).
    virtual void Message(Text id, unsigned long number = 0) = 0;
    // A text built by the caller, shown as it stands.
    virtual void ShowText(const char* text) = 0;
    // A text under a caption of its own (the byte copy's refusals).
    virtual void Box(const char* text, Text caption) = 0;
    // The thread's last system error with its context ("copyfile: file not
    // found"); returns the code.
    virtual LONG SystemError(const char* context) = 0;
    // The same with a context of the table; the dialog shows its own words.
    virtual LONG SystemErrorIn(Text context) { return SystemError(DialogText(context)); }
    // A required condition that failed: the condition as written, where it
    // stands, and the reason in the table's words.
    virtual void FailedCheck(Text reason, const char* expression, const char* file, int line) = 0;

    // Something the user may want to know about a conversion that went on (a
    // text of the table with at most one number). The dialog keeps its boxes
    // to the outcome; the command line prints these beside it.
    virtual void Warning(Text id, unsigned long number) {
        (void)id;
        (void)number;
    }
    // A remark on a conversion that went on, for those who asked for details
    // (a text of the table with one word in it, %s).
    virtual void Note(Text id, const char* word) {
        (void)id;
        (void)word;
    }
    // How far a conversion has come, in source bytes; false asks it to stop.
    virtual bool Progress(std::uint64_t done, std::uint64_t total) {
        (void)done;
        (void)total;
        return true;
    }
    // The temporary file a conversion writes until it replaces the
    // destination; not told when the destination (a device, a pipe) is
    // written in place.
    virtual void Writing(const char* path) { (void)path; }
};

// A reporter that keeps what it hears to itself, for a reader run only to
// learn what it finds.
class SilentReporter : public Reporter {
public:
    void Message(Text, unsigned long) override {}
    void ShowText(const char*) override {}
    void Box(const char*, Text) override {}
    LONG SystemError(const char*) override { return 0; }
    void FailedCheck(Text, const char*, const char*, int) override {}
};

// A required condition: when it is false the reporter hears of it and the
// enclosing procedure returns (with the value given after the condition, if
// any). Objects that own what the procedure opened release it as the return
// unwinds them.
#define REQUIRE(reporter, reason, condition, ...)                                          \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            (reporter).FailedCheck(Text::reason, #condition, __FILE_NAME__, __LINE__);     \
            return __VA_ARGS__;                                                            \
        }                                                                                  \
    } while (0)
