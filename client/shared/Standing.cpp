// Where a clone stands against its server, and what clone, push, pull and uncommit share.
//
// Commit ids are the server's: commit N is the N-th of the shared history in every clone. A
// clone's own commits take the ids after its newest server commit (the "base", kept in rvk.db);
// when the server has moved on meanwhile, pull gives them the ids after the server's head and
// puts them on top of its commits (each keeps its own changes, its message and its time).
//
// Everything that comes from the server is input: every path passes isTrackablePath() and
// checkWorkingPath(), every URL storedCopyPath(), and every copy is checked against its digest
// before it is stored, all before a working file is touched. Working files are written through
// restoreFiles(), the road restore takes: copied into ".rvk", checked, renamed into place.
//
// Interrupted anywhere, a command run again completes the work:
//   push   copies land whole or not at all, each in a transaction of its own, and the commits
//          with the head in one; a clone finds its own commits on the server by their digests.
//   pull   the drafter's bytes of files changed on both sides are set aside (or stored for a
//          commit that keeps them) before anything else; copies are stored before any commit
//          names them; the commits, the new base and a note of the working files still to update
//          (with how conflicts were settled) change in one SQLite transaction; the note goes
//          only when HEAD and every working file are in place (a file held open by another
//          program keeps it until a later run finds it closed), and any command that pulls
//          finishes a noted update first.
#include <client/shared/Standing.h>

#include <algorithm>
#include <map>
#include <new>
#include <sstream>

#include <common/FileStorage.h>
#include <common/StoragePaths.h>

#include <client/Text.h>
#include <client/shared/RemoteSettings.h>
#include <client/shared/ServerPaths.h>
#include <client/tree/HostFiles.h>
#include <client/tree/SafePaths.h>
#include <client/tree/WindowsNames.h>

