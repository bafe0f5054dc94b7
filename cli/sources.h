// Where a command's files come from besides its arguments: a list of paths
// (--files-from), and standard input for a source named "-", copied to a
// temporary file because the reader needs to seek.
#pragma once

#include "cli/interrupt.h"

#include <string>
#include <vector>

// Appends the paths of a list, one a line, to paths; "-" reads the list from
// standard input. Empty lines are passed over. Returns false with the reason
// when the list cannot be read.
bool ReadFileList(const std::string& list, std::vector<std::string>& paths, std::string& error);

// Standard input in a temporary file under $TMPDIR (or /tmp), removed when the
// spool goes.
class StdinSpool {
public:
    StdinSpool() = default;
    ~StdinSpool();
    StdinSpool(const StdinSpool&) = delete;
    StdinSpool& operator=(const StdinSpool&) = delete;

    // Copies standard input to the file. Returns false with the reason when
    // that fails or an interrupt stops it.
    bool Fill(const InterruptWatch& interrupts, std::string& error);
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The last part of a path, trailing slashes aside.
std::string BaseName(const std::string& path);
