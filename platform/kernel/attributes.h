// What a replaced file keeps: its owner, group and permission bits, its ACL
// and its extended attributes, given to the file that takes its place.
#pragma once

#include <sys/stat.h>

// Gives the new file open on to (created by this process) what the file name
// in the open folder has, whose status is st. An owner or group the process
// may not give is left as it is. Attributes of the user.* and system.*
// namespaces (the ACL is system.posix_acl_access) are copied or the call
// fails; security.* and trusted.* ones where the process may set them. An ACL
// that the folder's default ACL gave the new file is taken away when the old
// file had none. Returns 0, or the errno value of the failure.
int TakeOverAttributes(int folder, const char* name, const struct stat& st, int to);
