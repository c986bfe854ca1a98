// RepoLock: the repository lock that hosts take so that their commands on one repository never
// overlap.
//
// This is an addition of ours to the library's interface: nothing else in the library ever takes
// it, and the library's own operations keep working without it (two Caches over one repository
// each write their state, the last to end winning). A host that may run beside another program on
// the same working folder (a CAD session and the command line, two CAD sessions) follows one
// protocol, the one `rvk` follows:
//
//   - hold an exclusive lock for the whole of every operation that changes the state file, the
//     ignore file, the host's database, stored copies or working files;
//   - hold a shared lock for the whole of every operation that only reads them, so that it never
//     sees another program's change half done;
//   - take the lock before loading the Cache, and release it only after the Cache has ended (its
//     end writes the state file).
//
// The lock is flock(2) on the file ".rvk/rvk.lock": many shared holders at once, or one exclusive
// holder. It belongs to the holder's open file, so the kernel releases it when the holder dies
// however it dies; no lock is ever left behind by a crash and none has to be broken by hand.
//
// Because it belongs to the open file and not to the name, a lock file that someone deletes (it
// looks stale) or replaces while it is held stays locked for its holder alone, and the next taker
// makes or finds another file under the name and locks that: two writers at once, the second one
// removing the first one's temporary files as a killed writer's. So:
//
//   - the lock file is never followed through a symbolic link, and never removed by the library;
//   - after locking it, a taker checks that the name still leads to the file it locked, and opens
//     and locks the one there now when not. That closes the window between opening the file and
//     locking it, in which the file could go and another taker make and lock a new one; and it
//     keeps the lock on the file that the next taker will find (a host built on an earlier
//     version of this library, which locks only the file, or a script running flock(1) on it);
//   - a taker also locks the folder ".rvk" itself, in the same mode, once it holds the file. A
//     file's name can be taken from a holder, but no one removes the repository folder to clear a
//     lock: a holder whose lock file was deleted still holds the folder, so the next taker of this
//     library waits for it.
//
//     auto lock = RepoLock::acquire(root, RepoLock::EMode::exclusive, std::chrono::seconds(30));
//     if (!lock.hasValue()) { show(lock.error()); return; }
//     ... load the Cache, change the state, end the Cache ...
//     // the lock is released when `lock` ends
#pragma once

#include <chrono>
#include <functional>

#include <common/Expected.h>
#include <common/Export.h>
#include <common/RootPath.h>
#include <platform/FileLock.h>

namespace common {

class RVK_EXPORT RepoLock {
public:
    enum class EMode { shared, exclusive };

    // The lock file of the repository at `root`: ".rvk/rvk.lock".
    static OdString lockPath(const RootPath& root);

    // Takes the lock of the repository at `root` in `mode`, making the lock file when it is
    // missing (and locking the folder ".rvk" with it). When another holder's lock conflicts, calls
    // `onWait` once (when given; a host tells its user there what it waits for) and tries again
    // until `timeout` has passed; a timeout of zero tries once. The wait happens on the caller's
    // thread. Fails with "Timed out waiting for the repository lock %ls: another program is working
    // on this repository" or, when the file (or the folder) cannot be made or locked, "Unable to
    // lock %ls: %ls" with the system's reason, or "Unable to lock %ls: it is a symbolic link, which
    // the lock never follows; remove it".
    //
    // On a read-only file system, where no lock file can be made and nothing can change, a shared
    // lock is granted without one.
    //
    // Taking it exclusively also removes the temporary files that a writer of the state file or of
    // the ignore file left behind when it died (with the lock held, no one can be writing them).
    static Expected<RepoLock> acquire(const RootPath& root, EMode mode,
                                      std::chrono::milliseconds timeout,
                                      const std::function<void()>& onWait = {});

    EMode mode() const { return m_mode; }

    RepoLock(RepoLock&&) noexcept = default;
    RepoLock& operator=(RepoLock&&) noexcept = default;
    RepoLock(const RepoLock&) = delete;
    RepoLock& operator=(const RepoLock&) = delete;
    // Releases the lock.
    ~RepoLock() = default;

private:
    RepoLock(ut::FileLock lock, ut::FileLock folderLock, EMode mode)
        : m_lock(std::move(lock)), m_folderLock(std::move(folderLock)), m_mode(mode) {}

    ut::FileLock m_lock;        // on ".rvk/rvk.lock"
    ut::FileLock m_folderLock;  // on ".rvk"
    EMode m_mode;
};

}  // namespace common
