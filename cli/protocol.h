// What a worker tells its parent through its pipe: one event a line.
//
//   writing PATH         the temporary file the conversion writes
//   progress DONE TOTAL  source data bytes converted so far, of TOTAL
//   message TEXT         a reason in plain words ("no \"data\" chunk")
//   detail TEXT          more for --verbose (the condition that failed)
//
// PATH and TEXT are escaped, a backslash as \\ and a line feed as \n, so that
// any file name (a line feed is allowed in one) stays on its line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class WorkerEvent { Writing, Progress, Message, Detail };

struct WorkerLine {
    WorkerEvent event = WorkerEvent::Message;
    std::string text;  // writing, message, detail
    std::uint64_t done = 0;
    std::uint64_t total = 0;
};

// The line for a writing, message or detail event, line feed included.
std::string EncodeLine(WorkerEvent event, std::string_view text);
std::string EncodeProgress(std::uint64_t done, std::uint64_t total);

// Reads one line (without its line feed); false for a line that is none of the above.
bool DecodeLine(std::string_view line, WorkerLine& out);

// Gathers what arrives from a pipe and hands it out line by line.
class LineSplitter {
public:
    void Append(const char* bytes, std::size_t count) { pending_.append(bytes, count); }
    // The next whole line, without its line feed; false when none is complete.
    bool Next(std::string& line);

private:
    std::string pending_;
};
