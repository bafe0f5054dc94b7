// Faults of the system calls the program's own code makes, for the tests that
// need a failure no real file gives on demand. A test executable that links
// wavtrn_faults is linked with --wrap for read, statx, fdatasync, fsync and
// renameat: the statically linked code of the program calls the wrappers, which
// pass each call on to the system unless a fault is armed. The programs that
// ship contain none of this.
#pragma once

#include <string>
#include <vector>

namespace faults {

// Makes the nth following read(2) fail with err (1 = the next call, 2 = the one
// after it, ...), as a device that refuses to give the bytes. 0 switches it off.
void FailRead(int nthCall, int err);

// Makes the nth following statx(2) fail with err, as a file system that
// refuses to give the identity record. 0 switches it off.
void FailStatx(int nthCall, int err);

// Records, in order, what makes a replacement durable: "fdatasync FILE",
// "rename FILE TO" and "fsync FOLDER". FILE is the file's device and inode
// numbers, so the file flushed and the file renamed compare equal however long
// its path; TO and FOLDER are paths as the system names the descriptors.
// Null stops the recording.
void RecordSyncs(std::vector<std::string>* log);

}  // namespace faults
