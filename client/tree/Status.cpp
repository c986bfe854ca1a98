// status: the working tree against HEAD's commit and the staged files, one entry a file.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <common/Cache.h>
#include <common/FileRecords.h>
#include <platform/FileName.h>

#include <client/LocalOperations.h>
#include <client/Text.h>
#include <client/base/Repository.h>
#include <client/tree/SafePaths.h>
#include <client/tree/SortRuns.h>
#include <client/tree/StatCache.h>
#include <client/tree/WorkingTree.h>

namespace client {

namespace {

// One entry of status: a path of the list, its code, and whether it comes from the staged files.
struct Line {
    PathList::Span path;
    const char* code;
    bool staged;
};

// The number of `files` whose stored copy is gone (or named outside .rvk).
std::size_t countMissingCopies(const common::RootPath& root, const StatCache& files,
                               const std::vector<std::size_t>& which) {
    std::size_t missing = 0;
    for (const std::size_t i : which) {
        const std::string_view text = files.file(i).url;
        const OdString url(text.data(), text.size(), kCodePageUtf8);
        const auto stored = storedCopyPath(root, url);
        if (!stored.hasValue() || !ut::FileName(stored.value()).exists(ut::FileName::kRegularFile))
            ++missing;
    }
    return missing;
}

}  // namespace

const char* stagedCode(common::EFileChange change) {
    switch (change) {
        case common::EFileChange::modified:
            return "M+";
        case common::EFileChange::added:
            return "A+";
        case common::EFileChange::removed:
            return "D+";
    }
    return "?+";
}

// Unlike the other operations, status opens the database only when the stat cache cannot stand
// in for it: on a clean tree, reading HEAD's files from it would cost a sixth of the whole.
Expected<void> status(const Session& session, const std::function<void(const StatusEntry&)>& each) {
    const auto loaded = loadState(session, LockMode::shared, session.io);
    if (!loaded.hasValue())
        return loaded.error();
    const common::RootPath& root = loaded.value().locked.place.root;
    const common::State& state = loaded.value().cache.read();
    StatCache statCache = StatCache::load(root, state.head.commit);
    if (!statCache.loaded()) {
        auto db = Database::open(root.dbPath());
        if (!db.hasValue())
            return db.error();
        const auto head = db.value().trackedFiles(state.head.commit);
        if (!head.hasValue())
            return head.error();
        statCache = StatCache::fromTracked(head.value(), state.head.commit);
    }
    auto compared = compareWorkingTree(root, statCache, session.reporter);
    if (!compared.hasValue())
        return compared.error();
    statCache.save(root);
    TreeComparison& tree = compared.value();

    PathList& paths = tree.untracked;
    std::vector<Line> lines;
    lines.reserve(paths.spans().size() + tree.modified.size() + tree.removed.size() +
                  state.stagedFiles.size());
    for (const PathList::Span& span : paths.spans())
        lines.push_back({span, "?", false});
    const auto add = [&](std::string_view path, const char* code, bool staged) {
        paths.add(path);
        lines.push_back({paths.spans().back(), code, staged});
    };
    for (const std::size_t i : tree.modified)
        add(statCache.path(i), "M", false);
    for (const std::size_t i : tree.removed)
        add(statCache.path(i), "D", false);
    for (const common::StagedFile& file : state.stagedFiles)
        add(utf8(file.path), stagedCode(file.change), true);
    // In the order of the paths' bytes; of equal paths, the staged line comes last and is the one
    // given: what is staged is what the next commit does with the file.
    sortRuns(lines, [&](const Line& a, const Line& b) {
        const int order = paths[a.path].compare(paths[b.path]);
        return order != 0 ? order < 0 : a.staged < b.staged;
    });
    const auto shownEnd =
        std::unique(lines.rbegin(), lines.rend(),
                    [&](const auto& a, const auto& b) { return paths[a.path] == paths[b.path]; });
    lines.erase(lines.begin(), shownEnd.base());
    for (const Line& line : lines)
        each(StatusEntry{line.code, paths[line.path]});

    for (const std::size_t i : tree.links)
        session.reporter.note(hostError(linkNote(
            OdString(statCache.path(i).data(), statCache.path(i).size(), kCodePageUtf8))));
    for (const auto& [i, problem] : tree.unexamined)
        session.reporter.note(problem);
    const std::size_t missing = countMissingCopies(root, statCache, tree.modified);
    if (missing > 0)
        session.reporter.note(hostError(
            "warning: the stored cop" +
            std::string(missing == 1 ? "y of 1 modified file is"
                                     : "ies of " + std::to_string(missing) + " modified files are") +
            " missing; run 'rvk verify'"));
    return {};
}

}  // namespace client
