// Sorting the files of a repository's working tree against the files HEAD's commit tracks: the
// step between the library's scan and its staging explorer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <common/Expected.h>
#include <common/RootPath.h>
#include <common/StagingExplorer.h>

#include <client/Session.h>
#include <client/store/Database.h>
#include <client/tree/StatCache.h>

namespace client {

// Many UTF-8 paths in one buffer: half a million of them take a few allocations, not half a
// million, and sorting moves small spans, not strings.
class PathList {
public:
    struct Span {
        std::uint32_t offset;
        std::uint32_t length;
    };
    void add(const OdString& path);
    void add(std::string_view utf8Path);
    std::string_view operator[](const Span& span) const {
        return std::string_view(m_bytes.data() + span.offset, span.length);
    }
    const std::vector<Span>& spans() const { return m_spans; }

private:
    std::string m_bytes;
    std::vector<Span> m_spans;
};

// The files of a working tree sorted against HEAD's. The tracked lists hold indices into the
// files of the StatCache compared against, in their order; the untracked paths are in the order
// of the scan.
struct TreeComparison {
    std::vector<std::size_t> unchanged;
    std::vector<std::size_t> modified;
    std::vector<std::size_t> removed;
    // Tracked files that are symbolic links now: rvk neither reads them nor stages them.
    std::vector<std::size_t> links;
    // Tracked files that could not be examined (no permission on a folder, a path longer than the
    // system takes, a folder on the way that is a link), each with the reason. They are neither
    // removed nor unchanged: nothing is known of them.
    std::vector<std::pair<std::size_t, ErrorMessage>> unexamined;
    PathList untracked;
};

// Scans the working tree of `root` (visitRelPaths) and sorts its files by the files of HEAD's
// commit that `cache` lists:
//   - tracked, isModified() false: `unchanged`; true: `modified`;
//   - not tracked: `untracked`;
//   - tracked but no longer in the working tree: `removed`;
//   - tracked, now a symbolic link: `links`; tracked but out of reach: `unexamined`.
// A tracked file that the ignore rules now hide is still tracked: it is tested like the others, and
// only its absence makes it removed. A file that `cache` trusts is unchanged without asking
// isModified(); the cache vouches afterwards for every file found unchanged, ready for save().
// Fails with the error of the scan or of isModified() (a URL the database should never have
// held), when the ignore file holds a rule that is no valid pattern, or when a tracked path is no
// path inside the working tree (checkWorkingPath: the database may have been edited), before any
// tracked file is looked at. Tells `reporter` its progress ("checking") while testing tracked
// files, and fails with cancelledError() when the reporter cancels.
Expected<TreeComparison> compareWorkingTree(const common::RootPath& root, StatCache& cache,
                                           Reporter& reporter);

// The working tree sorted for the staging explorer, and what was left out of it.
struct SortedTree {
    // The RepoFile records carry the storage URL as their `detail`; each list is in the order of
    // the paths' UTF-8 bytes. `otherPaths`, which the explorer ignores, holds the tracked files
    // that are symbolic links now.
    common::RepoChanges changes;
    // One message for each tracked file that could not be examined.
    std::vector<ErrorMessage> unexamined;
};

// The same for the staging explorer, from `tracked`, the files of HEAD's commit `head` as the
// database gives them. The stat cache serves only when it lists exactly those files with the same
// URLs, so a cache that is forged or out of date cannot change what is staged; it is updated.
Expected<SortedTree> sortWorkingTree(const common::RootPath& root, const TrackedFiles& tracked,
                                     boost::optional<std::uint64_t> head, Reporter& reporter);

// The note for a tracked file that is a symbolic link now.
std::string linkNote(const OdString& path);

// True when `a` comes before `b` in the order of their UTF-8 bytes, the order rvk lists paths in
// (so a listing sorts as the C locale's `sort` would). Compares the wide text where that gives the
// same answer, which is everywhere but at an undecodable byte, so most comparisons encode nothing.
bool byBytes(const OdString& a, const OdString& b);

}  // namespace client
