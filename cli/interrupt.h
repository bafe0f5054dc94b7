// Ctrl-C (SIGINT), SIGTERM and SIGHUP while a command runs: each is counted and
// wakes poll() through a pipe. The handlers are installed without SA_RESTART,
// so a blocking read returns EINTR and its loop can look at the count.
#pragma once

#include "platform/kernel/unique_fd.h"

class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // How many interrupts arrived so far.
    int Count() const;
    // Readable after an interrupt; -1 when no pipe could be had.
    int WakeFd() const { return wake_[0].get(); }
    // Empties the wake pipe.
    void Drain() const;

private:
    UniqueFd wake_[2];
};
