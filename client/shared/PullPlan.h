// How a pull brings the working tree from one snapshot of the server's files to the next: which
// files it writes, which it removes, which folders must go so that a file can take their name,
// and what stops it. The whole update is planned and found writable before HEAD moves, so that
// a pull either changes nothing and says why, or can be completed by running it again.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <common/Expected.h>
#include <common/RootPath.h>

#include <client/store/Database.h>
#include <client/store/HostStorage.h>

namespace client {

// The paths whose URL differs between two snapshots.
std::set<OdString> changedPaths(const TrackedFiles& before, const TrackedFiles& after);

// A path that cannot be written here, and why ("the file 'docs' is in the way").
struct Blocked {
    OdString path;
    std::string reason;
};

struct PullPlan {
    std::vector<OdString> removing;      // files, removed first
    std::vector<OdString> folders;       // emptied by the removals, then removed, deepest first
    std::vector<Restoring> writing;      // files written last
    std::vector<OdString> conflicts;     // changed here: left alone, so the pull changes nothing
    std::vector<Blocked> blocked;        // cannot be written here: the pull changes nothing
};

// How a pull settles the files changed on both sides, for planPull() to follow, and kept in
// rvk.db with the note of a pull whose working files are not all placed, so that the pull that
// completes it follows it too.
struct Settled {
    // Files that take the server's version though they hold neither side's: each with the digest
    // of the only bytes that the pull may replace, those it has set aside (empty: none, only a
    // missing file is replaced). Bytes that differ from those were written after the pull looked,
    // and stay a conflict.
    std::map<OdString, std::string> replacing;
    // Files left as they are: the drafter's versions, which a commit of this clone's records.
    std::set<OdString> keeping;

    bool empty() const { return replacing.empty() && keeping.empty(); }
};

// `settled` as rvk.db keeps it, and back; a damaged text is an error.
std::string settledText(const Settled& settled);
Expected<Settled> parseSettled(const std::string& text);

// Plans the update of the working files of `root` that the server changed from `before` to
// `after`. A working file still as in `before` (or already as in `after`) takes the server's
// version; any other is a conflict, decided by content as restore decides, unless `settled` says
// otherwise. `digests` gives the digests of copies that rvk.db does not record yet (a pull's
// own), by URL.
Expected<PullPlan> planPull(Database& db, const common::RootPath& root, const TrackedFiles& before,
                            const TrackedFiles& after,
                            const std::map<OdString, std::string>& digests,
                            const Settled& settled = {});

// The paths of `files` that a folder of the same snapshot needs as its name: "q" beside "q/r.txt".
// No folder can hold both.
std::vector<Blocked> folderClashes(const TrackedFiles& files);

// What updateWorkingTree() did.
struct Updated {
    std::size_t files = 0;       // written or removed
    std::vector<OdString> held;  // held open by another program: left as they were
};

// Carries out a plan that has neither conflicts nor blocked paths: the removals, the emptied
// folders, then the files, written as restore writes them. A file that another program holds open
// so that it can be neither replaced nor removed is left whole as it was, and so is a folder that
// holds one (with the file that was to take its name); everything else is carried out all the same.
Expected<Updated> updateWorkingTree(const common::RootPath& root, const PullPlan& plan);

// "pull changes nothing: ..." with the conflicts and blocked paths of `plan` listed, one a line;
// with `offerChoices`, followed by the ways of settling the conflicts that pull offers.
ErrorMessage refusal(const PullPlan& plan, bool offerChoices = false);

}  // namespace client
