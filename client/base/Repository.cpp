#include <client/base/Repository.h>

#include <utility>

#include <client/Text.h>
#include <client/tree/LookAtFiles.h>
#include <client/shared/RemoteSettings.h>
#include <client/tree/HostFiles.h>

namespace client {

Reporter::~Reporter() = default;

void Reporter::note(const ErrorMessage&) {}

bool Reporter::progress(const Progress&) {
    return true;
}

ErrorMessage cancelledError() {
    ErrorMessage error = hostError("cancelled");
    error.code = kCancelled;
    return error;
}

Expected<void> advance(const Session& session, const char* step, std::uint64_t done,
                       std::uint64_t total, std::uint64_t bytes) {
    if (!session.reporter.progress(Progress{step, done, total, bytes}))
        return cancelledError();
    return {};
}

Expected<OdString> currentFolder() {
    std::string path;
    if (!currentFolderPath(path))
        return hostError("cannot find the current folder: " + lastSystemError());
    return OdString(path.data(), path.size(), kCodePageUtf8);
}

Expected<void> checkRepositoryFolder(const common::RootPath& root) {
    const std::pair<OdString, const char*> entries[] = {{root.rvkPath(), "folder"},
                                                        {root.objectStorePath(), "folder"},
                                                        {root.drawingStorePath(), "folder"},
                                                        {root.propertiesPath(), "folder"},
                                                        {root.dbPath(), "file"},
                                                        {root.statePath(), "file"}};
    for (const auto& [path, kind] : entries) {
        if (lookAt(utf8(path)) == PathKind::link)
            return hostError(quoteName(utf8(path)) +
                             " is a symbolic link: rvk follows no link inside a repository "
                             "folder, so it reads and writes nothing there; put the real " +
                             kind + " in its place");
    }
    return {};
}

Expected<Place> findRoot(const Session& session) {
    const auto root = common::RootPath::get(session.folder, false);
    if (!root.hasValue())
        return root.error();
    const auto sound = checkRepositoryFolder(root.value());
    if (!sound.hasValue())
        return sound.error();
    return placeOf(root.value(), session.folder);
}

Expected<common::RepoLock> lockFor(const Session& session, const common::RootPath& root,
                                   LockMode mode) {
    return lockRepository(root, mode, session.lockTimeout, [&session] {
        session.reporter.note(
            hostError("waiting for another command on this repository to finish"));
    });
}

Expected<LockedPlace> lockPlace(const Session& session, LockMode mode) {
    auto place = findRoot(session);
    if (!place.hasValue())
        return place.error();
    auto lock = lockFor(session, place.value().root, mode);
    if (!lock.hasValue())
        return lock.error();
    return LockedPlace{std::move(lock.value()), std::move(place.value())};
}

Expected<LoadedState> loadState(const Session& session, LockMode mode,
                                const common::IoInterface& io) {
    auto locked = lockPlace(session, mode);
    if (!locked.hasValue())
        return locked.error();
    auto cache = common::Cache::get(locked.value().place.root, false, io);
    if (!cache.hasValue())
        return cache.error();
    return LoadedState{std::move(locked.value()), std::move(cache.value())};
}

Expected<MadeRoot> makeRoot(const Session& session, const OdString& folder) {
    auto root = common::RootPath::get(folder, true);
    if (!root.hasValue())
        return root.error();
    if (const auto sound = checkRepositoryFolder(root.value()); !sound.hasValue())
        return sound.error();
    // Only now is there a ".rvk" to hold the lock file.
    auto lock = lockFor(session, root.value(), LockMode::exclusive);
    if (!lock.hasValue())
        return lock.error();
    return MadeRoot{std::move(lock.value()), std::move(root.value())};
}

Expected<Repository> openToChange(const Session& session) {
    auto repo = openRepository(session, LockMode::exclusive);
    if (!repo.hasValue())
        return repo;
    if (const auto cutOff = checkNoCutOffPull(repo.value().db); !cutOff.hasValue())
        return cutOff.error();
    return repo;
}

Expected<Repository> openRepository(const Session& session, LockMode mode) {
    auto locked = lockPlace(session, mode);
    if (!locked.hasValue())
        return locked.error();
    const common::RootPath& root = locked.value().place.root;
    auto io = std::make_unique<CountingIo>(session.io);
    auto cache = common::Cache::get(root, false, *io);
    if (!cache.hasValue())
        return cache.error();
    auto db = Database::open(root.dbPath());
    if (!db.hasValue())
        return db.error();
    auto head = db.value().trackedFiles(cache.value().read().head.commit);
    if (!head.hasValue())
        return head.error();
    return Repository{std::move(locked.value().lock),
                      root,
                      locked.value().place,
                      std::move(io),
                      std::move(cache),
                      std::move(db.value()),
                      std::move(head.value())};
}

Expected<void> changeState(common::Cache& opened, const CountingIo& io,
                           const std::function<void(common::State&)>& change) {
    const int failuresBefore = io.failures();
    {
        common::Cache cache(std::move(opened));
        common::Transaction transaction = cache.getTransaction();
        change(cache.write());
        transaction.commit();
    }
    if (io.failures() == failuresBefore)
        return {};
    ErrorMessage error = io.lastFailure();
    error.code = kStateNotWritten;
    return error;
}

}  // namespace client
