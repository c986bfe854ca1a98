#include "WorkingTree.h"

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>

#include <common/ContentHash.h>
#include <common/WorkingTreeScan.h>
#include <platform/FileName.h>
#include <platform/Utf8.h>

#include "Console.h"

namespace host {

namespace {

Expected<std::vector<common::PossibleRepoFile>> scan(const common::RootPath& root) {
    try {
        return common::collectRelPaths(root);
    } catch (const std::regex_error& e) {
        return hostError(std::string("the ignore file .rvk/properties/ignore holds a rule that is "
                                     "no valid regular expression: ") +
                         e.what());
    }
}

// The narrow path of each tracked file is built in one reused buffer: a status of many files
// allocates nothing per file for it.
class PathBuffer {
public:
    explicit PathBuffer(const common::RootPath& root) : m_prefix(utf8(root.path()) + "/") {}
    const char* operator()(const OdString& relativePath) {
        m_text.assign(m_prefix);
        ut::appendUtf8(m_text, relativePath.c_str(), relativePath.wstr().size());
        return m_text.c_str();
    }

private:
    std::string m_prefix;
    std::string m_text;
};

bool isSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

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

Expected<TreeComparison> compareWorkingTree(const common::RootPath& root,
                                            const TrackedFiles& tracked, StatCache& cache) {
    TreeComparison result;
    std::vector<const OdString*> seen;
    {
        auto scanned = scan(root);
        if (!scanned.hasValue())
            return scanned.error();
        for (common::PossibleRepoFile& file : scanned.value()) {
            const auto entry = tracked.find(file.path);
            if (entry == tracked.end()) {
                // Taken, not copied: the scan's records go when this block ends.
                result.untracked.push_back(std::move(file.path));
            } else {
                seen.push_back(&entry->first);
            }
        }
    }
    std::sort(seen.begin(), seen.end(),
              [](const OdString* a, const OdString* b) { return a->wstr() < b->wstr(); });

    Progress progress("checking");
    std::size_t checked = 0;
    PathBuffer narrow(root);
    auto next = seen.begin();
    // In the order of the tracked files, so that every list comes out sorted.
    for (const auto& [path, url] : tracked) {
        const bool present = next != seen.end() && *next == &path;
        if (present)
            ++next;
        FileStat now;
        const bool isFile = statFile(narrow(path), now);
        if (!present && !isFile &&
            !ut::FileName(root.pathTo(path)).exists(ut::FileName::kSymbolicLink)) {
            result.removed.push_back(&path);
            continue;
        }
        progress.update(++checked, tracked.size());
        if (isFile && cache.trusts(path, url, now)) {
            cache.record(path, url, now);
            result.unchanged.push_back(&path);
            continue;
        }
        // Only now may the file be read and hashed: what the cache cannot vouch for.
        const auto modified = common::isModified(path, url, root);
        if (!modified.hasValue())
            return modified.error();
        if (modified.value()) {
            result.modified.push_back(&path);
            continue;
        }
        // The time of the test, not of the lstat above: a file changed in between is tested again.
        if (isFile && statFile(narrow(path), now))
            cache.record(path, url, now);
        result.unchanged.push_back(&path);
    }
    std::sort(result.untracked.begin(), result.untracked.end(),
              [](const OdString& a, const OdString& b) { return a.wstr() < b.wstr(); });
    return result;
}

Expected<common::RepoChanges> sortWorkingTree(const common::RootPath& root,
                                              const TrackedFiles& tracked, StatCache& cache) {
    const auto compared = compareWorkingTree(root, tracked, cache);
    if (!compared.hasValue())
        return compared.error();
    const TreeComparison& c = compared.value();
    common::RepoChanges changes;
    for (const OdString* path : c.unchanged)
        changes.unchanged.emplace_back(*path, tracked.at(*path));
    for (const OdString* path : c.modified)
        changes.modified.emplace_back(*path);
    for (const OdString& path : c.untracked)
        changes.untracked.emplace_back(path);
    for (const OdString* path : c.removed)
        changes.removed.emplace_back(*path, tracked.at(*path));
    const auto byPath = [](const auto& x, const auto& y) { return byBytes(x.path, y.path); };
    std::sort(changes.unchanged.begin(), changes.unchanged.end(), byPath);
    std::sort(changes.modified.begin(), changes.modified.end(), byPath);
    std::sort(changes.untracked.begin(), changes.untracked.end(), byPath);
    std::sort(changes.removed.begin(), changes.removed.end(), byPath);
    return changes;
}

}  // namespace host
