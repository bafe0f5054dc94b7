// How the command line tells what befell a file: "FILE: reason" on standard
// error, in plain words, with the path and the system's reason where there is
// one ("cannot create 'out/x.wav': Permission denied"). The condition that
// failed, as the dialog would show it, is a detail for --verbose.
#pragma once

#include "core/reporter.h"
#include "res/cli_strings.h"
#include "res/printf_check.h"

#include <string>

// printf into a std::string of whatever length the result needs.
std::string Formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The command line's text id with its arguments filled in; the arguments are
// checked against what the text takes when the call compiles.
template <CliText id, typename... Args>
std::string Said(Args... args) {
    static_assert(textcheck::ArgumentsFit(CliTakes(id), {textcheck::KindOf<Args>()...}),
                  "the arguments are not those the text takes");
    return Formatted(CliWords(id), args...);
}

class CliReporter : public Reporter {
public:
    CliReporter(std::string source, std::string destination, bool verbose);

    void Message(Text id, unsigned long number) override;
    void ShowText(const char* text) override { Say(text); }
    void Box(const char* text, Text caption) override;
    LONG SystemError(const char* context) override;
    LONG SystemErrorIn(Text context) override { return SystemError(PlainText(context)); }
    void FailedCheck(Text reason, const char* expression, const char* file, int line) override;
    void Warning(Text id, unsigned long number) override { Say(Said<CliText::Warning>(Formatted(PlainText(id), number).c_str())); }
    void Note(Text id, const char* word) override {
        if (verbose_) Detail(Formatted(PlainText(id), word));
    }

    // The source could not be opened at all; the last error says why.
    void CannotOpenSource() { Say(WithPath(Text::CannotOpenSource, source_)); }

protected:
    // One reason; this reporter prints it as "SOURCE: text" on standard error.
    virtual void Say(const std::string& text);
    // What --verbose adds; printed like a reason when it was asked for.
    virtual void Detail(const std::string& text);

private:
    // A text of the table with a path and the last error's reason in it.
    static std::string WithPath(Text id, const std::string& path);

    std::string source_;
    std::string destination_;
    bool verbose_;
};

