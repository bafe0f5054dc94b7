// Converting a batch of files, each in a worker process of its own, a few at
// a time. The parent reads each worker's pipe (cli/protocol.h), draws the
// progress bar from what they tell, reports each file as it ends, and removes
// the temporary file of a worker that was stopped or died.
#pragma once

#include "cli/interrupt.h"
#include "cli/output.h"
#include "platform/acm/acm.h"

#include <cstdint>
#include <string>
#include <vector>

struct Job {
    std::string source;        // as the user named it ("-": standard input)
    std::string readPath;      // the file the conversion reads
    std::string destination;   // as the user named it ("-": standard output)
    std::string writePath;     // the file the conversion writes ("/dev/stdout" for standard output)
    std::string refusal;       // why the job is refused before it starts; empty when it may run
    std::uint64_t weight = 1;  // its share of the progress bar: the source's size
    const WAVEFORMATEX* pwfxDst = nullptr;  // its own destination format; null: the batch's
    double seconds = 0;        // the source's length in seconds of sound, when known
};

struct BatchOptions {
    const WAVEFORMATEX* pwfxDst = nullptr;
    int workers = 1;
    bool progressBar = false;
    bool verbose = false;
    DWORD fdwConvert = 0;  // ConvertWave's flags (CONVERTF_NOMETADATA)
};

// Runs every job, at most options.workers at a time (fewer when the system has
// no more descriptors or processes to give), and reports each to results as it
// ends. Returns false when interrupted: the first interrupt asks the workers to
// stop at their next pass, a second one kills them; either way what they were
// writing is removed and the jobs not yet started are reported as such.
bool RunBatch(const std::vector<Job>& jobs, const BatchOptions& options, const InterruptWatch& interrupts,
              Results& results);
