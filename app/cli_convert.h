// Converting a batch of files, each in a worker process of its own.
#pragma once

#include "platform/acm/acm.h"

#include <string>
#include <vector>

struct ConvertJob {
    std::string source;
    std::string destination;
};

struct BatchOptions {
    int workers = 1;            // conversions running at once
    bool progressBar = false;   // redraw a bar on standard error
};

// Runs ConvertWave for every job, at most options.workers at a time. Each
// worker's messages are printed, prefixed with its source, when it finishes;
// a line per success goes to standard output, then a summary. Returns the
// number of jobs that failed (-1 when interrupted).
int RunBatch(const std::vector<ConvertJob>& jobs, const WAVEFORMATEX* pwfxDst, const BatchOptions& options);
