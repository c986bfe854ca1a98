// The lstat calls of HostFiles_posix.cpp by name within an open folder, for the POSIX sources that
// look at many files of one folder (LookAtFiles_posix.cpp).
#pragma once

#include <client/tree/HostFiles.h>

namespace client {

// The FileStat of the regular file `path` (UTF-8, relative to the open folder `folder`, or
// absolute, or AT_FDCWD for the current folder); false when no regular file is there.
bool statFileAt(int folder, const char* path, FileStat& out);
// What is at `path` relative to the open folder `folder`, not following a link; none, with errno
// set, when it cannot be looked at.
PathKind lookAtIn(int folder, const char* path);

}  // namespace client
