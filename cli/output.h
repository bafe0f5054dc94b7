// What the command line prints: lines on standard output that survive a
// reader who has gone away, the per-file results (as text or as JSON lines),
// and the progress bar on a terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The names that mean standard output as a destination: "-" and the system's own.
bool NamesStandardOutput(const std::string& path);

// Writes a line on standard output. When standard output fails, says so once
// on standard error (unless its reader has gone away: a closed pipe, as in
// "| head", is no news to the user; SIGPIPE is ignored) and returns false;
// later lines are dropped.
bool PrintLine(std::string_view line);
// True once standard output has failed.
bool OutputFailed();
// From now on the lines go to standard error: standard output carries a file.
void SendTextToStandardError();

// text with what a terminal would act on written out as escapes: control
// characters as \t, \n, \r or \xHH, and bytes that are no UTF-8 (or a C1
// control in UTF-8) as \xHH each. A file name may hold any of them.
std::string Printable(std::string_view text);

// text as a JSON string, quotes included. Valid UTF-8 stays as it is; a byte
// that is not UTF-8 (a file name need not be) becomes U+FFFD, since JSON text
// is Unicode and strict readers refuse anything else.
std::string JsonString(std::string_view text);

enum class Outcome { Converted, Failed, Interrupted, Skipped };

struct FileResult {
    std::string source;
    std::string destination;
    Outcome outcome = Outcome::Failed;
    std::vector<std::string> messages;  // reasons in plain words
    std::vector<std::string> details;   // what --verbose adds
    double seconds = 0;
};

class Results {
public:
    // quiet keeps the text to failures and warnings.
    Results(bool json, bool verbose, bool quiet = false) : json_(json), verbose_(verbose), quiet_(quiet) {}

    // Text: the reasons as "SOURCE: reason" on standard error, and
    // "SOURCE -> DESTINATION" on standard output for a converted file (with a
    // warning when its name does not end in .wav), "SOURCE: skipped, 'DST'
    // exists" for a skipped one. JSON: one object on standard output.
    void Report(const FileResult& result);
    // A file an interrupt kept from being started: JSON gives it its object,
    // text counts it for the summary.
    void NotStarted(const FileResult& result);
    // Text only: "N converted, [S skipped, ]M failed[, K not started]".
    void Summary() const;
    // Nothing failed, was interrupted or left unstarted (skipped files are fine).
    bool AllConverted() const { return failed_ == 0 && interrupted_ == 0 && notStarted_ == 0; }

private:
    void Print(const FileResult& result) const;

    bool json_;
    bool verbose_;
    bool quiet_;
    std::size_t converted_ = 0;
    std::size_t skipped_ = 0;
    std::size_t failed_ = 0;
    std::size_t interrupted_ = 0;
    std::size_t notStarted_ = 0;
};

// A bar on standard error, redrawn in place; only drawn when enabled:
// "[###---]  42%  3/10 files  0:12  38.5x  0:16 left" (time taken, speed in
// seconds of sound a second, time left).
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled_(enabled) {}
    // elapsed: seconds since the start; soundDone: seconds of sound converted.
    void Draw(double fraction, std::size_t done, std::size_t total, double elapsed, double soundDone);
    // Clears the bar's line before other text is printed.
    void Clear();

private:
    bool enabled_;
    bool shown_ = false;
    int lastPercent_ = -1;
    std::size_t lastDone_ = 0;
    long lastSecond_ = -1;
};

// "1:05" for 65 seconds, "1:02:03" past an hour.
std::string ClockText(double seconds);
