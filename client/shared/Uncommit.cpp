// uncommit: a clone's commits that the server lacks, turned back into staged changes.
#include <map>

#include <client/SharedOperations.h>
#include <client/shared/RemoteSettings.h>
#include <client/shared/Standing.h>
#include <client/tree/WorkingTree.h>

namespace client {

// HEAD goes back to the clone's base, and what the commits changed against it is staged, beside
// what was staged already. Working files stay as they are, so no work is lost and a refused push
// never traps it. The state file is written first: cut off after it, the commits are left in
// rvk.db where HEAD no longer reaches them, and the next uncommit or pull removes them.
Expected<Uncommitted> uncommit(const Session& session, const PullEvents& events) {
    auto linked = openLinked(session, LockMode::exclusive, true);
    if (!linked.hasValue())
        return linked.error();
    Repository& r = linked.value().repo;
    const auto where = standing(r, linked.value().server);
    if (!where.hasValue())
        return where.error();
    if (where.value().landed > 0 && events.landed)
        events.landed(where.value().landed);
    const std::uint64_t base = where.value().base;
    const OwnCommits& own = where.value().own;
    const auto dropCommits = [&]() -> Expected<void> {
        DatabaseTransaction transaction(r.db);
        if (auto begun = transaction.begin(); !begun.hasValue())
            return begun;
        if (auto cut = r.db.deleteCommitsAfter(base); !cut.hasValue())
            return cut;
        return transaction.commit();
    };
    Uncommitted outcome;
    outcome.head = base;
    if (own.local.empty()) {
        if (auto dropped = dropCommits(); !dropped.hasValue())
            return dropped.error();
        return outcome;
    }

    using common::EFileChange;
    const auto baseFiles =
        r.db.trackedFiles(base ? boost::optional<std::uint64_t>(base) : boost::none);
    if (!baseFiles.hasValue())
        return baseFiles.error();
    const TrackedFiles& headFiles = own.local.back().second;
    const auto against = [&](const OdString& path, bool present) -> boost::optional<EFileChange> {
        const bool known = baseFiles.value().count(path) > 0;
        if (!known && !present)
            return boost::none;
        return !known ? EFileChange::added : present ? EFileChange::modified : EFileChange::removed;
    };
    std::map<OdString, EFileChange, bool (*)(const OdString&, const OdString&)> staged(byBytes);
    for (const OdString& path : changedPaths(baseFiles.value(), headFiles)) {
        if (const auto change = against(path, headFiles.count(path) > 0))
            staged[path] = *change;
    }
    // What was staged counts against the last commit; now it counts against the base.
    for (const common::StagedFile& file : r.cache.value().read().stagedFiles) {
        const auto change = against(file.path, file.change != EFileChange::removed);
        if (change)
            staged[file.path] = *change;
        else
            staged.erase(file.path);
    }
    const auto written = changeState(r.cache.value(), *r.io, [&](common::State& state) {
        state.head.commit = base ? boost::optional<std::uint64_t>(base) : boost::none;
        state.stagedFiles.clear();
        for (const auto& [path, change] : staged)
            state.stagedFiles.emplace_back(path, change);
    });
    if (!written.hasValue())
        return written.error();
    if (auto dropped = dropCommits(); !dropped.hasValue())
        return dropped.error();
    outcome.commits = own.local.size();
    for (const auto& [path, change] : staged)
        outcome.staged.emplace_back(path, change);
    return outcome;
}

}  // namespace client
