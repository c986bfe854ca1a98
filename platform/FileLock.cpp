#include <platform/FileLock.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include <platform/internal/WriteCalls.h>

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

FileLock::Outcome FileLock::tryLock(const OdString& path, Mode mode) {
    unlock();
    m_error = 0;
    // Read access is enough for either mode, so a lock file made by another user who shares the
    // repository still serves when its permissions let us read it.
    int fd;
    do {
        fd = sys::open(path.ansi_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        m_error = errno;
        return Outcome::kFailed;
    }
    const int operation = (mode == Mode::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Outcome::kBusy;
        m_error = error;
        return Outcome::kFailed;
    }
    m_fd = fd;
    return Outcome::kLocked;
}

void FileLock::unlock() noexcept {
    if (m_fd >= 0) {
        // Closing the only descriptor of this open file releases its lock.
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace ut
