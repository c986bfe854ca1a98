#include "WorkingTree.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <string>
#include <system_error>
#include <thread>

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

// The root folder, open, and a buffer for the narrow relative path of each tracked file: every
// lstat then starts from the root instead of walking its whole path again, and a status of many
// files allocates nothing per file for the path.
class RootFolder {
public:
    explicit RootFolder(const common::RootPath& root)
        : m_fd(::open(utf8(root.path()).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}
    ~RootFolder() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RootFolder(const RootFolder&) = delete;
    RootFolder& operator=(const RootFolder&) = delete;

    // False when there is no regular file at `relativePath`, or the root cannot be opened.
    bool stat(const OdString& relativePath, FileStat& out) {
        m_path.clear();
        ut::appendUtf8(m_path, relativePath.c_str(), relativePath.wstr().size());
        return m_fd >= 0 && statFile(m_fd, m_path.c_str(), out);
    }

private:
    int m_fd;
    std::string m_path;
};

struct Looked {
    FileStat stat;
    bool isFile = false;
};

// The lstat of every tracked file, in the order of `tracked`. Most of a status of a clean tree is
// waiting for these, one file at a time, so they are spread over a few threads (as git's index
// preloading does), each on its own part of the list.
std::vector<Looked> lookAtAll(const common::RootPath& root, const TrackedFiles& tracked) {
    std::vector<const OdString*> paths;
    paths.reserve(tracked.size());
    for (const auto& entry : tracked)
        paths.push_back(&entry.first);
    std::vector<Looked> looked(paths.size());
    const auto work = [&](std::size_t begin, std::size_t end) {
        RootFolder folder(root);
        for (std::size_t i = begin; i < end; ++i)
            looked[i].isFile = folder.stat(*paths[i], looked[i].stat);
    };
    constexpr std::size_t kPerThread = 2000;  // below this a thread costs more than it saves
    const std::size_t threads = std::min<std::size_t>(
        {std::max(1u, std::thread::hardware_concurrency()), 8, paths.size() / kPerThread + 1});
    std::vector<std::thread> helpers;
    const std::size_t share = paths.size() / threads;
    try {
        for (std::size_t t = 1; t < threads; ++t)
            helpers.emplace_back(work, t * share, t + 1 == threads ? paths.size() : (t + 1) * share);
    } catch (const std::system_error&) {
        // No thread to be had: the helpers that did start do their parts, this thread the rest.
        for (std::size_t t = helpers.size() + 1; t < threads; ++t)
            work(t * share, t + 1 == threads ? paths.size() : (t + 1) * share);
    }
    work(0, threads > 1 ? share : paths.size());
    for (std::thread& helper : helpers)
        helper.join();
    return looked;
}

bool isSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

}  // namespace

void PathList::add(const OdString& path) {
    const std::size_t offset = m_bytes.size();
    ut::appendUtf8(m_bytes, path.c_str(), path.wstr().size());
    m_spans.push_back({static_cast<std::uint32_t>(offset),
                       static_cast<std::uint32_t>(m_bytes.size() - offset)});
}

void PathList::add(std::string_view utf8Path) {
    m_spans.push_back({static_cast<std::uint32_t>(m_bytes.size()),
                       static_cast<std::uint32_t>(utf8Path.size())});
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

Expected<TreeComparison> compareWorkingTree(const common::RootPath& root,
                                            const TrackedFiles& tracked, StatCache& cache) {
    TreeComparison result;
    {
        auto scanned = scan(root);
        if (!scanned.hasValue())
            return scanned.error();
        for (common::PossibleRepoFile& file : scanned.value()) {
            // Each wide path is let go once encoded, so the two forms are held together only
            // for one file at a time.
            const OdString path(std::move(file.path));
            if (tracked.count(path) == 0)
                result.untracked.add(path);
        }
    }

    Progress progress("checking");
    std::size_t checked = 0;
    const std::vector<Looked> looked = lookAtAll(root, tracked);
    auto next = looked.begin();
    // In the order of the tracked files, so that every list comes out sorted. Whether the scan
    // listed a tracked file does not matter: one that the ignore rules hide is tested all the same.
    for (const auto& [path, url] : tracked) {
        const FileStat now = next->stat;
        const bool isFile = (next++)->isFile;
        if (!isFile && !ut::FileName(root.pathTo(path)).exists(ut::FileName::kSymbolicLink)) {
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
        // The lstat from before the test: a file changed since has other times, and is tested
        // again next time.
        if (isFile)
            cache.record(path, url, now);
        result.unchanged.push_back(&path);
    }
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
    for (const PathList::Span& span : c.untracked.spans()) {
        const std::string_view path = c.untracked[span];
        changes.untracked.emplace_back(OdString(path.data(), path.size(), kCodePageUtf8));
    }
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
