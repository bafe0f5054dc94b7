// The three commands of wavtrn-cli, on arguments already parsed.
#pragma once

#include <string>
#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

struct Request {
    std::string word;                // formats: the filter
    std::vector<std::string> files;  // info and convert: the sources named as arguments
    std::string filesFrom;           // a list of further sources, "-" for standard input
    bool nullSeparated = false;      // the list's names end with NUL bytes
    std::string key;                 // convert: the destination format
    std::string output;              // convert: -o
    std::string outDir;              // convert: --out-dir
    int jobs = 0;                    // convert: workers at a time; 0 for the number of CPUs
    bool force = false;              // convert: also when source and destination are one file
    bool json = false;               // info and convert: results as JSON lines
    bool noMetadata = false;         // convert: leave the sources' metadata chunks out
    bool quiet = false;              // convert: failures and warnings only, no progress or summary
    bool noClobber = false;          // convert: skip sources whose destination exists
    bool verbose = false;            // the failed condition beside the plain words
};

// Each returns the exit status; usage errors have been printed.
int RunFormats(const Request& request);
int RunInfo(const Request& request);
int RunConvert(const Request& request);

// Prints "wavtrn-cli COMMAND: text" and the hint to --help; returns kExitUsage.
int UsageError(const std::string& command, const std::string& text);
