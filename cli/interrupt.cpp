#include "cli/interrupt.h"

#include <cerrno>
#include <csignal>
#include <iterator>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t gInterrupts = 0;
volatile sig_atomic_t gWakeFd = -1;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction gPrevious[std::size(kSignals)];

void OnInterrupt(int) {
    gInterrupts = gInterrupts + 1;
    if (gWakeFd >= 0) {
        const int saved = errno;
        const char byte = 1;
        (void)!::write(gWakeFd, &byte, 1);
        errno = saved;
    }
}

}  // namespace

InterruptWatch::InterruptWatch() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        wake_[0].Reset(ends[0]);
        wake_[1].Reset(ends[1]);
    }
    gWakeFd = wake_[1].get();
    gInterrupts = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &gPrevious[i]);
}

InterruptWatch::~InterruptWatch() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    gWakeFd = -1;
}

int InterruptWatch::Count() const { return gInterrupts; }

void InterruptWatch::Drain() const {
    char bytes[64];
    while (wake_[0] && ::read(wake_[0].get(), bytes, sizeof bytes) > 0) {
    }
}
