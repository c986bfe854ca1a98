// restore: files put back into the working tree from the stored copies of a commit.
#include <chrono>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include <platform/FileName.h>

#include <client/LocalOperations.h>
#include <client/Text.h>
#include <client/base/Repository.h>
#include <client/shared/Lockable.h>
#include <client/shared/RemoteSettings.h>
#include <client/store/HostStorage.h>
#include <client/tree/HostFiles.h>
#include <client/tree/SafePaths.h>

namespace client {

namespace {

// The commit that restore takes its copies from: the one named, or HEAD's.
Expected<std::uint64_t> restoreCommit(const boost::optional<std::uint64_t>& named, Repository& r) {
    if (!named) {
        const auto head = r.cache.value().read().head.commit;
        if (!head)
            return hostError("HEAD names no commit yet: there is nothing to restore");
        return *head;
    }
    const auto known = r.db.hasCommit(*named);
    if (!known.hasValue())
        return known.error();
    if (!known.value())
        return hostError("there is no commit " + std::to_string(*named));
    return *named;
}

// Whether restoring may replace what is at `path` now: nothing is there, or a file whose bytes are
// those of HEAD's copy of it or of the copy it would get (`url`), or --force says so. Decided by
// content alone: a modification time says nothing about what a file holds (a copy made with its
// times kept, a file touched and left as it was).
Expected<void> mayReplace(Repository& r, const OdString& path, const OdString& url,
                          std::uint64_t commit, bool force) {
    const std::string working = utf8(r.root.pathTo(path));
    const PathKind there = lookAt(working);
    if (there == PathKind::none)
        return {};
    if (there != PathKind::file)
        return hostError("cannot restore " + quotePath(path) +
                         ": something else than a file is in its place");
    if (force)
        return {};
    const auto mine = fileDigest(working, utf8(path));
    if (!mine.hasValue())
        return mine.error();
    std::vector<OdString> urls{url};
    const auto inHead = r.head.find(path);
    if (inHead != r.head.end() && inHead->second != url)
        urls.push_back(inHead->second);
    for (const OdString& candidate : urls) {
        const auto digest = copyDigest(r.db, r.root, candidate);
        if (!digest.hasValue())
            return digest.error();
        if (digest.value() == mine.value())
            return {};
    }
    const std::string other = urls.size() > 1 || inHead == r.head.end()
                                  ? " and from commit " + std::to_string(commit) + "'s"
                                  : std::string();
    return hostError(quotePath(path) + " differs from HEAD's copy" + other +
                     ": restoring would lose that; rvk restore --force replaces it");
}

// The time a file restored unlike HEAD's copy gets: now, or, when HEAD's copy lies ahead of the
// clock, just after it, so that the library's test sees the file changed.
boost::optional<std::int64_t> changedTime(const Repository& r,
                                          TrackedFiles::const_iterator inHead) {
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    if (inHead == r.head.end())
        return now;
    const auto headCopy = storedCopyPath(r.root, inHead->second);
    FileStat copy;
    if (!headCopy.hasValue() || lookAt(utf8(headCopy.value()), &copy) != PathKind::file ||
        now > copy.modifiedNs)
        return now;
    // A microsecond: more than the finest step of any file system's clock.
    return copy.modifiedNs + 1000;
}

}  // namespace

// Every check comes before the first file is written, so a refused restore changes nothing. A file
// held open is left as it was, whose bytes pass those checks again when the restore is run anew.
Expected<Restored> restore(const Session& session, const RestoreRequest& request,
                           const std::function<void(const OdString&)>& restored) {
    auto repo = openToChange(session);
    if (!repo.hasValue())
        return repo.error();
    Repository& r = repo.value();
    const auto id = restoreCommit(request.commit, r);
    if (!id.hasValue())
        return id.error();
    const bool fromHead = id.value() == r.cache.value().read().head.commit;
    const auto files = fromHead ? Expected<TrackedFiles>(r.head) : r.db.trackedFiles(id.value());
    if (!files.hasValue())
        return files.error();

    Restored outcome;
    std::map<OdString, OdString> chosen;  // path, URL
    const auto refuse = [&](const ErrorMessage& error) { outcome.refused.push_back(error); };
    if (request.all)
        chosen.insert(files.value().begin(), files.value().end());
    for (const OdString& typed : request.paths) {
        const auto path = repositoryPath(r.place, utf8(typed));
        if (!path.hasValue()) {
            refuse(path.error());
            continue;
        }
        const auto found = files.value().find(path.value());
        if (found == files.value().end())
            refuse(hostError(quotePath(path.value()) + " is not in commit " +
                             std::to_string(id.value())));
        else
            chosen.insert(*found);
    }
    std::vector<Restoring> restoring;
    for (const auto& [path, url] : chosen) {
        const auto inside = checkWorkingPath(r.root, path, "the database");
        const auto stored = storedCopyPath(r.root, url);
        const auto nameable = checkWindowsName(path);
        if (!inside.hasValue() || !stored.hasValue() || !nameable.hasValue()) {
            refuse(!inside.hasValue()   ? inside.error()
                   : !stored.hasValue() ? stored.error()
                                        : nameable.error());
            continue;
        }
        if (!ut::FileName(stored.value()).exists(ut::FileName::kRegularFile)) {
            refuse(hostError("the stored copy of " + quotePath(path) + " is missing (" +
                             quotePath(stored.value()) + "); see rvk verify"));
            continue;
        }
        const auto replaceable = mayReplace(r, path, url, id.value(), request.force);
        const auto digest = expectedDigest(r.db, url);
        if (!replaceable.hasValue() || !digest.hasValue()) {
            refuse(!replaceable.hasValue() ? replaceable.error() : digest.error());
            continue;
        }
        // As HEAD has it, the file is unchanged and keeps its copy's time; any other content is
        // a change to commit, which the library's test sees only in a file newer than its copy.
        const auto inHead = r.head.find(path);
        const bool asInHead = inHead != r.head.end() && inHead->second == url;
        restoring.push_back(
            Restoring{path, url, digest.value(), asInHead ? boost::none : changedTime(r, inHead)});
    }
    if (!outcome.refused.empty())
        return outcome;

    std::uint64_t done = 0;
    const auto placed = restoreFiles(r.root, restoring, [&](const OdString& path) {
        outcome.files.push_back(path);
        session.reporter.progress(Progress{"restoring", ++done, restoring.size()});
        if (restored)
            restored(path);
    });
    if (!placed.hasValue())
        return placed.error();
    outcome.held = placed.value();
    // In a clone, a restored lockable file is read-only unless this role holds its lock, as pull
    // leaves it.
    const auto view = viewWithoutWaiting(r.db, session.reporter);
    if (!view.hasValue())
        session.reporter.note(view.error());
    else if (view.value())
        applyAccess(r.root, outcome.files, *view.value(), session.reporter);
    return outcome;
}

}  // namespace client
