// stage and unstage: the staged files of the state, by the names a user types.
#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include <common/StagingExplorer.h>

#include <client/LocalOperations.h>
#include <client/Text.h>
#include <client/base/Repository.h>
#include <client/shared/RemoteSettings.h>
#include <client/tree/WorkingTree.h>

namespace client {

namespace {

using common::EFileChange;
using common::StagedFile;

void sortByPath(std::vector<StagedFile>& files) {
    std::sort(files.begin(), files.end(),
              [](const StagedFile& a, const StagedFile& b) { return byBytes(a.path, b.path); });
}

// Replaces the staged files of the state with `staged`, kept in path order so that the state file
// reads the same whatever order the files were staged in.
Expected<void> storeStaged(Repository& r, std::vector<StagedFile> staged) {
    sortByPath(staged);
    return changeState(r.cache.value(), *r.io,
                       [&](common::State& state) { state.stagedFiles = std::move(staged); });
}

}  // namespace

Expected<Staged> stage(const Session& session, const std::vector<OdString>& names, bool all) {
    auto repo = openToChange(session);
    if (!repo.hasValue())
        return repo.error();
    Repository& r = repo.value();
    const auto sorted =
        sortWorkingTree(r.root, r.head, r.cache.value().read().head.commit, session.reporter);
    if (!sorted.hasValue())
        return sorted.error();
    const common::RepoChanges& changes = sorted.value().changes;
    for (const OdString& path : changes.otherPaths)
        session.reporter.note(hostError(linkNote(path)));
    for (const ErrorMessage& problem : sorted.value().unexamined)
        session.reporter.note(problem);

    // The explorer offers modified and untracked files only; removals are staged here.
    common::RepoFileExplorer explorer(changes, r.root);
    std::vector<StagedFile> removals;
    Staged outcome;
    if (all) {
        for (const StagedFile& candidate : explorer.possibleStageFiles())
            explorer.stage(candidate);
        for (const common::RepoFile& file : changes.removed)
            removals.emplace_back(file.path, EFileChange::removed);
    } else {
        for (const OdString& name : names) {
            const auto file = resolveStageName(r.place, explorer, changes, utf8(name));
            if (!file.hasValue())
                outcome.refused.push_back(file.error());
            else if (file.value().change == EFileChange::removed)
                removals.push_back(file.value());
            else
                explorer.stage(file.value());
        }
        if (!outcome.refused.empty())
            return outcome;
    }
    auto picked = explorer.stagedFiles();
    if (!picked.hasValue() && removals.empty())
        return picked.error();

    std::vector<StagedFile> fresh = picked.hasValue() ? picked.value() : std::vector<StagedFile>();
    fresh.insert(fresh.end(), removals.begin(), removals.end());
    sortByPath(fresh);
    fresh.erase(std::unique(fresh.begin(), fresh.end()), fresh.end());
    // Staging a path again replaces its kind of change: one entry per path.
    std::map<OdString, EFileChange> merged;
    for (const StagedFile& file : r.cache.value().read().stagedFiles)
        merged.emplace(file.path, file.change);
    for (const StagedFile& file : fresh)
        merged[file.path] = file.change;
    std::vector<StagedFile> staged;
    for (const auto& [path, change] : merged)
        staged.emplace_back(path, change);
    if (const auto stored = storeStaged(r, std::move(staged)); !stored.hasValue())
        return stored.error();
    outcome.files = std::move(fresh);
    return outcome;
}

Expected<Staged> unstage(const Session& session, const std::vector<OdString>& paths, bool all) {
    CountingIo io(session.io);
    auto loaded = loadState(session, LockMode::exclusive, io);
    if (!loaded.hasValue())
        return loaded.error();
    const Place& place = loaded.value().locked.place;
    if (auto db = Database::open(place.root.dbPath()); db.hasValue()) {
        if (const auto cutOff = checkNoCutOffPull(db.value()); !cutOff.hasValue())
            return cutOff.error();
    }
    common::Cache& cache = loaded.value().cache;
    Staged outcome;
    std::vector<StagedFile> kept;
    if (all) {
        outcome.files = cache.read().stagedFiles;
    } else {
        kept = cache.read().stagedFiles;
        std::set<OdString> dropped;
        for (const OdString& typed : paths) {
            const auto path = repositoryPath(place, utf8(typed));
            if (!path.hasValue()) {
                outcome.refused.push_back(path.error());
                continue;
            }
            const auto found = std::find_if(kept.begin(), kept.end(), [&](const StagedFile& s) {
                return s.path == path.value();
            });
            if (found != kept.end()) {
                outcome.files.push_back(*found);
                kept.erase(found);
                dropped.insert(path.value());
            } else if (dropped.count(path.value()) == 0) {
                // Named twice, a path is unstaged once and no error.
                outcome.refused.push_back(hostError(quoteName(utf8(path.value())) + " is not staged"));
            }
        }
        if (!outcome.refused.empty()) {
            outcome.files.clear();
            return outcome;
        }
    }
    sortByPath(kept);
    const auto stored = changeState(cache, io, [&](common::State& state) {
        state.stagedFiles = std::move(kept);
    });
    if (!stored.hasValue())
        return stored.error();
    return outcome;
}

}  // namespace client
