// ut::FileLock: an advisory lock of a whole file, shared or exclusive, held through an open
// descriptor for as long as the object lives.
//
// The lock belongs to the open file, not to the process's memory: the kernel drops it when the
// descriptor is closed, so a process that dies, however it dies, never leaves it held. Locks are
// advisory: they exclude only those who take them too.
//
// The lock also belongs to the file, not to its name: a lock file that someone removes, or replaces
// by another, while it is held stays locked for its holder, and the name then leads the next taker
// to a file that nobody holds. isFileAt() tells a taker when that happened.
#pragma once

#include <cstdint>

#include <platform/Export.h>
#include <platform/OdString.h>

namespace ut {

class RVKPLATFORM_EXPORT FileLock {
public:
    enum class Mode { kShared, kExclusive };
    enum class Outcome {
        kLocked,  // the lock is held now
        kBusy,    // another holder's lock conflicts with this mode; nothing is held
        kFailed,  // the file could not be opened, made or locked; error() tells why
    };

    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Opens `path`, making it (empty) when it does not exist, and tries once, without waiting, to
    // lock it in `mode`. Any lock this object held before is released first. The descriptor is
    // closed on exec, so a program the holder starts does not inherit the lock. A symbolic link at
    // `path` is never followed, so that no one can have the file made or locked elsewhere: that is
    // kFailed with the error ELOOP. Anything else than a regular file there (a FIFO, whose open
    // could block for ever, a folder) is kFailed with EINVAL.
    Outcome tryLock(const OdString& path, Mode mode);
    // The same for the existing folder `path` (followed when it is a symbolic link, as every other
    // use of the folder follows it), which is never made.
    Outcome tryLockFolder(const OdString& path, Mode mode);
    // Releases the lock, if any. Never fails.
    void unlock() noexcept;

    bool isLocked() const { return m_fd >= 0; }
    // True when the lock is held and `path` (not followed when it is a symbolic link) names the
    // very file it is held on: the file has been neither removed nor replaced since it was opened.
    bool isFileAt(const OdString& path) const;
    // The errno of the last kFailed outcome (on Windows, the nearest errno to the system's error),
    // 0 otherwise.
    int error() const { return m_error; }

private:
    Outcome lockOpened(std::intptr_t fd, Mode mode);

    std::intptr_t m_fd = -1;  // a descriptor, or a handle on Windows; -1 when none is held
    int m_error = 0;
};

}  // namespace ut