namespace client {

namespace {

OdString fromUtf8(const std::string& text) {
    return OdString(text.data(), text.size(), kCodePageUtf8);
}

bool isDigest(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

}  // namespace

Expected<std::uint64_t> numberSetting(Database& db, const char* key) {
    auto value = db.remoteSetting(key);
    if (!value.hasValue())
        return value.error();
    if (!value.value())
        return std::uint64_t{0};
    try {
        return static_cast<std::uint64_t>(std::stoull(*value.value()));
    } catch (const std::exception&) {
        return hostError("rvk.db holds a damaged setting " + quoteName(key));
    }
}


// The changes from `before` to `after`, ordered by path, with the digests of the copies.
Expected<std::vector<ServerChange>> changesBetween(Database& db, const common::RootPath& root,
                                                   const TrackedFiles& before,
                                                   const TrackedFiles& after) {
    std::map<std::string, ServerChange> changes;
    for (const auto& [path, url] : before) {
        if (after.count(path) == 0)
            changes[serverPath(path)] = ServerChange{serverPath(path), boost::none, boost::none};
    }
    for (const auto& [path, url] : after) {
        const auto old = before.find(path);
        if (old != before.end() && old->second == url)
            continue;
        const auto digest = copyDigest(db, root, url);
        if (!digest.hasValue())
            return digest.error();
        changes[serverPath(path)] = ServerChange{serverPath(path), utf8(url), utf8(digest.value())};
    }
    std::vector<ServerChange> ordered;
    for (auto& [path, change] : changes)
        ordered.push_back(std::move(change));
    return ordered;
}

// Checks a change from the server as restore checks the database's paths and URLs.
Expected<void> checkChange(const common::RootPath& root, const ServerChange& change) {
    const std::string shown = quotePath(change.path);
    if (!isTrackablePath(change.path))
        return hostError("the server names the path " + shown +
                         ", which leads outside the working tree or into .rvk");
    // Where folders take names as Windows does, a name that Windows would refuse or change (a
    // "\\" in it would even become a folder) is refused here, before it becomes a local path.
    if (hostNaming().windowsNames) {
        if (const auto problem = windowsNameProblem(change.path))
            return hostError("the server names the path " + shown + ", which Windows cannot hold: " +
                             *problem);
    }
    const auto inside = checkWorkingPath(root, localPath(change.path), "the server");
    if (!inside.hasValue())
        return inside;
    if (!change.url)
        return {};
    if (!change.sha256 || !isDigest(*change.sha256))
        return hostError("the server gives " + shown + " a copy without a sound digest");
    const OdString url = fromUtf8(*change.url);
    const auto stored = storedCopyPath(root, url);
    if (!stored.hasValue())
        return stored.error();
    if (common::urlToType(url) == common::FileStorage::Generic && utf8(url.mid(2)) != *change.sha256)
        return hostError("the server gives " + shown + " a copy whose URL " +
                         quoteName(*change.url) + " does not match its digest");
    return {};
}

// Moves HEAD in the state file; the Cache that ends here writes it.
Expected<void> setHead(Repository& r, std::uint64_t head, const std::set<OdString>& unstaged) {
    const auto written = changeState(r.cache.value(), *r.io, [&](common::State& state) {
        state.head.commit = head;
        auto& staged = state.stagedFiles;
        staged.erase(std::remove_if(staged.begin(), staged.end(),
                                    [&](const common::StagedFile& file) {
                                        return unstaged.count(file.path) > 0;
                                    }),
                     staged.end());
    });
    if (!written.hasValue())
        return hostError("the state file could not be written: run rvk pull again");
    // Loaded again for what follows; a Cache cannot be assigned, so it is made in place.
    r.cache.~Expected<common::Cache>();
    new (&r.cache) Expected<common::Cache>(common::Cache::get(r.root, false, *r.io));
    if (!r.cache.hasValue())
        return r.cache.error();
    return {};
}


// Completes a pull whose commits are in rvk.db: HEAD, then the working files. Nothing to do
// without a noted one.
Expected<Completed> finishPending(Repository& r) {
    auto pending = r.db.remoteSetting(kPendingKey);
    if (!pending.hasValue())
        return pending.error();
    if (!pending.value())
        return Completed{};
    std::istringstream fields(*pending.value());
    std::uint64_t oldHead = 0, newHead = 0, from = 0;
    if (!(fields >> oldHead >> newHead >> from))
        return hostError("rvk.db holds a damaged note of an unfinished pull");
    const auto server = numberSetting(r.db, kBaseKey);
    if (!server.hasValue())
        return server.error();
    const auto note = r.db.remoteSetting(kSettledKey);
    if (!note.hasValue())
        return note.error();
    Settled settled;
    if (note.value()) {
        auto parsed = parseSettled(*note.value());
        if (!parsed.hasValue())
            return parsed.error();
        settled = std::move(parsed.value());
    }
    const auto head = r.cache.value().read().head.commit;
    if (head.value_or(0) == oldHead && oldHead != newHead) {
        std::set<OdString> unstaged(settled.keeping);
        for (const auto& [path, digest] : settled.replacing)
            unstaged.insert(path);
        auto moved = setHead(r, newHead, unstaged);
        if (!moved.hasValue())
            return moved.error();
    }
    auto before = r.db.trackedFiles(from ? boost::optional<std::uint64_t>(from) : boost::none);
    auto after = r.db.trackedFiles(server.value() ? boost::optional<std::uint64_t>(server.value())
                                                  : boost::none);
    if (!before.hasValue() || !after.hasValue())
        return !before.hasValue() ? before.error() : after.error();
    auto plan = planPull(r.db, r.root, before.value(), after.value(), {}, settled);
    if (!plan.hasValue())
        return plan.error();
    if (!plan.value().conflicts.empty() || !plan.value().blocked.empty())
        return refusal(plan.value());
    auto applied = updateWorkingTree(r.root, plan.value());
    if (!applied.hasValue())
        return applied.error();
    Completed completed{true, applied.value().files, std::move(applied.value().held)};
    if (!completed.held.empty())
        return completed;
    // Both notes go at once: the settlement alone left behind would not be followed, but the
    // note alone would find the kept files conflicts.
    DatabaseTransaction transaction(r.db);
    if (auto begun = transaction.begin(); !begun.hasValue())
        return begun.error();
    for (const char* key : {kPendingKey, kSettledKey}) {
        if (auto cleared = r.db.setRemoteSetting(key, boost::none); !cleared.hasValue())
            return cleared.error();
    }
    if (auto committed = transaction.commit(); !committed.hasValue())
        return committed.error();
    return completed;
}

namespace {

// The clone's commits after `base`, oldest first, each with its files.
Expected<std::vector<std::pair<CommitRecord, TrackedFiles>>> localCommits(
    Database& db, boost::optional<std::uint64_t> head, std::uint64_t base) {
    std::vector<std::pair<CommitRecord, TrackedFiles>> commits;
    auto history = db.history(head);
    if (!history.hasValue())
        return history.error();
    for (const CommitRecord& c : history.value()) {
        if (c.id <= base)
            break;
        auto files = db.trackedFiles(c.id);
        if (!files.hasValue())
            return files.error();
        commits.emplace_back(c, std::move(files.value()));
    }
    std::reverse(commits.begin(), commits.end());
    return commits;
}

}  // namespace


Expected<OwnCommits> ownCommits(Repository& r, std::uint64_t base) {
    OwnCommits own;
    auto local = localCommits(r.db, r.cache.value().read().head.commit, base);
    if (!local.hasValue())
        return local.error();
    own.local = std::move(local.value());
    auto before = r.db.trackedFiles(base ? boost::optional<std::uint64_t>(base) : boost::none);
    if (!before.hasValue())
        return before.error();
    const TrackedFiles* previous = &before.value();
    for (const auto& [record, files] : own.local) {
        ServerCommit c;
        c.id = record.id;
        c.time = record.time;
        c.message = utf8(record.message);
        auto changes = changesBetween(r.db, r.root, *previous, files);
        if (!changes.hasValue())
            return changes.error();
        c.changes = std::move(changes.value());
        c.digest = commitDigest(c.id, c);
        own.sent.push_back(std::move(c));
        previous = &files;
    }
    return own;
}

// A push cut off after the server took it leaves the clone's first own commits on the server
// already: found by their digests, they become the clone's base, as a completed push would have
// made them. How many there were.
Expected<std::size_t> takeLanded(Repository& r, ServerConnection& server, std::uint64_t& base,
                                 std::uint64_t top, OwnCommits& own) {
    if (top <= base || own.sent.empty())
        return std::size_t{0};
    const auto theirs =
        fetchCommits(server, base, std::min<std::uint64_t>(top, base + own.sent.size()));
    if (!theirs.hasValue())
        return theirs.error();
    std::size_t landed = 0;
    while (landed < theirs.value().size() && theirs.value()[landed].digest == own.sent[landed].digest)
        ++landed;
    if (landed == 0)
        return landed;
    for (std::size_t i = 0; i < landed; ++i) {
        const ServerCommit& c = theirs.value()[i];
        auto named = r.db.setAuthors(c.id, c.id, OdString(c.author.c_str(), kCodePageUtf8));
        if (!named.hasValue())
            return named.error();
    }
    auto moved = r.db.setRemoteSetting(kBaseKey, std::to_string(base + landed));
    if (!moved.hasValue())
        return moved.error();
    base += landed;
    const auto cut = static_cast<std::ptrdiff_t>(landed);
    own.local.erase(own.local.begin(), own.local.begin() + cut);
    own.sent.erase(own.sent.begin(), own.sent.begin() + cut);
    return landed;
}

// The paths that any of the clone's own commits changed, each against the one before it: a file
// edited and then put back byte for byte was still touched, and the server's change to it must
// not be taken for no change at all.
std::set<OdString> touchedPaths(const TrackedFiles& base, const OwnCommits& own) {
    std::set<OdString> touched;
    const TrackedFiles* previous = &base;
    for (const auto& [record, files] : own.local) {
        for (const OdString& path : changedPaths(*previous, files))
            touched.insert(path);
        previous = &files;
    }
    return touched;
}


Expected<Standing> standing(Repository& r, ServerConnection& server) {
    Standing s;
    auto base = numberSetting(r.db, kBaseKey);
    if (!base.hasValue())
        return base.error();
    s.base = base.value();
    auto top = serverHead(server);
    if (!top.hasValue())
        return top.error();
    s.top = top.value();
    if (s.top < s.base)
        return hostError("the server's history ends at commit " + std::to_string(s.top) +
                         ", before commit " + std::to_string(s.base) +
                         " this clone took from it: is the remote another repository?");
    const std::uint64_t head = r.cache.value().read().head.commit.value_or(0);
    if (head < s.base)
        return hostError("HEAD is commit " + std::to_string(head) +
                         ", older than the server's commit " + std::to_string(s.base) +
                         " this clone holds");
    auto own = ownCommits(r, s.base);
    if (!own.hasValue())
        return own.error();
    s.own = std::move(own.value());
    auto landed = takeLanded(r, server, s.base, s.top, s.own);
    if (!landed.hasValue())
        return landed.error();
    s.landed = landed.value();
    return s;
}

Expected<ServerConnection> connectChecked(const std::string& conninfo, Reporter& reporter) {
    auto server = ServerConnection::connect(conninfo, reporter);
    if (!server.hasValue())
        return server;
    auto sound = server.value().checkSchema();
    if (!sound.hasValue())
        return sound.error();
    return server;
}

Expected<ServerConnection> connectRemote(Database& db, Reporter& reporter) {
    auto conninfo = db.remoteSetting(kRemoteKey);
    if (!conninfo.hasValue())
        return conninfo.error();
    if (!conninfo.value())
        return hostError("this repository has no remote (rvk remote set CONNINFO names one)");
    return connectChecked(*conninfo.value(), reporter);
}

Expected<Linked> openLinked(const Session& session, LockMode mode, bool toChange) {
    auto repo = toChange ? openToChange(session) : openRepository(session, mode);
    if (!repo.hasValue())
        return repo.error();
    auto server = connectRemote(repo.value().db, session.reporter);
    if (!server.hasValue())
        return server.error();
    return Linked{std::move(repo.value()), std::move(server.value())};
}

}  // namespace client
