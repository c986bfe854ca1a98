#include <platform/FileLock.h>

#include <windows.h>

#include <platform/SystemFiles.h>
#include <platform/internal/FaultSeam.h>

namespace ut {

namespace {

HANDLE handleOf(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

// The volume and file index of an open file: what names one file on Windows, as device and inode
// do on POSIX.
bool identityOf(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return GetFileInformationByHandle(handle, &info) != 0;
}

}  // namespace

FileLock::Outcome FileLock::tryLock(const OdString& path, Mode mode) {
    unlock();
    m_error = 0;
    // Read access is enough for LockFileEx in either mode. FILE_FLAG_OPEN_REPARSE_POINT: a link
    // or junction in the file's place is opened itself, never followed, so nothing is made or
    // locked elsewhere. No FILE_SHARE_DELETE: while the lock is held, no one can remove the lock
    // file or rename another over it, so the name always leads to the file that is locked.
    if (sys::shouldFail(sys::Call::kOpen)) {
        m_error = errno;
        return Outcome::kFailed;
    }
    const HANDLE handle = CreateFileW(
        sys::Path(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        m_error = sys::errnoOfSystemError(GetLastError());
        return Outcome::kFailed;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!identityOf(handle, info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        CloseHandle(handle);
        m_error = link ? ELOOP : EINVAL;
        return Outcome::kFailed;
    }
    return lockOpened(reinterpret_cast<std::intptr_t>(handle), mode);
}

FileLock::Outcome FileLock::tryLockFolder(const OdString& path, Mode /*mode*/) {
    unlock();
    m_error = 0;
    // A folder cannot take a byte-range lock. Held open without FILE_SHARE_DELETE, it cannot be
    // removed or renamed while the holder lives, which is what the folder's lock is for; the
    // modes are kept apart by the lock file, which no one can replace while it is held.
    if (sys::shouldFail(sys::Call::kOpen)) {
        m_error = errno;
        return Outcome::kFailed;
    }
    const HANDLE handle =
        CreateFileW(sys::Path(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        m_error = sys::errnoOfSystemError(GetLastError());
        return Outcome::kFailed;
    }
    m_fd = reinterpret_cast<std::intptr_t>(handle);
    return Outcome::kLocked;
}

FileLock::Outcome FileLock::lockOpened(std::intptr_t value, Mode mode) {
    const HANDLE handle = handleOf(value);
    if (sys::shouldFail(sys::Call::kLock)) {
        m_error = errno;
        CloseHandle(handle);
        return Outcome::kFailed;
    }
    OVERLAPPED whole{};
    const DWORD flags =
        LOCKFILE_FAIL_IMMEDIATELY | (mode == Mode::kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (LockFileEx(handle, flags, 0, MAXDWORD, MAXDWORD, &whole) == 0) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
            return Outcome::kBusy;
        m_error = sys::errnoOfSystemError(error);
        return Outcome::kFailed;
    }
    m_fd = value;
    return Outcome::kLocked;
}

bool FileLock::isFileAt(const OdString& path) const {
    if (m_fd < 0)
        return false;
    BY_HANDLE_FILE_INFORMATION held;
    BY_HANDLE_FILE_INFORMATION named;
    if (!identityOf(handleOf(m_fd), held))
        return false;
    const HANDLE handle = CreateFileW(
        sys::Path(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool same =
        identityOf(handle, named) && held.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
        held.nFileIndexHigh == named.nFileIndexHigh && held.nFileIndexLow == named.nFileIndexLow;
    CloseHandle(handle);
    return same;
}

void FileLock::unlock() noexcept {
    if (m_fd >= 0) {
        // Closing the handle releases its lock.
        CloseHandle(handleOf(m_fd));
        m_fd = -1;
    }
}

}  // namespace ut
