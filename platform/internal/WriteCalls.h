// The system calls through which the platform layer changes files and folders: one seam, so that
// tests can make any of them fail and reach every failure branch of the atomic write and of
// repository creation.
//
// In the library as shipped these are the system calls themselves, inlined, and keep no state.
// Only a build with RVK_FAULT_INJECTION defined (a test build of the platform sources, never the
// installed library) counts the calls and fails the ones a test asked for. Internal: not installed.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>

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

inline int open(const char* path, int flags, mode_t mode) {
    return shouldFail(Call::kOpen) ? -1 : ::open(path, flags, mode);
}
inline ssize_t write(int fd, const void* data, std::size_t size) {
    return shouldFail(Call::kWrite) ? -1 : ::write(fd, data, size);
}
inline int fsync(int fd) {
    return shouldFail(Call::kFsync) ? -1 : ::fsync(fd);
}
// A failing close still releases the descriptor, as the kernel's does.
inline int close(int fd) {
    if (shouldFail(Call::kClose)) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return ::close(fd);
}
inline int rename(const char* from, const char* to) {
    return shouldFail(Call::kRename) ? -1 : ::rename(from, to);
}
inline int mkdir(const char* path, mode_t mode) {
    return shouldFail(Call::kMkdir) ? -1 : ::mkdir(path, mode);
}

}  // namespace ut::sys
