// The staging step before a commit: RepoChanges, the host's sorting of the repository's files, and
// RepoFileExplorer, which turns that sorting into the files that may be staged, finds them by the
// names a user types, stages them one by one and hands back the staged list for the commit.
//
// The explorer never looks at the file system; everything it knows comes from the RepoChanges it
// was built from, of which it keeps a private copy.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include <boost/variant.hpp>

#include <common/Expected.h>
#include <common/Export.h>
#include <common/FileRecords.h>
#include <common/RootPath.h>
#include <platform/OdString.h>

namespace common {

// The repository's files as the host sorted them. How they were sorted is the host's affair.
struct RepoChanges {
    std::vector<OdString> otherPaths;         // carried for the host; the explorer ignores it
    std::vector<RepoFile> unchanged;          // tracked, unchanged: searched by findUnchanged
    std::vector<PossibleRepoFile> modified;   // tracked, content changed
    std::vector<PossibleRepoFile> untracked;  // in the working tree, not tracked yet
    std::vector<RepoFile> removed;            // tracked, gone from the working tree
};

// The candidates for a commit and the staging of them.
//
// The candidates are fixed at construction: one (path, modified) for each modified file, in order,
// then one (path, added) for each untracked file, in order. Nothing is checked: empty paths and
// duplicates become candidates of their own. Only the staged set changes afterwards, and it only
// grows.
//
// Names given to findForStaging and findUnchanged are regular expressions (ECMAScript,
// case-sensitive) matched against the end of a path: the name is not escaped, so a dot stands for
// any character; a name without an extension also accepts any run of letter-only extensions after
// it ("plan" finds "sub/plan.dwg" and "plan.bak.dwg", not "plan.dwg2" nor "plan"). A path matches
// exactly when std::regex_match says so, but the search takes time linear in each path's length.
// Limits: a name of up to 4096 bytes (its narrow form) with up to 100 nested groups is refused
// exactly when std::regex refuses it, but for what is refused on purpose: a quantifier right after
// another ("*.dwg" makes ".**.dwg", error_badrepeat), a repeat count or back-reference number of
// more than nine digits (error_badbrace, error_backref), and '^', \b or \B inside a look-ahead
// (error_complexity). A longer name is refused with std::regex_constants::error_space, a deeper
// one with error_complexity. A name with a back-reference or a look-ahead is matched with bounded
// work per path: past that bound the search throws std::regex_error with error_complexity.
//
// Calls on one explorer must not overlap, not even const ones: matching fills the narrow-form
// cache of the stored paths.
class RVK_EXPORT RepoFileExplorer {
public:
    // Copies what it needs of `changes` and `root`; stages nothing.
    RepoFileExplorer(const RepoChanges& changes, const RootPath& root);
    // Takes over the state of `other`, which afterwards may only be destroyed.
    RepoFileExplorer(RepoFileExplorer&& other) noexcept;
    RepoFileExplorer(const RepoFileExplorer&) = delete;
    RepoFileExplorer& operator=(const RepoFileExplorer&) = delete;
    RepoFileExplorer& operator=(RepoFileExplorer&&) = delete;
    ~RepoFileExplorer();

    // True when there is a candidate that is not staged yet.
    bool hasFilesToStage() const;

    // Stages the first candidate equal to `file` (same path, code unit by code unit, and same
    // kind). True when it was not staged before; false when no candidate is equal or it was
    // staged already, and then nothing changes. Takes constant time on average (a hash of the
    // path), so staging every candidate of a large change one by one stays linear.
    bool stage(const StagedFile& file);

    // Copies of the staged candidates in candidate order (modified before added), whatever the
    // order they were staged in. With nothing staged: an empty list when the changes hold removed
    // files, otherwise the error "There are no modified or untracked files for commit.".
    Expected<std::vector<StagedFile>> stagedFiles() const;

    // A copy of every candidate, staged or not, in candidate order.
    std::vector<StagedFile> possibleStageFiles() const;

    // The one candidate whose path matches `name`; NotFound when none does; when several do, the
    // error "More that one file found with name <name>.\n" (trailing newline included). Staged
    // candidates take part like the others. Throws std::regex_error, changing nothing, when `name`
    // is no valid pattern or passes the limits above.
    boost::variant<StagedFile, NotFound, ErrorMessage> findForStaging(const OdString& name) const;

    // The path of the first unchanged file that matches `name`, or the empty string; further
    // matches are no error. Throws std::regex_error when `name` is no valid pattern.
    OdString findUnchanged(const OdString& name) const;

private:
    struct State;
    // Null only in a moved-from explorer.
    std::unique_ptr<State> m_state;
};

}  // namespace common
