// rvk status: the working tree against HEAD's commit and the staged files, one line per file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <common/Cache.h>
#include <common/FileRecords.h>
#include <platform/FileName.h>

#include "Commands.h"
#include "SafePaths.h"
#include "RemoteSettings.h"
#include "SortRuns.h"
#include "StatCache.h"
#include "WorkingTree.h"

namespace host {

namespace {

// One line of status: a path of the list, its code, and whether it comes from the staged files.
struct StatusLine {
    PathList::Span path;
    const char* code;
    bool staged;
};

// Writes the lines, one per file ("-z": code, space, the raw path, a zero byte), in large pieces:
// a status of half a million files is mostly this output.
void printStatus(const PathList& paths, const std::vector<StatusLine>& lines, bool zeroTerminated) {
    std::string out;
    for (const StatusLine& line : lines) {
        const std::string_view path = paths[line.path];
        out += line.code;
        out.append(3 - std::strlen(line.code), ' ');
        if (!zeroTerminated && needsQuoting(path))
            out += quotePath(std::string(path));
        else
            out += path;
        out += zeroTerminated ? '\0' : '\n';
        if (out.size() >= (std::size_t{1} << 16)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

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

// Unlike the other commands, status opens the database only when the stat cache cannot stand in
// for it: on a clean tree, reading HEAD's files from it would cost a sixth of the whole.
int status(const std::vector<std::string>& args, const Session& session) {
    const Arguments parsed = parseArguments("status", args, {"-z"});
    if (!parsed.operands.empty())
        throw BadUsage{"status: takes no PATH; it always lists the whole working tree"};
    const bool zeroTerminated = parsed.has("-z");
    const auto place = orFail(findRoot());
    const common::RootPath& root = place.root;
    const auto lock = orFail(session.lock(root));
    const auto cache = orFail(common::Cache::get(root, false, session.io));
    const common::State& state = cache.read();
    StatCache statCache = StatCache::load(root, state.head.commit);
    if (!statCache.loaded()) {
        auto db = orFail(Database::open(root.dbPath()));
        const auto head = orFail(db.trackedFiles(state.head.commit));
        statCache = StatCache::fromTracked(head, state.head.commit);
    }
    auto compared = orFail(compareWorkingTree(root, statCache));
    statCache.save(root);
    TreeComparison& tree = compared;

    PathList& paths = tree.untracked;
    std::vector<StatusLine> lines;
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
    // shown: what is staged is what the next commit does with the file.
    sortRuns(lines, [&](const StatusLine& a, const StatusLine& b) {
        const int order = paths[a.path].compare(paths[b.path]);
        return order != 0 ? order < 0 : a.staged < b.staged;
    });
    const auto shownEnd =
        std::unique(lines.rbegin(), lines.rend(),
                    [&](const auto& a, const auto& b) { return paths[a.path] == paths[b.path]; });
    lines.erase(lines.begin(), shownEnd.base());
    printStatus(paths, lines, zeroTerminated);

    for (const std::size_t i : tree.links)
        printError(hostError(linkNote(
            OdString(statCache.path(i).data(), statCache.path(i).size(), kCodePageUtf8))));
    for (const auto& [i, problem] : tree.unexamined)
        printError(problem);
    const std::size_t missing = countMissingCopies(root, statCache, tree.modified);
    if (missing > 0)
        printError(hostError("warning: the stored cop" +
                             std::string(missing == 1 ? "y of 1 modified file is"
                                                      : "ies of " + std::to_string(missing) +
                                                            " modified files are") +
                             " missing; run 'rvk verify'"));
    noteSharedHistory(root);
    return 0;
}

}  // namespace host
