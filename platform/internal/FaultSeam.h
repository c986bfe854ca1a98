// The seam in front of every primitive of SystemFiles.h: one place where tests can make any call
// fail, reads and looks included, and so reach every failure branch of the atomic write, of
// repository creation, of the host's copies and of what reads files.
//
// In the library as shipped shouldFail() is false, inlined, and keeps no state. Only a build with
// RVK_FAULT_INJECTION defined (a test build of the platform sources, never the installed library)
// counts the calls and fails the ones a test asked for. Internal: not installed.
#pragma once

#include <cerrno>

namespace ut::sys {

class Path;

enum class Call {
    kOpen,  // openForReading, createNew, and the lock file's open
    kRead,
    kWrite,
    kFlush,
    kClose,
    kLookAt,  // both lookAt calls
    kAccess,  // copyAccess, setAccess, setModifiedTime
    kRename,
    kRemove,  // remove, removeFolder
    kMkdir,
    kList,
    kLock,
    kCount
};

#if defined(RVK_FAULT_INJECTION)
// Makes the `nth` call of `call` from now on (1 for the next one) fail with `error`; other calls
// and later ones go through. One plan per kind of call; clearFaults() drops them all.
void failNth(Call call, int nth, int error);
// Makes every call of `call` on a file named `name` (the last part of its path, UTF-8) fail with
// `error`, as every replacement and removal of a file fails while another program holds it open
// (EBUSY), until clearFaults(). Only the calls that name the file they act on ask: replace (for
// its target) and remove.
void failOn(Call call, const char* name, int error);
void clearFaults();
// True while the failure planned for `call` has not happened yet: the run did not reach it.
bool faultPending(Call call);
// True when this call is the one to fail; errno is then set to the chosen error.
bool shouldFail(Call call);
// The same for a call on the file at `path`, which also fails when failOn() named that file.
bool shouldFail(Call call, const Path& path);
#else
inline bool shouldFail(Call) {
    return false;
}
inline bool shouldFail(Call, const Path&) {
    return false;
}
#endif

}  // namespace ut::sys
