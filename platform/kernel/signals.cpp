#include "platform/kernel/signals.h"

#include <csignal>

void ResetInheritedSignals(std::initializer_list<int> handled) {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(SIGCHLD, &byDefault, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    for (const int signal : handled) sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
}
