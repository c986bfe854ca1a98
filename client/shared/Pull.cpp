// pull and clone: the server's commits brought into a clone, in the phases of PullPhases.h.
#include <client/shared/PullPhases.h>

#include <filesystem>
#include <set>

#include <common/FileStorage.h>
#include <common/RepoIgnore.h>
#include <common/StoragePaths.h>
#include <platform/FileName.h>

#include <client/SharedOperations.h>
#include <client/Text.h>
#include <client/shared/Lockable.h>
#include <client/shared/RemoteCopies.h>
#include <client/shared/RemoteSettings.h>
#include <client/shared/ServerPaths.h>
#include <client/tree/HostFiles.h>
#include <client/tree/SafePaths.h>

namespace client {

namespace {

OdString fromUtf8(const std::string& text) {
    return OdString(text.data(), text.size(), kCodePageUtf8);
}

boost::optional<std::uint64_t> commitOrNone(std::uint64_t id) {
    return id ? boost::optional<std::uint64_t>(id) : boost::none;
}

}  // namespace

Expected<Fetched> fetchPull(Repository& r, ServerConnection& server, std::uint64_t base,
                            std::uint64_t top, const TrackedFiles& baseFiles) {
    Fetched f;
    auto commits = fetchCommits(server, base, top);
    if (!commits.hasValue())
        return commits.error();
    f.commits = std::move(commits.value());
    for (const ServerCommit& c : f.commits) {
        for (const ServerChange& change : c.changes) {
            if (const auto sound = checkChange(r.root, change); !sound.hasValue())
                return sound.error();
        }
    }
    TrackedFiles files = baseFiles;
    for (const ServerCommit& c : f.commits) {
        for (const ServerChange& change : c.changes) {
            const OdString path = localPath(change.path);
            if (!change.url) {
                files.erase(path);
                continue;
            }
            const OdString url = fromUtf8(*change.url);
            files[path] = url;
            const auto known = f.digests.find(url);
            if (known != f.digests.end() && known->second != *change.sha256)
                return hostError("the server names two copies as " + quoteName(*change.url));
            f.digests[url] = *change.sha256;
            if (f.wantedFor.emplace(url, path).second)
                f.wanted.emplace_back(url, *change.sha256);
        }
        f.snapshots.push_back(files);
    }
    return f;
}

Expected<Replayed> replayPull(Repository& r, const TrackedFiles& baseFiles,
                              const TrackedFiles& serverFiles, const OwnCommits& own,
                              const std::map<OdString, std::string>& digests) {
    Replayed replayed;
    // HEAD's files after the pull: the server's, with the changes of each of the clone's own
    // commits on top, commit by commit.
    TrackedFiles next = serverFiles;
    const TrackedFiles* previous = &baseFiles;
    for (const auto& [record, commitFiles] : own.local) {
        for (const OdString& path : changedPaths(*previous, commitFiles)) {
            const auto now = commitFiles.find(path);
            if (now == commitFiles.end())
                next.erase(path);
            else
                next[path] = now->second;
        }
        replayed.commits.push_back(record);
        replayed.files.push_back(next);
        previous = &commitFiles;
    }
    // Refused before anything changes: a file changed on both sides (in a commit of this
    // clone's, staged, or in the working tree), and a file the working tree cannot take.
    std::set<OdString> changedHere = touchedPaths(baseFiles, own);
    for (const common::StagedFile& staged : r.cache.value().read().stagedFiles)
        changedHere.insert(staged.path);
    auto plan = planPull(r.db, r.root, baseFiles, serverFiles, digests);
    if (!plan.hasValue())
        return plan.error();
    replayed.plan = std::move(plan.value());
    std::set<OdString> conflicts(replayed.plan.conflicts.begin(), replayed.plan.conflicts.end());
    for (const OdString& path : changedPaths(baseFiles, serverFiles)) {
        if (changedHere.count(path) > 0)
            conflicts.insert(path);
    }
    replayed.plan.conflicts.assign(conflicts.begin(), conflicts.end());
    for (Blocked& clash : folderClashes(replayed.files.empty() ? serverFiles : replayed.files.back()))
        replayed.plan.blocked.push_back(std::move(clash));
    return replayed;
}

Expected<Received> applyPull(Repository& r, ServerConnection& server, const Session& session,
                             const Standing& standing, const Fetched& fetched,
                             const Replayed& replayed) {
    const std::uint64_t base = standing.base, top = standing.top;
    const std::uint64_t head = r.cache.value().read().head.commit.value_or(0);
    // The copies, each whole and checked before it is stored, and all on disk before any commit
    // names them.
    auto store = databaseCopies(server);
    std::vector<std::pair<OdString, std::string>> missing;
    for (const auto& [url, sha256] : fetched.wanted) {
        const auto record = r.db.copyRecord(url);
        if (!record.hasValue())
            return record.error();
        const auto stored = storedCopyPath(r.root, url);
        if (!stored.hasValue())
            return stored.error();
        const bool there = ut::FileName(stored.value()).exists(ut::FileName::kRegularFile);
        const bool generic = common::urlToType(url) == common::FileStorage::Generic;
        const bool differs = record.value() && utf8(record.value()->digest) != sha256 && !generic;
        if (differs && replayed.givenUp.count(url) == 0)
            return hostError("the server's copy " + quotePath(url) +
                             " differs from the one this clone holds under that URL");
        if (!there || (!record.value() && !generic) || differs)
            missing.emplace_back(url, sha256);
    }
    std::vector<KeptCopy> received;
    Received outcome;
    bool cancelled = false;
    for (const auto& [url, sha256] : missing) {
        const auto fill = [&](const std::function<bool(const char*, std::size_t)>& sink) {
            return store->get(utf8(url), sha256, [&](const char* data, std::size_t n) {
                outcome.bytes += static_cast<std::int64_t>(n);
                cancelled = !session.reporter.progress(
                    Progress{"receiving", received.size(), missing.size(),
                             static_cast<std::uint64_t>(outcome.bytes), true});
                return !cancelled && sink(data, n);
            });
        };
        auto copy = receiveCopy(r.root, url, fromUtf8(sha256), fill, quotePath(fetched.wantedFor.at(url)));
        if (cancelled)
            return cancelledError();
        if (!copy.hasValue())
            return copy.error();
        received.push_back(std::move(copy.value()));
        session.reporter.progress(Progress{"receiving", received.size(), missing.size(),
                                           static_cast<std::uint64_t>(outcome.bytes), true});
    }
    outcome.copies = received.size();
    outcome.bytes = 0;
    for (const KeptCopy& k : received)
        outcome.bytes += k.size;
    if (const auto flushed = flushStoredCopies(r.root); !flushed.hasValue())
        return flushed.error();

    // The commits: the server's, then the clone's own on top, with the new base and the note of
    // the working files to update, in one transaction.
    DatabaseTransaction transaction(r.db);
    const auto recorded = [&]() -> Expected<std::uint64_t> {
        if (auto begun = transaction.begin(); !begun.hasValue())
            return begun.error();
        if (auto cut = r.db.deleteCommitsAfter(base); !cut.hasValue())
            return cut.error();
        for (std::size_t i = 0; i < fetched.commits.size(); ++i) {
            const ServerCommit& c = fetched.commits[i];
            CommitRecord record;
            record.id = c.id;
            record.time = c.time;
            record.message = fromUtf8(c.message);
            record.author = fromUtf8(c.author);
            if (c.id > 1)
                record.parent = c.id - 1;
            auto inserted = r.db.insertCommit(record, fetched.snapshots[i],
                                              i == 0 ? received : std::vector<KeptCopy>());
            if (!inserted.hasValue())
                return inserted.error();
        }
        std::uint64_t newHead = top;
        for (std::size_t i = 0; i < replayed.commits.size(); ++i) {
            CommitRecord moved = replayed.commits[i];
            moved.id = ++newHead;
            moved.parent = newHead - 1;
            if (auto inserted = r.db.insertCommit(moved, replayed.files[i]); !inserted.hasValue())
                return inserted.error();
        }
        if (replayed.kept) {
            const Replayed::Kept& kept = *replayed.kept;
            if (kept.record.id != ++newHead)
                return hostError("the commit of the versions kept here is out of place");
            if (auto inserted = r.db.insertCommit(kept.record, kept.files, kept.copies);
                !inserted.hasValue())
                return inserted.error();
        }
        if (auto set = r.db.setRemoteSetting(kBaseKey, std::to_string(top)); !set.hasValue())
            return set.error();
        const auto settled = replayed.settled.empty()
                                 ? boost::optional<std::string>()
                                 : boost::optional<std::string>(settledText(replayed.settled));
        if (auto set = r.db.setRemoteSetting(kSettledKey, settled); !set.hasValue())
            return set.error();
        auto noted = r.db.setRemoteSetting(kPendingKey, std::to_string(head) + " " +
                                                            std::to_string(newHead) + " " +
                                                            std::to_string(base));
        if (!noted.hasValue())
            return noted.error();
        if (auto committed = transaction.commit(); !committed.hasValue())
            return committed.error();
        return newHead;
    }();
    if (!recorded.hasValue())
        return recorded.error();
    outcome.head = recorded.value();
    const auto completed = finishPending(r);
    if (!completed.hasValue())
        return completed.error();
    outcome.files = completed.value().files;
    outcome.held = completed.value().held;
    return outcome;
}

namespace {

// Brings the server's commits into the opened repository, replays the clone's own commits on top
// and updates the working files the server changed.
Expected<Pulled> pullInto(Repository& r, ServerConnection& server, const Session& session,
                          const PullEvents& events, const PullOptions& options) {
    const auto completed = finishPending(r);
    if (!completed.hasValue())
        return completed.error();
    Pulled pulled;
    if (!completed.value().held.empty()) {
        // Nothing new before those files are in place: a new pull's note would take the place of
        // the one that still names them.
        pulled.kind = Pulled::Kind::pulled;
        pulled.head = r.cache.value().read().head.commit.value_or(0);
        pulled.files = completed.value().files;
        pulled.held = completed.value().held;
        return pulled;
    }
    if (completed.value().wasCutOff && events.completedCutOff)
        events.completedCutOff(completed.value().files);
    auto where = standing(r, server);
    if (!where.hasValue())
        return where.error();
    const Standing& s = where.value();
    if (s.landed > 0 && events.landed)
        events.landed(s.landed);
    if (s.top == 0)
        return pulled;
    if (s.top == s.base) {
        pulled.kind = Pulled::Kind::upToDate;
        pulled.head = s.top;
        return pulled;
    }
    const auto baseFiles = r.db.trackedFiles(commitOrNone(s.base));
    if (!baseFiles.hasValue())
        return baseFiles.error();
    const auto fetched = fetchPull(r, server, s.base, s.top, baseFiles.value());
    if (!fetched.hasValue())
        return fetched.error();
    const TrackedFiles& serverFiles = fetched.value().snapshots.back();
    auto replayed = replayPull(r, baseFiles.value(), serverFiles, s.own, fetched.value().digests);
    if (!replayed.hasValue())
        return replayed.error();
    const auto settled = settleConflicts(r, server, options, s, baseFiles.value(), serverFiles,
                                         fetched.value(), replayed.value());
    if (!settled.hasValue())
        return settled.error();
    if (!replayed.value().plan.conflicts.empty() || !replayed.value().plan.blocked.empty())
        return refusal(replayed.value().plan, options.conflicts == Conflicts::refuse);
    const auto applied = applyPull(r, server, session, s, fetched.value(), replayed.value());
    if (!applied.hasValue())
        return applied.error();
    pulled.kind = Pulled::Kind::pulled;
    pulled.head = applied.value().head;
    pulled.commits = fetched.value().commits.size();
    pulled.copies = applied.value().copies;
    pulled.bytes = applied.value().bytes;
    pulled.files = applied.value().files;
    pulled.replayed = replayed.value().commits.size();
    pulled.setAside = replayed.value().setAside;
    pulled.taken = replayed.value().taken;
    if (replayed.value().kept) {
        pulled.kept = replayed.value().kept->paths;
        pulled.keptIn = replayed.value().kept->record.id;
    }
    pulled.held = applied.value().held;
    return pulled;
}

}  // namespace

namespace {

// A pull of the repository of `session`; a new clone (`cloning`) also gets the ignore file, unless
// the server's history brought one.
Expected<Pulled> pullHere(const Session& session, const PullEvents& events, bool cloning,
                          const PullOptions& options = {}) {
    auto linked = openLinked(session, LockMode::exclusive);
    if (!linked.hasValue())
        return linked.error();
    Repository& r = linked.value().repo;
    const common::RootPath& root = r.root;
    auto pulled = pullInto(r, linked.value().server, session, events, options);
    // The working files' access follows the locks as they are now, whatever the pull changed:
    // another role's release, or an administrator's, is news too. The pull itself is complete:
    // what fails now is a note, not the pull's failure.
    if (pulled.hasValue()) {
        const auto marked = [&]() -> Expected<void> {
            const auto view = fetchLockView(linked.value().server);
            if (!view.hasValue())
                return view.error();
            // What the rules were at the last pull: a file that only they made read-only is
            // freed. (Damaged kept rules free nothing; they are replaced below.)
            auto before = keptLockableRules(r.db);
            if (const auto kept = keepLockableRules(r.db, view.value().rules); !kept.hasValue())
                return kept.error();
            const auto files = r.db.trackedFiles(r.cache.value().read().head.commit);
            if (!files.hasValue())
                return files.error();
            std::vector<OdString> paths;
            paths.reserve(files.value().size());
            for (const auto& tracked : files.value())
                paths.push_back(tracked.first);
            applyAccess(root, paths, view.value(), session.reporter,
                        before.hasValue() ? &before.value() : nullptr);
            return {};
        }();
        if (!marked.hasValue())
            session.reporter.note(hostError("the working files' access was not brought up to "
                                            "date with the locks: " +
                                            utf8(marked.error().message)));
    }
    if (cloning && pulled.hasValue() &&
        !ut::FileName(root.ignorePath()).exists(ut::FileName::kAnyObject)) {
        if (auto written = common::RepoIgnore::write(root); !written.hasValue())
            return written.error();
    }
    return pulled;
}

}  // namespace

Expected<Pulled> pull(const Session& session, const PullEvents& events,
                      const PullOptions& options) {
    return pullHere(session, events, false, options);
}

Expected<Pulled> clone(const Session& session, const std::string& conninfo,
                       const OdString& typedFolder, const PullEvents& events) {
    if (const auto sound = checkConnInfo(conninfo); !sound.hasValue())
        return sound.error();
    // Without its ".." ("../plans" typed inside a working tree would otherwise lead the search
    // for a repository up into that tree's own).
    const std::string from = utf8(session.folder);
    const std::string given = absolutePath(utf8(typedFolder), from);
    auto typed = std::filesystem::u8path(given).lexically_normal();
    if (!typed.has_filename() && typed.has_relative_path())
        typed = typed.parent_path();  // "plans/" is the folder "plans"
    const std::string where = typed.u8string();
    const OdString folder = fromUtf8(where);
    const PathKind there = lookAt(where);
    if (there == PathKind::none) {
        if (!makeFolder(where))
            return hostError("cannot make " + quotePath(folder) + ": " + lastSystemError());
    } else if (there != PathKind::folder) {
        return hostError(quotePath(folder) + " is not a folder");
    }
    // A clone that was cut off is taken up again; any other repository or file there is not,
    // nor a folder inside another repository's working tree, whose repository the clone would
    // take for its own.
    const auto found = common::RootPath::get(folder, false);
    if (found.hasValue() && found.value().path() != folder) {
        if (there == PathKind::none)
            removeEmptyFolder(where);
        return hostError(quotePath(folder) + " lies inside the working tree of " +
                         quotePath(found.value().path()) +
                         ": clone makes a repository of its own, outside any other");
    }
    const bool resumed = found.hasValue();
    {
        if (!resumed) {
            std::error_code ec;
            if (!std::filesystem::is_empty(std::filesystem::u8path(where), ec))
                return hostError(quotePath(folder) +
                                 " is not empty: clone makes a repository in an empty folder");
            // The server is asked before the repository is made: one that cannot be reached, or
            // that holds no shared repository this kit can read, leaves nothing behind, and the
            // clone typed again with a corrected CONNINFO is not turned away as one of another
            // remote.
            if (const auto reached = connectChecked(conninfo, session.reporter);
                !reached.hasValue()) {
                if (there == PathKind::none)
                    removeEmptyFolder(where);
                return reached.error();
            }
        }
        const auto made = makeRoot(session, folder);
        if (!made.hasValue())
            return made.error();
        const common::RootPath& root = made.value().root;
        auto db = Database::create(root.dbPath());
        if (!db.hasValue())
            return db.error();
        const auto before = db.value().remoteSetting(kRemoteKey);
        if (!before.hasValue())
            return before.error();
        if (resumed && before.value() != conninfo)
            return hostError(quotePath(folder) +
                             " holds a repository that is no clone of this remote");
        CountingIo io(session.io);
        auto cache = common::Cache::get(root, true, io);
        if (!cache.hasValue())
            return cache.error();
        if (auto set = db.value().setRemoteSetting(kRemoteKey, conninfo); !set.hasValue())
            return set.error();
    }
    Session inClone = session;
    inClone.folder = folder;
    return pullHere(inClone, events, true);
}

}  // namespace client
