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
    // The system's reason for a link that is not followed, "Too many levels of symbolic links",
    // would send the user looking for a loop.
    if (error == ELOOP && ut::FileName(path).exists(ut::FileName::kSymbolicLink))
        return translatedError(
            "Unable to lock %ls: it is a symbolic link, which the lock never follows; remove it",
            path);
    if (error == EINVAL && ut::FileName(path).exists(ut::FileName::kAnyObject) &&
        !ut::FileName(path).exists(ut::FileName::kRegularFile))
        return translatedError("Unable to lock %ls: it is no regular file; remove it", path);
    return translatedError("Unable to lock %ls: %ls", path,
                           OdString(std::strerror(error), kCodePageUtf8));
}

}  // namespace

OdString RepoLock::lockPath(const RootPath& root) {
    return root.lockPath();
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
    bool replaced = false;
    ut::FileLock lock;
    ut::FileLock folderLock;
    for (;;) {
        auto outcome = lock.tryLock(path, lockMode);
        if (outcome == ut::FileLock::Outcome::kLocked && !lock.isFileAt(path)) {
            // The file was removed or replaced between our open and our lock: the next taker
            // will lock the file there now, not this one. Take that one too, at once the first
            // time; a file that keeps changing is someone at work on it, waited for as for a
            // busy lock.
            lock.unlock();
            outcome = ut::FileLock::Outcome::kBusy;
            if (!replaced) {
                replaced = true;
                continue;
            }
        }
        if (outcome == ut::FileLock::Outcome::kLocked) {
            // What a deletion of the lock file cannot take from its holder (see the header).
            outcome = folderLock.tryLockFolder(root.rvkPath(), lockMode);
            if (outcome == ut::FileLock::Outcome::kLocked)
                break;
            lock.unlock();
            if (outcome == ut::FileLock::Outcome::kFailed)
                return lockFailure(root.rvkPath(), folderLock.error());
        }
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
        ut::removeAbandonedTemporaries(root.ignorePath());
    }
    return RepoLock(std::move(lock), std::move(folderLock), mode);
}

}  // namespace common
