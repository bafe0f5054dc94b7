// The temporary files a replacement writes beside its destination: their
// names, and the clean-up of those that nobody will finish.
//
// A temporary file is named ".NAME.wavtrn-PID.XXXX" (NAME: the destination's
// name, PID: the writer's process id, for people to read, XXXX: four
// hexadecimal digits), or ".wavtrn-PID.XXXX" when NAME is too long for that.
// Its writer holds an flock on it for its whole life. A file with such a name
// is stale only when it is a regular file of this user, no process holds its
// lock and it has not changed for ten minutes: so a writer in another PID
// namespace, or on another machine writing to a shared folder, keeps its file.
#pragma once

#include <string>

// The name of a temporary file for the destination named finalName, less the
// four digits: ".NAME.wavtrn-PID." or ".wavtrn-PID.".
std::string TemporaryNameBase(const std::string& finalName);

// True when name has the form of a temporary file's name.
bool IsTemporaryName(const std::string& name);

// Removes the stale temporary files in an open, readable folder.
void RemoveStaleTemporaryFiles(int folder);
