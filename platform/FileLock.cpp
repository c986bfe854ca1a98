// What a file lock does the same way on every system; taking and releasing it is the system's
// (FileLock_posix.cpp, FileLock_windows.cpp).
#include <platform/FileLock.h>

#include <utility>

namespace ut {

FileLock::~FileLock() {
    unlock();
}

FileLock::FileLock(FileLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_error(other.m_error) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        unlock();
        m_fd = std::exchange(other.m_fd, -1);
        m_error = other.m_error;
    }
    return *this;
}

}  // namespace ut
