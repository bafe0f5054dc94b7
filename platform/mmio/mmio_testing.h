// Fault injection for the RIFF file I/O (for testing only).
#pragma once

#include "platform/wintypes.h"

// Makes the nth following call of mmioRead fail with -1 and the given last
// error (1 = the next call, 2 = the one after it, ...), as if the device had
// refused to give the bytes. 0 switches the failure off.
// For testing: the program itself never calls this.
void SetReadFailureForTesting(int nthCall, DWORD error = 30 /* ERROR_READ_FAULT */);
