// Fault injection for the kernel services (for testing only).
#pragma once

#include "platform/wintypes.h"

// Makes the nth following call of GetFileInformationByHandle fail with the given
// last error (1 = the next call, 2 = the one after it, ...), as if the file
// system had refused to give the identity record. 0 switches the failure off.
// For testing: the program itself never calls this.
void SetFileInformationFailureForTesting(int nthCall, DWORD error = 5);

#include <string>
#include <vector>

// Records, in order, what a replacement does to make its result durable:
// "fdatasync TEMPORARY", "rename TEMPORARY DESTINATION" and "fsync FOLDER", one
// entry each. Null stops the recording. For testing: the program never calls this.
void SetSyncLogForTesting(std::vector<std::string>* log);
