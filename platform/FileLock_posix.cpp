#include <platform/FileLock.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <platform/internal/FaultSeam.h>

namespace ut {

FileLock::Outcome FileLock::tryLock(const OdString& path, Mode mode) {
    unlock();
    m_error = 0;
    // Read access is enough for either mode, so a lock file made by another user who shares the
    // repository still serves when its permissions let us read it. O_NOFOLLOW: with a link in its
    // place, O_CREAT would make the file wherever the link leads, outside the repository.
    // O_NONBLOCK: a FIFO planted in its place would block the open until someone writes to it.
    int fd = -1;
    if (!sys::shouldFail(sys::Call::kOpen)) {
        do {
            fd = ::open(path.ansi_str(),
                        O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
        } while (fd < 0 && errno == EINTR);
    }
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        m_error = EINVAL;  // no regular file: nothing a lock file may be
        return Outcome::kFailed;
    }
    return lockOpened(fd, mode);
}

FileLock::Outcome FileLock::tryLockFolder(const OdString& path, Mode mode) {
    unlock();
    m_error = 0;
    int fd = -1;
    if (!sys::shouldFail(sys::Call::kOpen)) {
        do {
            fd = ::open(path.ansi_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
    }
    return lockOpened(fd, mode);
}

FileLock::Outcome FileLock::lockOpened(std::intptr_t handle, Mode mode) {
    const int fd = static_cast<int>(handle);
    if (fd < 0) {
        m_error = errno;
        return Outcome::kFailed;
    }
    const int operation = (mode == Mode::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    int rc = -1;
    if (!sys::shouldFail(sys::Call::kLock)) {
        do {
            rc = ::flock(fd, operation);
        } while (rc != 0 && errno == EINTR);
    }
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

bool FileLock::isFileAt(const OdString& path) const {
    struct stat held {};
    struct stat named {};
    return m_fd >= 0 && ::fstat(static_cast<int>(m_fd), &held) == 0 &&
           ::lstat(path.ansi_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

void FileLock::unlock() noexcept {
    if (m_fd >= 0) {
        // Closing the only descriptor of this open file releases its lock.
        ::close(static_cast<int>(m_fd));
        m_fd = -1;
    }
}

}  // namespace ut
