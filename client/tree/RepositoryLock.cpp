#include <client/tree/RepositoryLock.h>

#include <client/Text.h>
#include <client/store/HostStorage.h>

namespace client {

Expected<common::RepoLock> lockRepository(const common::RootPath& root, LockMode mode,
                                          std::chrono::milliseconds timeout,
                                          const std::function<void()>& waiting) {
    const bool exclusive = mode == LockMode::exclusive;
    auto lock = common::RepoLock::acquire(
        root, exclusive ? common::RepoLock::EMode::exclusive : common::RepoLock::EMode::shared,
        timeout, waiting);
    // No command that copies runs beside one holding the lock in either mode, so what a killed
    // command left is removed by the next command of any kind.
    if (lock.hasValue())
        removeAbandonedCopies(root, exclusive);
    return lock;
}

}  // namespace client
