// commit and log: new commits on HEAD, and the history that leads to it.
#include <utility>

#include <platform/UserName.h>

#include <client/LocalOperations.h>
#include <client/Text.h>
#include <client/base/Repository.h>
#include <client/shared/RemoteSettings.h>
#include <client/store/HostStorage.h>
#include <client/tree/SafePaths.h>

namespace client {

// The order of a commit, so that a failure anywhere leaves the repository as it was:
//   1. Store a copy of every staged file, and flush them all to disk. Copies no commit names yet
//      are harmless extra files, and a drawing's copy is named after the new commit id, so it
//      overwrites no copy in use.
//   2. Record the commit, its files and the size and digest of each new copy in the database, in
//      one SQLite transaction.
//   3. Write the state (HEAD on the new commit, nothing staged) through a Cache ended right here.
// The state comes last because it is what the next operation starts from: a crash between 2 and 3
// leaves a commit in the database that HEAD does not name, which log and status never reach (they
// follow HEAD), while HEAD and the staged files stay as they were, so committing again just
// works. Writing the state first would instead let a crash leave HEAD on a commit the database
// lacks, and the staged files lost. When the write in 3 reports failure, the commit is deleted
// again, so the database is back to what it was too. A cancel comes only during 1.
Expected<Committed> commit(const Session& session, const OdString& message, std::int64_t time) {
    if (message.isEmpty())
        return hostError("the commit message is empty");
    auto repo = openToChange(session);
    if (!repo.hasValue())
        return repo.error();
    Repository& r = repo.value();
    const common::State& state = r.cache.value().read();
    if (state.stagedFiles.empty())
        return hostError("nothing to commit: no file is staged (see rvk stage)");
    for (const common::StagedFile& file : state.stagedFiles) {
        if (const auto inside = checkWorkingPath(r.root, file.path, "the state"); !inside.hasValue())
            return inside.error();
    }

    DatabaseTransaction transaction(r.db);
    if (const auto begun = transaction.begin(); !begun.hasValue())
        return begun.error();
    const auto id = r.db.nextCommitId();
    if (!id.hasValue())
        return id.error();

    TrackedFiles files = r.head;
    std::vector<KeptCopy> kept;
    std::uint64_t done = 0, bytes = 0;
    for (const common::StagedFile& file : state.stagedFiles) {
        if (const auto going = advance(session, "storing", done++, state.stagedFiles.size(), bytes);
            !going.hasValue())
            return going.error();
        if (file.change == common::EFileChange::removed) {
            files.erase(file.path);
            continue;
        }
        auto copy = keepCopy(r.root, file.path, id.value());
        if (!copy.hasValue())
            return copy.error();
        files[file.path] = copy.value().url;
        bytes += static_cast<std::uint64_t>(copy.value().size);
        kept.push_back(std::move(copy.value()));
    }
    session.reporter.progress(Progress{"storing", done, done, bytes});
    if (const auto flushed = flushStoredCopies(r.root); !flushed.hasValue())
        return flushed.error();
    CommitRecord record;
    record.id = id.value();
    record.time = time;
    record.message = message;
    record.parent = state.head.commit;
    record.author = OdString(ut::userName().c_str(), kCodePageUtf8);
    if (const auto inserted = r.db.insertCommit(record, files, kept); !inserted.hasValue())
        return inserted.error();
    if (const auto committed = transaction.commit(); !committed.hasValue())
        return committed.error();

    const auto written = changeState(r.cache.value(), *r.io, [&](common::State& changed) {
        changed.stagedFiles.clear();
        changed.head.commit = id.value();
    });
    if (!written.hasValue()) {
        const auto undone = r.db.deleteCommit(id.value());
        if (!undone.hasValue()) {
            session.reporter.note(undone.error());
            session.reporter.note(hostError("commit " + std::to_string(id.value()) +
                                            " stays in the database, but HEAD does not name it"));
        }
        return written.error();
    }
    return Committed{id.value(), files.size()};
}

namespace {

// True when `commit` gives `path` another URL than its parent does: it added, changed or removed
// the file.
Expected<bool> changes(Database& db, const CommitRecord& commit, const OdString& path) {
    const auto mine = db.urlOf(commit.id, path);
    if (!mine.hasValue() || !commit.parent)
        return mine.hasValue() ? Expected<bool>(bool(mine.value())) : mine.error();
    const auto parents = db.urlOf(*commit.parent, path);
    if (!parents.hasValue())
        return parents.error();
    return mine.value() != parents.value();
}

}  // namespace

Expected<std::vector<LogEntry>> log(const Session& session, const boost::optional<OdString>& typed) {
    auto repo = openRepository(session, LockMode::shared);
    if (!repo.hasValue())
        return repo.error();
    Repository& r = repo.value();
    boost::optional<OdString> path;
    if (typed) {
        const auto found = repositoryPath(r.place, utf8(*typed));
        if (!found.hasValue())
            return found.error();
        path = found.value();
    }
    const auto commits = r.db.history(r.cache.value().read().head.commit);
    if (!commits.hasValue())
        return commits.error();
    std::vector<LogEntry> entries;
    for (const CommitRecord& c : commits.value()) {
        if (path) {
            const auto changed = changes(r.db, c, *path);
            if (!changed.hasValue())
                return changed.error();
            if (!changed.value())
                continue;
        }
        entries.push_back(LogEntry{c.id, c.time, c.fileCount, c.message, utf8(c.author)});
    }
    return entries;
}

}  // namespace client
