// remote, lock, unlock and locks: the clone's remote, and drawing locks on its server.
#include <cstdio>
#include <string>
#include <vector>

#include <client/tree/HostFiles.h>
#include "SharedHistory.h"
#include <client/shared/ServerLocks.h>
#include <client/tree/TypedNames.h>

namespace rvk {

namespace {

// The repository of the current folder, locked, with its database: what the lock commands need.
struct Opened {
    common::RepoLock lock;
    Place place;
    Database db;
};

Opened openForRemote(const Session& session) {
    auto place = orFail(findRoot(session));
    auto held = orFail(lockFor(session, place.root));
    auto db = orFail(Database::open(place.root.dbPath()));
    return Opened{std::move(held), std::move(place), std::move(db)};
}

std::vector<std::string> serverPaths(const Place& place, const std::vector<std::string>& typed) {
    std::vector<std::string> paths;
    for (const std::string& word : typed)
        paths.push_back(serverPath(orFail(repositoryPath(place, word))));
    return paths;
}

}  // namespace

int remote(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("remote", args, {});
    const auto& words = parsed.operands;
    if (words.empty()) {
        Opened opened = openForRemote(session);
        const auto conninfo = orFail(opened.db.remoteSetting(kRemoteKey));
        if (!conninfo)
            return fail(hostError("this repository has no remote (rvk remote set CONNINFO names one)"));
        // A remote set by an older rvk may hold what this one no longer keeps (a secret): it is
        // not shown, only named.
        const auto sound = checkConnInfo(*conninfo);
        if (!sound.hasValue())
            return fail(hostError("the remote is not shown: " + utf8(sound.error().message) +
                                  " (rvk remote set CONNINFO replaces it)"));
        std::printf("%s\n", escapeControls(*conninfo).c_str());
        return 0;
    }
    if (words.size() != 2 || (words[0] != "set" && words[0] != "create"))
        throw BadUsage{"remote: give nothing, 'set CONNINFO' or 'create CONNINFO'"};
    orFail(checkConnInfo(words[1]));
    if (words[0] == "create") {
        auto server = orFail(ServerConnection::connect(words[1], session.reporter));
        const Created created = orFail(server.create());
        std::printf(created == Created::made ? "created an empty shared repository on the server\n"
                    : created == Created::upgraded
                        ? "upgraded the shared repository on the server to this rvk's format\n"
                        : "the server holds a shared repository already; privileges and limits "
                          "granted again\n");
        return 0;
    }
    Opened opened = openForRemote(session);
    orFail(opened.db.setRemoteSetting(kRemoteKey, words[1]));
    std::printf("remote set\n");
    return 0;
}

int lock(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("lock", args, {});
    if (parsed.operands.empty())
        throw BadUsage{"lock: name the files to lock"};
    Opened opened = openForRemote(session);
    const auto paths = serverPaths(opened.place, parsed.operands);
    // A lock names one drawing: a folder's would hold nothing (its files are other paths).
    for (const std::string& word : parsed.operands) {
        const OdString path = orFail(repositoryPath(opened.place, word));
        if (lookAt(utf8(opened.place.root.pathTo(path))) == PathKind::folder)
            return fail(hostError(quotePath(path) + " is a folder: rvk lock takes files, not folders"));
    }
    auto server = orFail(connectRemote(opened.db, session.reporter));
    bool failed = false;
    for (const std::string& path : paths) {
        const LockRecord held = orFail(takeLock(server, path));
        if (held.holder == server.role()) {
            std::printf("locked %s\n", shownPath(path).c_str());
        } else {
            printError(hostError(shownPath(path) + " is locked by " + quoteName(held.holder) +
                                 " since " + held.taken));
            failed = true;
        }
    }
    return failed ? 1 : 0;
}

int unlock(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("unlock", args, {"--force"});
    if (parsed.operands.empty())
        throw BadUsage{"unlock: name the files to unlock"};
    const bool force = parsed.has("--force");
    Opened opened = openForRemote(session);
    const auto paths = serverPaths(opened.place, parsed.operands);
    auto server = orFail(connectRemote(opened.db, session.reporter));
    bool failed = false;
    for (const std::string& path : paths) {
        const auto kept = orFail(releaseLock(server, path, force));
        if (!kept) {
            std::printf("unlocked %s\n", shownPath(path).c_str());
            continue;
        }
        failed = true;
        if (kept->holder.empty())
            printError(hostError(shownPath(path) + " is not locked"));
        else
            printError(hostError(
                shownPath(path) + " is locked by " + quoteName(kept->holder) + " since " +
                kept->taken +
                (force ? ": only a member of rvk_admin may release another's lock"
                       : ": rvk unlock --force releases it (members of rvk_admin only)")));
    }
    return failed ? 1 : 0;
}

int locks(const std::vector<std::string>& args, const Session& session) {
    if (!parseArguments("locks", args, {}).operands.empty())
        throw BadUsage{"locks: takes no arguments"};
    Opened opened = openForRemote(session);
    auto server = orFail(connectRemote(opened.db, session.reporter));
    for (const LockRecord& l : orFail(allLocks(server)))
        std::printf("%s\t%s\t%s\n", shownPath(l.path).c_str(), escapeControls(l.holder).c_str(),
                    l.taken.c_str());
    return 0;
}

void noteLocksHeldByOthers(const std::string& conninfo) {
    // Two seconds for all of it, connecting included: status never waits long for a note.
    ConsoleReporter reporter;
    auto server = ServerConnection::connect(conninfo, reporter, 2);
    if (!server.hasValue()) {
        printError(hostError("note: locks not shown: " + utf8(server.error().message)));
        return;
    }
    const auto held = allLocks(server.value());
    if (!held.hasValue()) {
        printError(hostError("note: locks not shown: " + utf8(held.error().message)));
        return;
    }
    for (const LockRecord& l : held.value()) {
        if (l.holder != server.value().role())
            printError(hostError("note: " + shownPath(l.path) + " is locked by " +
                                 quoteName(l.holder) + " since " + l.taken));
    }
}

}  // namespace rvk
