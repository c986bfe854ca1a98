#include <common/RepoLock.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include <common/internal/Messages.h>
#include <platform/FileName.h>
#include <platform/TextFile.h>

namespace common {

namespace {

ErrorMessage lockFailure(const OdString& path, int error) {
    return translatedError("Unable to lock %ls: %ls", path,
                           OdString(std::strerror(error), kCodePageUtf8));
}

}  // namespace

OdString RepoLock::lockPath(const RootPath& root) {
    return root.rvkPath() + ut::FileName::getPathSeparator() + OdString(L"rvk.lock");
}

Expected<RepoLock> RepoLock::acquire(const RootPath& root, EMode mode,
                                     std::chrono::milliseconds timeout,
                                     const std::function<void()>& onWait) {
    using Clock = std::chrono::steady_clock;
    const OdString path = lockPath(root);
    const auto lockMode =
        mode == EMode::exclusive ? ut::FileLock::Mode::kExclusive : ut::FileLock::Mode::kShared;
    const Clock::time_point deadline = Clock::now() + timeout;
    // flock(2) has no timeout of its own, so a busy lock is tried again after short pauses that
    // grow, keeping the answer quick for short waits and the polling cheap for long ones.
    std::chrono::milliseconds pause(1);
    bool told = false;
    ut::FileLock lock;
    for (;;) {
        const auto outcome = lock.tryLock(path, lockMode);
        if (outcome == ut::FileLock::Outcome::kLocked)
            break;
        if (outcome == ut::FileLock::Outcome::kFailed) {
            // A repository on a read-only file system cannot change under a reader, and no lock
            // file can be made there: reading goes ahead without one.
            if (mode == EMode::shared && lock.error() == EROFS)
                break;
            return lockFailure(path, lock.error());
        }
        const auto now = Clock::now();
        if (now >= deadline)
            return translatedError(
                "Timed out waiting for the repository lock %ls: another program is working on "
                "this repository",
                path);
        if (!told && onWait)
            onWait();
        told = true;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    if (mode == EMode::exclusive) {
        ut::removeAbandonedTemporaries(root.statePath());
        // RepoIgnore's file; a RepoIgnore would read and compile the rules just to name it.
        ut::removeAbandonedTemporaries(root.propertiesPath() + ut::FileName::getPathSeparator() +
                                       OdString(L"ignore"));
    }
    return RepoLock(std::move(lock), mode);
}

}  // namespace common
