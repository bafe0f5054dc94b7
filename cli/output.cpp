#include "cli/output.h"

#include "cli/reporter.h"
#include "res/cli_strings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool gOutputFailed = false;
FILE* gText = stdout;

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Converted: return "converted";
    case Outcome::Failed: return "failed";
    case Outcome::Interrupted: return "interrupted";
    case Outcome::Skipped: return "skipped";
    }
    return "failed";
}

// The length of the UTF-8 sequence at text[at], or 0 when it is not one.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    }
    if (length == 0 || at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    }
    return length;
}

bool EndsWithWav(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".wav";
}

}  // namespace

bool PrintLine(std::string_view line) {
    if (gOutputFailed) return false;
    std::fwrite(line.data(), 1, line.size(), gText);
    std::fputc('\n', gText);
    if (std::fflush(gText) == 0) return true;
    gOutputFailed = true;
    if (errno != EPIPE) std::fputs(Said<CliText::StandardOutputFailed>(std::strerror(errno)).c_str(), stderr);
    return false;
}

bool OutputFailed() { return gOutputFailed; }

void SendTextToStandardError() { gText = stderr; }

std::string Printable(std::string_view text) {
    std::string shown;
    char escape[8];
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : Utf8Length(text, i);
        const bool c1 = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (length > 1 && !c1) {
            shown.append(text.substr(i, length));
            i += length;
            continue;
        }
        if (c == '\t') shown += "\\t";
        else if (c == '\n') shown += "\\n";
        else if (c == '\r') shown += "\\r";
        else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            shown += escape;
        } else {
            shown += static_cast<char>(c);
        }
        ++i;
    }
    return shown;
}

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    char escape[8];
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            json += escape;
        } else if (c < 0x80) {
            json += static_cast<char>(c);
        } else if (const std::size_t length = Utf8Length(text, i); length > 0) {
            json.append(text.substr(i, length));
            i += length;
            continue;
        } else {
            json += "\\ufffd";
        }
        ++i;
    }
    return json + '"';
}

void Results::Report(const FileResult& result) {
    switch (result.outcome) {
    case Outcome::Converted: ++converted_; break;
    case Outcome::Failed: ++failed_; break;
    case Outcome::Interrupted: ++interrupted_; break;
    case Outcome::Skipped: ++skipped_; break;
    }
    Print(result);
}

void Results::NotStarted(const FileResult& result) {
    ++notStarted_;
    if (json_) Print(result);
}

bool NamesStandardOutput(const std::string& path) {
    return path == "-" || path == "/dev/stdout" || path == "/dev/fd/1" || path == "/proc/self/fd/1";
}

void Results::Print(const FileResult& result) const {
    if (json_) {
        std::string message;
        for (const std::string& text : result.messages) message += (message.empty() ? "" : "; ") + text;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", result.seconds);
        PrintLine("{\"source\":" + JsonString(result.source) + ",\"destination\":" + JsonString(result.destination) +
                  ",\"outcome\":\"" + OutcomeName(result.outcome) + "\",\"message\":" + JsonString(message) +
                  ",\"seconds\":" + seconds + "}");
        return;
    }
    std::fflush(stdout);
    const std::string source = Printable(result.source);
    for (const std::string& text : result.messages) std::fprintf(stderr, "%s: %s\n", source.c_str(), Printable(text).c_str());
    if (verbose_) {
        for (const std::string& text : result.details) std::fprintf(stderr, "%s: %s\n", source.c_str(), Printable(text).c_str());
    }
    const std::string destination = Printable(result.destination);
    if (result.outcome == Outcome::Converted && !EndsWithWav(result.destination) &&
        !NamesStandardOutput(result.destination)) {
        std::fputs(Said<CliText::NotWavName>(destination.c_str()).c_str(), stderr);
    }
    if (quiet_) return;
    if (result.outcome == Outcome::Converted)
        PrintLine(Said<CliText::ConvertedLine>(source.c_str(), destination.c_str()));
    if (result.outcome == Outcome::Skipped)
        PrintLine(Said<CliText::SkippedLine>(source.c_str(), destination.c_str()));
}

void Results::Summary() const {
    if (json_ || quiet_) return;
    std::string line = Said<CliText::SummaryConverted>(converted_);
    if (skipped_ > 0) line += Said<CliText::SummarySkipped>(skipped_);
    line += Said<CliText::SummaryFailed>(failed_ + interrupted_);
    if (notStarted_ > 0) line += Said<CliText::SummaryNotStarted>(notStarted_);
    PrintLine(line);
}

void ProgressBar::Draw(double fraction, std::size_t done, std::size_t total, double elapsed, double soundDone) {
    if (!enabled_) return;
    constexpr int kWidth = 30;
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int percent = static_cast<int>(fraction * 100);
    const long second = static_cast<long>(elapsed);
    if (shown_ && percent == lastPercent_ && done == lastDone_ && second == lastSecond_) return;
    const int filled = static_cast<int>(fraction * kWidth);
    const std::string bar = std::string(static_cast<std::size_t>(filled), '#') + std::string(kWidth - filled, '-');
    std::string times = "  " + ClockText(elapsed);
    if (elapsed >= 1 && soundDone > 0) {
        times += Said<CliText::ProgressSpeed>(soundDone / elapsed);
    }
    // The time left once there is a second and a percent to go by.
    if (elapsed >= 1 && fraction >= 0.01) times += Said<CliText::ProgressLeft>(ClockText(elapsed * (1 - fraction) / fraction).c_str());
    std::fputs(Said<CliText::ProgressLine>(bar.c_str(), percent, done, total, times.c_str()).c_str(), stderr);
    std::fflush(stderr);
    shown_ = true;
    lastPercent_ = percent;
    lastDone_ = done;
    lastSecond_ = second;
}

std::string ClockText(double seconds) {
    const auto whole = static_cast<long>(std::max(0.0, seconds) + 0.5);
    char text[32];
    if (whole >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

void ProgressBar::Clear() {
    if (!enabled_ || !shown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_ = false;
}
