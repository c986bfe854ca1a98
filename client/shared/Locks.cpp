// Drawing locks on the server, and the remote settings of a clone.
#include <client/SharedOperations.h>
#include <client/Text.h>
#include <client/base/Repository.h>
#include <client/shared/Lockable.h>
#include <client/shared/RemoteSettings.h>
#include <client/shared/ServerHistory.h>
#include <client/shared/ServerLocks.h>
#include <client/shared/ServerPaths.h>
#include <client/shared/Standing.h>
#include <client/tree/HostFiles.h>

namespace client {

namespace {

// The repository of the user's folder, locked, with its database: what the lock operations and
// the remote settings need.
struct Opened {
    LockedPlace locked;
    Database db;
};

Expected<Opened> openForRemote(const Session& session, LockMode mode) {
    auto locked = lockPlace(session, mode);
    if (!locked.hasValue())
        return locked.error();
    auto db = Database::open(locked.value().place.root.dbPath());
    if (!db.hasValue())
        return db.error();
    return Opened{std::move(locked.value()), std::move(db.value())};
}

// The locks on the server, all or only those of roles other than the connection's.
Expected<std::vector<DrawingLock>> heldLocks(ServerConnection& server, bool othersOnly) {
    const auto all = allLocks(server);
    if (!all.hasValue())
        return all.error();
    std::vector<DrawingLock> out;
    for (const LockRecord& l : all.value()) {
        if (!othersOnly || l.holder != server.role())
            out.push_back(DrawingLock{localPath(l.path), l.holder, l.taken});
    }
    return out;
}

// The server's paths of the files `typed` names, from where the user stands, and that place.
struct Named {
    Place place;
    std::vector<std::string> paths;
};

Expected<Named> serverPaths(const Session& session, const std::vector<OdString>& typed) {
    auto place = findRoot(session);
    if (!place.hasValue())
        return place.error();
    Named named{std::move(place.value()), {}};
    for (const OdString& word : typed) {
        const auto path = repositoryPath(named.place, utf8(word));
        if (!path.hasValue())
            return path.error();
        named.paths.push_back(serverPath(path.value()));
    }
    return named;
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
    const auto named = serverPaths(session, typed);
    if (!named.hasValue())
        return named.error();
    const std::vector<std::string>& paths = named.value().paths;
    // A lock names one drawing: a folder's would hold nothing (its files are other paths). Each
    // path is checked as the server checks it before the first lock is taken: the server's refusal
    // of one would come after the locks of those before it, which the caller never hears of.
    for (const std::string& path : paths) {
        if (const auto problem = serverPathProblem(path))
            return hostError(shownPath(path) + " cannot be locked: " + *problem);
        if (lookAt(utf8(named.value().place.root.pathTo(localPath(path)))) == PathKind::folder)
            return hostError(shownPath(path) + " is a folder: rvk lock takes files, not folders");
    }
    auto linked = openLinked(session, LockMode::shared);
    if (!linked.hasValue())
        return linked.error();
    ServerConnection& server = linked.value().server;
    std::vector<LockOutcome> outcomes;
    LockView mine;
    std::vector<OdString> taken;
    for (const std::string& path : paths) {
        const auto held = takeLock(server, path);
        if (!held.hasValue())
            return held.error();
        const bool done = held.value().holder == server.role();
        outcomes.push_back(LockOutcome{localPath(path), done, drawingLock(held.value())});
        if (done) {
            mine.held.insert(path);
            taken.push_back(localPath(path));
        }
    }
    // What this role holds, it may change: a drawing read-only until now opens for writing.
    applyAccess(linked.value().repo.root, taken, mine, session.reporter);
    return outcomes;
}

Expected<std::vector<LockOutcome>> unlock(const Session& session,
                                          const std::vector<OdString>& typed, bool force) {
    const auto named = serverPaths(session, typed);
    if (!named.hasValue())
        return named.error();
    auto linked = openLinked(session, LockMode::shared);
    if (!linked.hasValue())
        return linked.error();
    auto rules = fetchLockableRules(linked.value().server);
    if (!rules.hasValue())
        return rules.error();
    std::vector<LockOutcome> outcomes;
    std::vector<OdString> released;
    for (const std::string& path : named.value().paths) {
        const auto kept = releaseLock(linked.value().server, path, force);
        if (!kept.hasValue())
            return kept.error();
        LockOutcome outcome{localPath(path), !kept.value(), {}};
        if (kept.value())
            outcome.held = drawingLock(*kept.value());
        else
            released.push_back(localPath(path));
        outcomes.push_back(std::move(outcome));
    }
    // Released, a lockable file is read-only again here; another role's released by force is
    // another clone's file, and this one's copy of it was read-only already.
    applyAccess(linked.value().repo.root, released, LockView{std::move(rules.value()), {}},
                session.reporter);
    return outcomes;
}

Expected<std::vector<DrawingLock>> locks(const Session& session) {
    auto linked = openLinked(session, LockMode::shared);
    if (!linked.hasValue())
        return linked.error();
    return heldLocks(linked.value().server, false);
}

Expected<std::vector<std::string>> lockableRules(const Session& session) {
    auto linked = openLinked(session, LockMode::shared);
    if (!linked.hasValue())
        return linked.error();
    auto rows = linked.value().server.query("SELECT rule FROM rvk.lockable_rules ORDER BY seq");
    if (!rows.hasValue())
        return rows.error();
    std::vector<std::string> rules;
    for (int i = 0; i < rows.value().rows(); ++i)
        rules.push_back(rows.value().text(i, 0));
    return rules;
}

Expected<void> setLockableRules(const Session& session, const std::vector<std::string>& rules) {
    auto linked = openLinked(session, LockMode::exclusive);
    if (!linked.hasValue())
        return linked.error();
    Repository& r = linked.value().repo;
    ServerConnection& server = linked.value().server;
    const auto before = keptLockableRules(r.db);
    if (!before.hasValue())
        return before.error();
    if (auto set = server.query("SELECT rvk.set_lockable($1::text[])", {textArray(rules)}); !set.hasValue())
        return set.error();
    const auto view = fetchLockView(server);
    if (!view.hasValue())
        return view.error();
    if (const auto kept = keepLockableRules(r.db, view.value().rules); !kept.hasValue())
        return kept.error();
    std::vector<OdString> paths;
    for (const auto& tracked : r.head)
        paths.push_back(tracked.first);
    applyAccess(r.root, paths, view.value(), session.reporter, &before.value());
    return {};
}

Expected<std::vector<DrawingLock>> locksOfOthers(const std::string& conninfo, Reporter& reporter,
                                                 int seconds) {
    auto server = ServerConnection::connect(conninfo, reporter, seconds);
    if (!server.hasValue())
        return server.error();
    return heldLocks(server.value(), true);
}

}  // namespace client
