#include "cli/protocol.h"

#include <charconv>

namespace {

constexpr std::string_view kWriting = "writing ";
constexpr std::string_view kProgress = "progress ";
constexpr std::string_view kMessage = "message ";
constexpr std::string_view kDetail = "detail ";

std::string_view Keyword(WorkerEvent event) {
    switch (event) {
    case WorkerEvent::Writing: return kWriting;
    case WorkerEvent::Progress: return kProgress;
    case WorkerEvent::Message: return kMessage;
    case WorkerEvent::Detail: return kDetail;
    }
    return kMessage;
}

std::string Unescape(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            plain += text[i] == 'n' ? '\n' : text[i];
        } else {
            plain += text[i];
        }
    }
    return plain;
}

bool ParseNumber(std::string_view text, std::uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string EncodeLine(WorkerEvent event, std::string_view text) {
    std::string line(Keyword(event));
    for (char c : text) {
        if (c == '\\') {
            line += "\\\\";
        } else if (c == '\n') {
            line += "\\n";
        } else {
            line += c;
        }
    }
    return line + '\n';
}

std::string EncodeProgress(std::uint64_t done, std::uint64_t total) {
    return std::string(kProgress) + std::to_string(done) + ' ' + std::to_string(total) + '\n';
}

bool DecodeLine(std::string_view line, WorkerLine& out) {
    for (WorkerEvent event : {WorkerEvent::Writing, WorkerEvent::Message, WorkerEvent::Detail}) {
        if (line.starts_with(Keyword(event))) {
            out.event = event;
            out.text = Unescape(line.substr(Keyword(event).size()));
            return true;
        }
    }
    if (!line.starts_with(kProgress)) return false;
    const std::string_view numbers = line.substr(kProgress.size());
    const auto blank = numbers.find(' ');
    if (blank == std::string_view::npos) return false;
    out.event = WorkerEvent::Progress;
    return ParseNumber(numbers.substr(0, blank), out.done) && ParseNumber(numbers.substr(blank + 1), out.total);
}

bool LineSplitter::Next(std::string& line) {
    const auto end = pending_.find('\n');
    if (end == std::string::npos) return false;
    line.assign(pending_, 0, end);
    pending_.erase(0, end + 1);
    return true;
}
