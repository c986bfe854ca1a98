// The settle phase of pull (PullPhases.h): files changed both here and on the server, settled as
// the pull was asked to, before anything of the pull reaches rvk.db or a working file.
//
// The drafter's bytes come first. With Conflicts::theirs they are copied beside the file and
// flushed before anything else happens, so that a pull cut off at any later point has lost
// nothing, and a rerun finds the copy by its bytes instead of making another. With
// Conflicts::mine they are stored as the copies of a new commit, which the pull's transaction
// records; the working files stay as they are. Either way the note of the unfinished pull carries
// how its conflicts were settled (Settled), so that the pull that completes it replaces only the
// bytes that were set aside and leaves the kept files alone.
#include <client/shared/PullPhases.h>

#include <ctime>

#include <common/FileStorage.h>
#include <platform/UserName.h>

#include <client/Text.h>
#include <client/shared/ServerLocks.h>
#include <client/shared/ServerPaths.h>
#include <client/store/HostStorage.h>
#include <client/tree/HostFiles.h>

namespace client {

namespace {

OdString fromUtf8(const std::string& text) {
    return OdString(text.data(), text.size(), kCodePageUtf8);
}

// Where the drafter's newest bytes of a file changed on both sides are.
struct DrafterSide {
    enum class From { working, stored, removed };
    OdString path;
    From from = From::removed;
    OdString url;            // From::stored: the copy in this clone's newest commit
    OdString digest;         // From::working, From::stored: of those bytes
    bool asServer = false;   // the server's version already: nothing to settle
};

// The working file when there is one; otherwise, unless its removal is staged, the version of
// this clone's newest commit, when one of its commits changed the file; otherwise none: the
// drafter removed it.
Expected<DrafterSide> drafterSide(Repository& r, const OdString& path, const TrackedFiles& baseFiles,
                                  const TrackedFiles& headFiles, bool removalStaged) {
    DrafterSide side;
    side.path = path;
    const std::string working = utf8(r.root.pathTo(path));
    const PathKind there = lookAt(working);
    if (there == PathKind::file) {
        auto digest = fileDigest(working, utf8(path));
        if (!digest.hasValue())
            return digest.error();
        side.from = DrafterSide::From::working;
        side.digest = digest.value();
        return side;
    }
    if (there != PathKind::none)
        return hostError("pull changes nothing: " + quotePath(path) +
                         " changed both here and on the server, and here it is " +
                         (there == PathKind::folder ? "a folder" : "no regular file") +
                         ": move it away, then pull again");
    const auto head = headFiles.find(path);
    const auto base = baseFiles.find(path);
    if (removalStaged || head == headFiles.end() ||
        (base != baseFiles.end() && base->second == head->second))
        return side;
    auto digest = copyDigest(r.db, r.root, head->second);
    if (!digest.hasValue())
        return digest.error();
    side.from = DrafterSide::From::stored;
    side.url = head->second;
    side.digest = digest.value();
    return side;
}

// The name of the `n`-th copy set aside for `path`: "plan.mine.dwg", then "plan.mine-2.dwg";
// "notes.mine" for a name without an extension (".profile" has none).
OdString asideName(const OdString& path, int n) {
    const std::string text = utf8(path);
    const std::size_t slash = text.find_last_of(kHostSeparators);
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = text.rfind('.');
    if (dot == std::string::npos || dot <= nameStart)
        dot = text.size();
    const std::string mark = ".mine" + (n > 1 ? "-" + std::to_string(n) : std::string());
    return fromUtf8(text.substr(0, dot) + mark + text.substr(dot));
}

// Keeps the drafter's bytes of `side` beside the file under the first free name that no snapshot
// of the pull tracks, or finds them kept there already; the name.
Expected<OdString> setAside(Repository& r, const DrafterSide& side,
                            const std::set<OdString>& tracked) {
    constexpr int kNames = 999;
    for (int n = 1; n <= kNames; ++n) {
        const OdString name = asideName(side.path, n);
        if (tracked.count(name) > 0)
            continue;
        const std::string full = utf8(r.root.pathTo(name));
        const PathKind there = lookAt(full);
        if (there == PathKind::file) {
            const auto held = fileDigest(full, utf8(name));
            if (held.hasValue() && held.value() == side.digest)
                return name;
            continue;
        }
        if (there != PathKind::none)
            continue;
        if (const std::string problem = lengthProblem(full); !problem.empty())
            return hostError("pull changes nothing: cannot keep your " + quotePath(side.path) +
                             " beside it: " + problem);
        const auto written =
            setAsideCopy(r.root, side.path,
                         side.from == DrafterSide::From::stored ? boost::optional<OdString>(side.url)
                                                                : boost::none,
                         side.digest, name);
        if (!written.hasValue())
            return written.error();
        return name;
    }
    return hostError("pull changes nothing: cannot keep your " + quotePath(side.path) +
                     " beside it: " + quotePath(asideName(side.path, kNames)) +
                     " and every name of that kind before it are taken");
}

// Fails naming each of `sides` that a push of the commit keeping it would be refused for: a
// lockable file the server has, not locked by this role, or any file another role locked.
Expected<void> checkLocks(ServerConnection& server, const std::vector<const DrafterSide*>& sides,
                          const TrackedFiles& serverFiles) {
    std::vector<std::string> paths;
    for (const DrafterSide* side : sides)
        paths.push_back(serverPath(side->path));
    const auto standings = lockStandings(server, paths);
    if (!standings.hasValue())
        return standings.error();
    std::string problems;
    for (const LockStanding& s : standings.value()) {
        if (s.holder == server.role())
            continue;
        const std::string line = "\n  " + shownPath(s.path) + " is not locked by you: lock it first";
        if (!s.holder.empty())
            problems += line + " (" + quoteName(s.holder) + " holds its lock)";
        else if (s.lockable && serverFiles.count(localPath(s.path)) > 0)
            problems += line;
    }
    if (problems.empty())
        return {};
    return hostError("pull changes nothing: keeping your versions of files changed both here and "
                     "on the server needs their locks:" +
                     problems);
}

// Stores the drafter's versions of `sides` for the commit `id` on top of `files`.
Expected<Replayed::Kept> keepVersions(Repository& r, const std::vector<const DrafterSide*>& sides,
                                      std::uint64_t id, TrackedFiles files, std::int64_t time) {
    Replayed::Kept kept;
    for (const DrafterSide* side : sides) {
        kept.paths.push_back(side->path);
        if (side->from == DrafterSide::From::removed) {
            files.erase(side->path);
            continue;
        }
        auto copy = side->from == DrafterSide::From::working
                        ? keepCopy(r.root, side->path, id)
                        : keepStoredCopy(r.root, side->url, side->digest, side->path, id);
        if (!copy.hasValue())
            return copy.error();
        files[side->path] = copy.value().url;
        kept.copies.push_back(std::move(copy.value()));
    }
    if (const auto flushed = flushStoredCopies(r.root); !flushed.hasValue())
        return flushed.error();
    const std::size_t n = sides.size();
    kept.record.id = id;
    kept.record.time = time;
    kept.record.message = fromUtf8("kept my " + std::string(n == 1 ? "version" : "versions") +
                                   " of " + std::to_string(n) + (n == 1 ? " file" : " files") +
                                   " after pull");
    kept.record.parent = id - 1;
    kept.record.author = fromUtf8(ut::userName());
    kept.files = std::move(files);
    return kept;
}

}  // namespace

Expected<void> settleConflicts(Repository& r, ServerConnection& server, const PullOptions& options,
                               const Standing& standing, const TrackedFiles& baseFiles,
                               const TrackedFiles& serverFiles, const Fetched& fetched,
                               Replayed& replayed) {
    if (options.conflicts == Conflicts::refuse || replayed.plan.conflicts.empty() ||
        !replayed.plan.blocked.empty())
        return {};
    const bool mine = options.conflicts == Conflicts::mine;
    const OwnCommits& own = standing.own;
    const TrackedFiles& headFiles = own.local.empty() ? baseFiles : own.local.back().second;
    std::set<OdString> removalsStaged;
    for (const common::StagedFile& staged : r.cache.value().read().stagedFiles) {
        if (staged.change == common::EFileChange::removed)
            removalsStaged.insert(staged.path);
    }

    std::vector<DrafterSide> sides;
    for (const OdString& path : replayed.plan.conflicts) {
        auto side = drafterSide(r, path, baseFiles, headFiles, removalsStaged.count(path) > 0);
        if (!side.hasValue())
            return side.error();
        const auto theirs = serverFiles.find(path);
        if (theirs == serverFiles.end()) {
            side.value().asServer = side.value().from == DrafterSide::From::removed;
        } else if (side.value().from != DrafterSide::From::removed) {
            const auto known = fetched.digests.find(theirs->second);
            auto digest = known != fetched.digests.end()
                              ? Expected<OdString>(fromUtf8(known->second))
                              : copyDigest(r.db, r.root, theirs->second);
            if (!digest.hasValue())
                return digest.error();
            side.value().asServer = digest.value() == side.value().digest;
        }
        sides.push_back(std::move(side.value()));
    }
    std::vector<const DrafterSide*> keeping;
    if (mine) {
        for (const DrafterSide& side : sides) {
            if (!side.asServer)
                keeping.push_back(&side);
        }
        if (!keeping.empty()) {
            if (const auto locked = checkLocks(server, keeping, serverFiles); !locked.hasValue())
                return locked;
        }
    }

    // This clone's commits without their changes to those files; a commit that made no other
    // change goes.
    std::vector<CommitRecord> commits;
    std::vector<TrackedFiles> files;
    for (std::size_t i = 0; i < replayed.commits.size(); ++i) {
        TrackedFiles next = replayed.files[i];
        for (const DrafterSide& side : sides) {
            const auto theirs = serverFiles.find(side.path);
            if (theirs == serverFiles.end())
                next.erase(side.path);
            else
                next[side.path] = theirs->second;
        }
        if (next == (files.empty() ? serverFiles : files.back()))
            continue;
        commits.push_back(replayed.commits[i]);
        files.push_back(std::move(next));
    }

    // The drafter's bytes, before anything else of the pull is written.
    Settled settled;
    if (mine && !keeping.empty()) {
        const std::int64_t time =
            options.keptTime ? *options.keptTime : static_cast<std::int64_t>(std::time(nullptr));
        auto kept = keepVersions(r, keeping, standing.top + commits.size() + 1,
                                 files.empty() ? serverFiles : files.back(), time);
        if (!kept.hasValue())
            return kept.error();
        replayed.kept = std::move(kept.value());
    }
    std::set<OdString> tracked;
    for (const TrackedFiles* snapshot : {&baseFiles, &serverFiles, &headFiles}) {
        for (const auto& [path, url] : *snapshot)
            tracked.insert(path);
    }
    for (const DrafterSide& side : sides) {
        if (mine && !side.asServer) {
            settled.keeping.insert(side.path);
            continue;
        }
        settled.replacing[side.path] =
            side.from == DrafterSide::From::working ? utf8(side.digest) : std::string();
        if (mine)
            continue;
        if (side.asServer || side.from == DrafterSide::From::removed) {
            replayed.taken.push_back(side.path);
            continue;
        }
        auto name = setAside(r, side, tracked);
        if (!name.hasValue())
            return name.error();
        replayed.setAside.emplace_back(side.path, name.value());
    }

    // The copies this clone's commits stored of those files, which no commit names any longer:
    // a drawing's URL is its path's and its commit's, so the server's copy under the same URL is
    // another drafter's version, which replaces this clone's (set aside or kept by now).
    for (const auto& [record, snapshot] : own.local) {
        for (const DrafterSide& side : sides) {
            const auto stored = snapshot.find(side.path);
            const auto base = baseFiles.find(side.path);
            if (stored != snapshot.end() &&
                (base == baseFiles.end() || base->second != stored->second))
                replayed.givenUp.insert(stored->second);
        }
    }

    // Planned again: the copies set aside may stand where the server's files go.
    auto plan = planPull(r.db, r.root, baseFiles, serverFiles, fetched.digests, settled);
    if (!plan.hasValue())
        return plan.error();
    const TrackedFiles& last = replayed.kept    ? replayed.kept->files
                               : files.empty() ? serverFiles
                                               : files.back();
    for (Blocked& clash : folderClashes(last))
        plan.value().blocked.push_back(std::move(clash));
    replayed.plan = std::move(plan.value());
    replayed.commits = std::move(commits);
    replayed.files = std::move(files);
    replayed.settled = std::move(settled);
    return {};
}

}  // namespace client
