// Signal settings a program may inherit from whoever started it and must not
// keep: SIGCHLD ignored (the kernel then reaps children itself, so waiting for
// one fails and its outcome is lost) and the signals it handles blocked (they
// would never arrive).
#pragma once

#include <initializer_list>

// Puts SIGCHLD back to its default and unblocks it and the handled signals.
void ResetInheritedSignals(std::initializer_list<int> handled);
