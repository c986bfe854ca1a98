// The system calls through which the platform layer changes files and folders: one seam, so that
// tests can make any of them fail and reach every failure branch of the atomic write and of
// repository creation.
//
// The seam is here; the wrappers of the system's calls are beside it (WriteCalls_posix.h), and the
// Windows sources ask shouldFail() before each call. In the library as shipped the wrappers are the
// system calls themselves, inlined, and keep no state.
// Only a build with RVK_FAULT_INJECTION defined (a test build of the platform sources, never the
// installed library) counts the calls and fails the ones a test asked for. Internal: not installed.
#pragma once

#include <cerrno>

namespace ut::sys {

enum class Call { kOpen, kWrite, kFsync, kClose, kRename, kMkdir };

#if defined(RVK_FAULT_INJECTION)
// Makes the `nth` call of `call` from now on (1 for the next one) fail with `error`; other calls
// and later ones go through. One plan per kind of call; clearFaults() drops them all.
void failNth(Call call, int nth, int error);
void clearFaults();
// True when this call is the one to fail; errno is then set to the chosen error.
bool shouldFail(Call call);
#else
inline bool shouldFail(Call) {
    return false;
}
#endif

}  // namespace ut::sys
