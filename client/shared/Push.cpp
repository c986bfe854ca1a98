// push: a clone's commits sent to its server, in the phases of PushPhases.h.
#include <client/shared/PushPhases.h>

#include <set>

#include <common/StoragePaths.h>

#include <client/SharedOperations.h>
#include <client/Text.h>
#include <client/shared/Lockable.h>
#include <client/shared/RemoteCopies.h>
#include <client/shared/RemoteSettings.h>
#include <client/shared/ServerLocks.h>
#include <client/shared/ServerPaths.h>
#include <client/store/HostStorage.h>
#include <client/tree/HostFiles.h>
#include <client/tree/SafePaths.h>

namespace client {

namespace {

OdString fromUtf8(const std::string& text) {
    return OdString(text.data(), text.size(), kCodePageUtf8);
}

ErrorMessage behind() {
    return hostError("the server has commits this clone lacks: run rvk pull first");
}

ErrorMessage needsLocks(const std::vector<std::string>& paths) {
    std::string text = "push changes nothing: it changes lockable files without their lock:";
    for (const std::string& path : paths)
        text += "\n  " + shownPath(path) + " is not locked by you: lock it first";
    return hostError(text);
}

// The lockable files the server has that the commits change without this role's lock on them.
// The server's push function refuses them in the end whatever this finds; asked first, a drafter
// is not made to wait for the upload of a large drawing that would then be refused.
Expected<std::vector<std::string>> withoutTheirLock(Repository& r, ServerConnection& server,
                                                    const Standing& standing) {
    std::set<std::string> changed;
    for (const ServerCommit& c : standing.own.sent) {
        for (const ServerChange& change : c.changes)
            changed.insert(change.path);
    }
    const auto onServer =
        r.db.trackedFiles(standing.base ? boost::optional<std::uint64_t>(standing.base) : boost::none);
    if (!onServer.hasValue())
        return onServer.error();
    std::vector<std::string> asked;
    for (const std::string& path : changed) {
        if (onServer.value().count(localPath(path)) > 0)
            asked.push_back(path);
    }
    std::vector<std::string> missing;
    if (asked.empty())
        return missing;
    const auto standings = lockStandings(server, asked);
    if (!standings.hasValue())
        return standings.error();
    for (const LockStanding& s : standings.value()) {
        if (s.lockable && s.holder.empty())
            missing.push_back(s.path);
    }
    return missing;
}

}  // namespace

Expected<PushPlan> planPush(Repository& r, ServerConnection& server) {
    PushPlan plan;
    auto where = standing(r, server);
    if (!where.hasValue())
        return where.error();
    plan.standing = std::move(where.value());
    if (plan.standing.top > plan.standing.base)
        return behind();
    const auto unlocked = withoutTheirLock(r, server, plan.standing);
    if (!unlocked.hasValue())
        return unlocked.error();
    if (!unlocked.value().empty())
        return needsLocks(unlocked.value());
    auto store = databaseCopies(server);
    std::set<std::pair<std::string, std::string>> seen;
    for (const ServerCommit& c : plan.standing.own.sent) {
        for (const ServerChange& change : c.changes) {
            if (!change.url || !seen.insert({*change.url, *change.sha256}).second)
                continue;
            const auto has = store->has(*change.url, *change.sha256);
            if (!has.hasValue())
                return has.error();
            if (!has.value())
                plan.copies.emplace_back(*change.url, *change.sha256);
        }
    }
    for (const auto& [url, sha256] : plan.copies) {
        FileStat info;
        const auto stored = storedCopyPath(r.root, fromUtf8(url));
        if (!stored.hasValue())
            return stored.error();
        if (lookAt(utf8(stored.value()), &info) != PathKind::file)
            return hostError("the stored copy " + quoteName(url) + " is missing; see rvk verify");
        plan.sizes.push_back(info.size);
        plan.bytes += info.size;
    }
    return plan;
}

Expected<void> sendPush(Repository& r, ServerConnection& server, const Session& session,
                        const PushPlan& plan) {
    auto store = databaseCopies(server);
    std::uint64_t sent = 0;
    bool cancelled = false;
    for (std::size_t i = 0; i < plan.copies.size(); ++i) {
        const auto& [url, sha256] = plan.copies[i];
        const auto put = store->put(url, sha256, plan.sizes[i], [&](const ChunkSink& sink) {
            return readCopy(r.root, fromUtf8(url), [&](const char* data, std::size_t n) {
                sent += n;
                cancelled = !session.reporter.progress(
                    Progress{"sending", i, plan.copies.size(), sent, true});
                return !cancelled && sink(data, n);
            });
        });
        if (cancelled)
            return cancelledError();
        if (!put.hasValue())
            return put.error();
        session.reporter.progress(Progress{"sending", i + 1, plan.copies.size(), sent, true});
    }
    return {};
}

Expected<Appended> appendPush(Repository& r, ServerConnection& server, const PushPlan& plan,
                              bool keepLocks) {
    auto appended = appendCommits(server, plan.standing.base, plan.standing.own.sent, keepLocks);
    if (!appended.hasValue())
        return appended.error();
    if (appended.value().behind)
        return behind();
    if (!appended.value().lockedByOthers.empty()) {
        std::string text = "push changes nothing: it changes files that others have locked:";
        for (const LockRecord& l : appended.value().lockedByOthers)
            text += "\n  " + shownPath(l.path) + " (locked by " + quoteName(l.holder) + " since " +
                    l.taken + ")";
        return hostError(text);
    }
    if (!appended.value().unlocked.empty())
        return needsLocks(appended.value().unlocked);
    // The commits are the server's now, and so is their author: the login that pushed them.
    DatabaseTransaction transaction(r.db);
    if (auto begun = transaction.begin(); !begun.hasValue())
        return begun.error();
    const auto named = r.db.setAuthors(plan.standing.base + 1, appended.value().head,
                                       fromUtf8(server.role()));
    if (!named.hasValue())
        return named.error();
    const auto moved = r.db.setRemoteSetting(kBaseKey, std::to_string(appended.value().head));
    if (!moved.hasValue())
        return moved.error();
    if (auto committed = transaction.commit(); !committed.hasValue())
        return committed.error();
    return std::move(appended.value());
}

Expected<Pushed> push(const Session& session, bool keepLocks) {
    auto linked = openLinked(session, LockMode::exclusive);
    if (!linked.hasValue())
        return linked.error();
    Repository& r = linked.value().repo;
    ServerConnection& server = linked.value().server;
    // A pull cut off before HEAD moved would leave HEAD on an id that now means another commit.
    // Working files it still cannot update wait for a pull; what is pushed never depends on them.
    const auto completed = finishPending(r);
    if (!completed.hasValue())
        return completed.error();
    for (const OdString& path : completed.value().held)
        session.reporter.note(hostError("the pull that was cut off cannot update " +
                                        quoteName(utf8(path)) +
                                        ": it is open in another program; close it there and "
                                        "run rvk pull"));
    const auto plan = planPush(r, server);
    if (!plan.hasValue())
        return plan.error();
    Pushed pushed;
    pushed.commits = plan.value().standing.landed;
    pushed.head = plan.value().standing.base;
    if (plan.value().standing.own.sent.empty())
        return pushed;
    if (const auto sent = sendPush(r, server, session, plan.value()); !sent.hasValue())
        return sent.error();
    const auto appended = appendPush(r, server, plan.value(), keepLocks);
    if (!appended.hasValue())
        return appended.error();
    pushed.appended = true;
    pushed.commits += plan.value().standing.own.sent.size();
    pushed.copies = plan.value().copies.size();
    pushed.bytes = plan.value().bytes;
    pushed.head = appended.value().head;
    for (const std::string& path : appended.value().released)
        pushed.released.push_back(localPath(path));
    // The locks the push gave back leave their files read-only here, as in every other clone.
    // The push has landed: a failure now is the user's to hear of, not the push's.
    if (!pushed.released.empty()) {
        auto rules = fetchLockableRules(server);
        if (rules.hasValue())
            applyAccess(r.root, pushed.released, LockView{std::move(rules.value()), {}},
                        session.reporter);
        else
            session.reporter.note(hostError("the files whose locks the push released stay as "
                                            "they were: " + utf8(rules.error().message)));
    }
    return pushed;
}

}  // namespace client
