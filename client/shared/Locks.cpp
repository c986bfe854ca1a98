// Drawing locks on the server, and the remote settings of a clone.
#include <client/SharedOperations.h>
#include <client/Text.h>
#include <client/base/Repository.h>
#include <client/shared/RemoteSettings.h>
#include <client/shared/ServerLocks.h>
#include <client/shared/ServerPaths.h>
#include <client/shared/Standing.h>
#include <client/tree/HostFiles.h>

namespace client {

namespace {

// The repository of the user's folder, locked, with its database: what the lock operations and
// the remote settings need.
struct Opened {
    common::RepoLock lock;
    Place place;
    Database db;
};

Expected<Opened> openForRemote(const Session& session, LockMode mode) {
    auto place = findRoot(session);
    if (!place.hasValue())
        return place.error();
    auto held = lockFor(session, place.value().root, mode);
    if (!held.hasValue())
        return held.error();
    auto db = Database::open(place.value().root.dbPath());
    if (!db.hasValue())
        return db.error();
    return Opened{std::move(held.value()), std::move(place.value()), std::move(db.value())};
}

// The server's paths of the files `typed` names.
Expected<std::vector<std::string>> serverPaths(const Place& place,
                                               const std::vector<OdString>& typed) {
    std::vector<std::string> paths;
    for (const OdString& word : typed) {
        const auto path = repositoryPath(place, utf8(word));
        if (!path.hasValue())
            return path.error();
        paths.push_back(serverPath(path.value()));
    }
    return paths;
}

DrawingLock drawingLock(const LockRecord& record) {
    return DrawingLock{localPath(record.path), record.holder, record.taken};
}

}  // namespace

Expected<std::string> remote(const Session& session) {
    auto opened = openForRemote(session, LockMode::exclusive);
    if (!opened.hasValue())
        return opened.error();
    const auto conninfo = opened.value().db.remoteSetting(kRemoteKey);
    if (!conninfo.hasValue())
        return conninfo.error();
    if (!conninfo.value())
        return hostError("this repository has no remote (rvk remote set CONNINFO names one)");
    // A remote set by an older version may hold what this one no longer keeps (a secret): it is
    // not given, only named.
    if (const auto sound = checkConnInfo(*conninfo.value()); !sound.hasValue())
        return hostError("the remote is not shown: " + utf8(sound.error().message) +
                         " (rvk remote set CONNINFO replaces it)");
    return *conninfo.value();
}

Expected<void> setRemote(const Session& session, const std::string& conninfo) {
    if (const auto sound = checkConnInfo(conninfo); !sound.hasValue())
        return sound;
    auto opened = openForRemote(session, LockMode::exclusive);
    if (!opened.hasValue())
        return opened.error();
    return opened.value().db.setRemoteSetting(kRemoteKey, conninfo);
}

Expected<ServerCreated> createServer(const std::string& conninfo, Reporter& reporter) {
    auto server = ServerConnection::connect(conninfo, reporter);
    if (!server.hasValue())
        return server.error();
    const auto created = server.value().create();
    if (!created.hasValue())
        return created.error();
    switch (created.value()) {
        case Created::made:
            return ServerCreated::made;
        case Created::upgraded:
            return ServerCreated::upgraded;
        case Created::current:
            break;
    }
    return ServerCreated::current;
}

Expected<std::vector<LockOutcome>> lock(const Session& session, const std::vector<OdString>& typed) {
    auto opened = openForRemote(session, LockMode::shared);
    if (!opened.hasValue())
        return opened.error();
    const Place& place = opened.value().place;
    const auto paths = serverPaths(place, typed);
    if (!paths.hasValue())
        return paths.error();
    // A lock names one drawing: a folder's would hold nothing (its files are other paths).
    for (const std::string& path : paths.value()) {
        if (lookAt(utf8(place.root.pathTo(localPath(path)))) == PathKind::folder)
            return hostError(shownPath(path) + " is a folder: rvk lock takes files, not folders");
    }
    auto server = connectRemote(opened.value().db, session.reporter);
    if (!server.hasValue())
        return server.error();
    std::vector<LockOutcome> outcomes;
    for (const std::string& path : paths.value()) {
        const auto held = takeLock(server.value(), path);
        if (!held.hasValue())
            return held.error();
        const bool mine = held.value().holder == server.value().role();
        outcomes.push_back(LockOutcome{localPath(path), mine, drawingLock(held.value())});
    }
    return outcomes;
}

Expected<std::vector<LockOutcome>> unlock(const Session& session,
                                          const std::vector<OdString>& typed, bool force) {
    auto opened = openForRemote(session, LockMode::shared);
    if (!opened.hasValue())
        return opened.error();
    const auto paths = serverPaths(opened.value().place, typed);
    if (!paths.hasValue())
        return paths.error();
    auto server = connectRemote(opened.value().db, session.reporter);
    if (!server.hasValue())
        return server.error();
    std::vector<LockOutcome> outcomes;
    for (const std::string& path : paths.value()) {
        const auto kept = releaseLock(server.value(), path, force);
        if (!kept.hasValue())
            return kept.error();
        LockOutcome outcome{localPath(path), !kept.value(), {}};
        if (kept.value())
            outcome.held = drawingLock(*kept.value());
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

Expected<std::vector<DrawingLock>> locks(const Session& session) {
    auto opened = openForRemote(session, LockMode::shared);
    if (!opened.hasValue())
        return opened.error();
    auto server = connectRemote(opened.value().db, session.reporter);
    if (!server.hasValue())
        return server.error();
    const auto all = allLocks(server.value());
    if (!all.hasValue())
        return all.error();
    std::vector<DrawingLock> out;
    for (const LockRecord& l : all.value())
        out.push_back(drawingLock(l));
    return out;
}

Expected<std::vector<DrawingLock>> locksOfOthers(const std::string& conninfo, Reporter& reporter,
                                                 int seconds) {
    auto server = ServerConnection::connect(conninfo, reporter, seconds);
    if (!server.hasValue())
        return server.error();
    const auto all = allLocks(server.value());
    if (!all.hasValue())
        return all.error();
    std::vector<DrawingLock> out;
    for (const LockRecord& l : all.value()) {
        if (l.holder != server.value().role())
            out.push_back(drawingLock(l));
    }
    return out;
}

}  // namespace client
