// Where a command's files come from besides its arguments: a list of paths
// (--files-from), and standard input for a source named "-", copied to an
// unnamed temporary file because the reader needs to seek.
#pragma once

#include "cli/interrupt.h"

#include <string>
#include <vector>

// Appends the paths of a list to paths: one a line, or each ended by a NUL
// byte when nullSeparated (as find -print0 writes them); "-" reads the list
// from standard input. In a list of lines a CR before the line feed is
// dropped and empty lines are passed over. Returns false with the reason when
// the list cannot be read or holds what is no path: a NUL byte in a line, an
// empty name in a NUL-separated list, a name longer than the longest path.
// The list is read no further than its first fault.
bool ReadFileList(const std::string& list, bool nullSeparated, std::vector<std::string>& paths, std::string& error);

// The path that reads standard input once it is spooled: the spool stands as
// this process's standard input (and its workers').
constexpr const char* kSpooledInput = "/dev/stdin";

// Copies standard input into an unnamed temporary file under $TMPDIR (or
// /tmp), which nothing can leave behind, and puts it in standard input's
// place, to be read from the start as kSpooledInput. The copy stops early when
// its first bytes are not the head of a RIFF WAVE file. Returns false with the
// line to print when that fails or an interrupt stops it.
bool SpoolStandardInput(const InterruptWatch& interrupts, std::string& error);

// The last part of a path, trailing slashes aside.
std::string BaseName(const std::string& path);
