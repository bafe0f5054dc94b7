// A conversion in a process of its own. The worker runs ConvertWave and tells
// its parent what happens through a pipe (cli/protocol.h): the temporary file
// it writes, its progress and its reasons in plain words. It ends with status
// 0 when the destination is in place and 1 otherwise.
//
// The parent decides for the workers: they ignore Ctrl-C and SIGHUP (which
// reach the whole process group) and stop at the next pass on SIGTERM, or when
// the parent is gone, removing what they wrote. They ignore SIGPIPE, so that a
// parent that has died makes them stop instead of killing them mid-file.
#pragma once

#include "platform/acm/acm.h"
#include "platform/kernel/unique_fd.h"

#include <string>
#include <sys/types.h>

struct WorkerTask {
    std::string source;       // the name the user gave, for messages
    std::string readPath;     // the file the conversion reads
    std::string destination;  // the file it writes
    const WAVEFORMATEX* pwfxDst = nullptr;
    bool verbose = false;
    DWORD fdwConvert = 0;  // ConvertWave's flags
    bool readsStandardInput = false;   // the worker keeps the parent's standard input and output for
    bool writesStandardOutput = false; // these; otherwise they are /dev/null
};

struct StartedWorker {
    pid_t pid = -1;
    UniqueFd fd;  // the read end of the worker's pipe
};

// Forks a worker for the task. Returns false with errno set when no pipe or
// no process could be had.
bool StartWorker(const WorkerTask& task, StartedWorker& started);
