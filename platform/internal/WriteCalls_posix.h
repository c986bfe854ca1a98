// The POSIX calls through which the platform layer changes files and folders, behind the fault
// seam of WriteCalls.h. Internal: not installed.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>

#include <platform/internal/WriteCalls.h>

namespace ut::sys {

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
