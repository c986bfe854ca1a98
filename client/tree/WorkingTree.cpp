#include <client/tree/WorkingTree.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <regex>
#include <string>

#include <common/ContentHash.h>
#include <common/RepoIgnore.h>
#include <common/WorkingTreeScan.h>
#include <platform/FileName.h>
#include <platform/Utf8.h>

#include <client/Text.h>
#include <client/tree/LookAtFiles.h>
#include <client/tree/SafePaths.h>
#include <client/tree/WindowsNames.h>

namespace client {

namespace {

// Walks the working tree of `root` (visitRelPaths), handing `visit` each file the scan lists.
Expected<void> scan(const common::RootPath& root,
                    const std::function<void(const OdString&)>& visit) {
    static const std::string kRefused =
        "the ignore file .rvk/properties/ignore holds a rule that is no valid regular expression";
    try {
        return common::visitRelPaths(root, visit);
    } catch (const common::IgnoreRuleError& e) {
        return hostError(kRefused + ", line " + std::to_string(e.line()) + ": " +
                         quoteName(shortened(utf8(e.rule()))) + ": " + e.what());
    } catch (const std::regex_error& e) {
        // Every rule compiled, but one needs more backtracking on some name than is allowed.
        return hostError(
            "the ignore file .rvk/properties/ignore holds a rule too complex to match safely: " +
            std::string(e.what()));
    }
}

OdString fromUtf8(std::string_view text) {
    return OdString(text.data(), text.size(), kCodePageUtf8);
}

bool isSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

void PathList::add(const OdString& path) {
    const std::size_t offset = m_bytes.size();
    ut::appendUtf8(m_bytes, path.c_str(), path.wstr().size());
    m_spans.push_back(
        {static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(m_bytes.size() - offset)});
}

void PathList::add(std::string_view utf8Path) {
    m_spans.push_back(
        {static_cast<std::uint32_t>(m_bytes.size()), static_cast<std::uint32_t>(utf8Path.size())});
    m_bytes.append(utf8Path);
}

bool byBytes(const OdString& a, const OdString& b) {
    const std::wstring& x = a.wstr();
    const std::wstring& y = b.wstr();
    const auto [i, j] = std::mismatch(x.begin(), x.end(), y.begin(), y.end());
    if (i == x.end() || j == y.end())
        return j != y.end();
    // UTF-8 keeps the order of code points; an undecodable byte kept as U+DC80..U+DCFF does not.
    if (isSurrogate(*i) || isSurrogate(*j))
        return std::strcmp(a.ansi_str(), b.ansi_str()) < 0;
    return *i < *j;
}

Expected<TreeComparison> compareWorkingTree(const common::RootPath& root, StatCache& cache,
                                           Reporter& reporter) {
    TreeComparison result;
    const std::size_t count = cache.size();
    // Nothing is looked at before every tracked path is known to lie inside the working tree.
    for (std::size_t i = 0; i < count; ++i) {
        if (!isTrackablePath(cache.path(i)))
            return checkWorkingPath(root, fromUtf8(cache.path(i)), "the database").error();
    }
    LookAtFiles lookAtAll(root, cache);
    // Each path is looked up as the scan finds it and kept only when untracked.
    std::string narrow;
    const Expected<void> scanned = scan(root, [&](const OdString& path) {
        narrow.clear();
        ut::appendUtf8(narrow, path.c_str(), path.wstr().size());
        if (!cache.find(narrow))
            result.untracked.add(narrow);
    });
    if (!scanned.hasValue())
        return scanned.error();

    const std::vector<Looked>& looked = lookAtAll.wait();
    // Whether the scan listed a tracked file does not matter: one that the ignore rules hide is
    // tested all the same.
    result.unchanged.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Looked& now = looked[i];
        if (now.seen == Seen::file && cache.trusts(i, now.stat)) {
            result.unchanged.push_back(i);
            continue;
        }
        if (now.seen != Seen::file)
            cache.unvouch(i);
        if (now.seen == Seen::gone) {
            result.removed.push_back(i);
            continue;
        }
        if (now.seen == Seen::link) {
            result.links.push_back(i);
            continue;
        }
        const OdString path = fromUtf8(cache.path(i));
        if (now.seen == Seen::unreachable) {
            std::string why = now.error == ELOOP ? "a folder on its path is a symbolic link"
                                                 : std::strerror(now.error);
            if (hostNaming().windowsNames) {
                if (const auto problem = windowsNameProblem(slashed(std::string(cache.path(i)))))
                    why = *problem;
            }
            result.unexamined.emplace_back(
                i, hostError("cannot examine " + quoteName(utf8(path)) + ": " + why +
                             "; it is left out, and not taken for removed"));
            continue;
        }
        if (!reporter.progress(Progress{"checking", i + 1, count}))
            return cancelledError();
        // Only now may the file be read and hashed: what the cache cannot vouch for.
        const auto modified = common::isModified(path, fromUtf8(cache.file(i).url), root);
        if (!modified.hasValue())
            return modified.error();
        if (modified.value()) {
            cache.unvouch(i);
            result.modified.push_back(i);
            continue;
        }
        // With the lstat from before the test: a file changed since has other times, and is
        // tested again next time.
        cache.vouch(i, now.stat);
        result.unchanged.push_back(i);
    }
    return result;
}

std::string linkNote(const OdString& path) {
    return quoteName(utf8(path)) +
           " is a symbolic link now: rvk keeps files, never links or what they lead to, so it is "
           "left out";
}

Expected<SortedTree> sortWorkingTree(const common::RootPath& root, const TrackedFiles& tracked,
                                     boost::optional<std::uint64_t> head, Reporter& reporter) {
    StatCache cache = StatCache::load(root, head);
    const auto sameAsTracked = [&] {
        // The cache holds no path twice, so as many files, each found, are the same files. The
        // map's order is that of the wide text, the cache's that of the bytes: each path is looked
        // up, not walked in step.
        if (cache.size() != tracked.size())
            return false;
        return std::all_of(tracked.begin(), tracked.end(), [&](const auto& entry) {
            const auto index = cache.find(utf8(entry.first));
            return index && cache.file(*index).url == utf8(entry.second);
        });
    };
    if (!cache.loaded() || !sameAsTracked())
        cache = StatCache::fromTracked(tracked, head);
    const auto compared = compareWorkingTree(root, cache, reporter);
    if (!compared.hasValue())
        return compared.error();
    cache.save(root);
    const TreeComparison& c = compared.value();
    SortedTree sorted;
    common::RepoChanges& changes = sorted.changes;
    for (const std::size_t i : c.unchanged)
        changes.unchanged.emplace_back(fromUtf8(cache.path(i)), fromUtf8(cache.file(i).url));
    for (const std::size_t i : c.modified)
        changes.modified.emplace_back(fromUtf8(cache.path(i)));
    for (const PathList::Span& span : c.untracked.spans())
        changes.untracked.emplace_back(fromUtf8(c.untracked[span]));
    for (const std::size_t i : c.removed)
        changes.removed.emplace_back(fromUtf8(cache.path(i)), fromUtf8(cache.file(i).url));
    for (const std::size_t i : c.links)
        changes.otherPaths.push_back(fromUtf8(cache.path(i)));
    for (const auto& [i, problem] : c.unexamined)
        sorted.unexamined.push_back(problem);
    const auto byPath = [](const auto& x, const auto& y) { return byBytes(x.path, y.path); };
    std::sort(changes.untracked.begin(), changes.untracked.end(), byPath);
    return sorted;
}

}  // namespace client
