// A pull in its phases, each of which changes nothing but what it says:
//   fetch   the server's commits after the clone's base, every change checked as input, with the
//           snapshots of the server's files they make and the copies they name;
//   replay  this clone's own commits put on top of the server's newest snapshot, and the plan of
//           the working tree's update, with what stops it (files changed on both sides, files
//           the working tree cannot take);
//   settle  files changed on both sides settled as the pull was asked to: the drafter's bytes set
//           aside (on disk, flushed) or the drafter's versions stored for a commit of their own,
//           this clone's commits rewritten without their changes to those files, the plan made
//           again; nothing else changes;
//   apply   the copies received and stored, the commits recorded with the new base and a note of
//           the working files to update, in one transaction; then HEAD and the working files.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <client/SharedOperations.h>
#include <client/shared/Standing.h>

namespace client {

struct Fetched {
    std::vector<ServerCommit> commits;
    std::vector<TrackedFiles> snapshots;  // the server's files after each commit
    std::map<OdString, std::string> digests;              // of every copy named, by URL
    std::vector<std::pair<OdString, std::string>> wanted;  // URL and digest, in order, once each
    std::map<OdString, OdString> wantedFor;               // a path each copy is of, for messages
};

// The server's commits from `base` + 1 to `top`, on top of `baseFiles`.
Expected<Fetched> fetchPull(Repository& r, ServerConnection& server, std::uint64_t base,
                            std::uint64_t top, const TrackedFiles& baseFiles);

struct Replayed {
    std::vector<CommitRecord> commits;  // the clone's own commits, as they go on top
    std::vector<TrackedFiles> files;    // HEAD's files after each of them
    PullPlan plan;                      // the working tree's update; refused unless clean

    // What settle made of the files changed on both sides.
    Settled settled;
    // Copies of this clone's that no commit names once its own changes to those files are gone:
    // the server's copy under the same URL may replace them (a drawing is filed under the id of
    // its commit, which the server gave another clone's commit too).
    std::set<OdString> givenUp;
    // Conflicts::mine: the commit of the drafter's versions, last, with the copies it stored.
    struct Kept {
        CommitRecord record;
        TrackedFiles files;
        std::vector<KeptCopy> copies;
        std::vector<OdString> paths;
    };
    boost::optional<Kept> kept;
    std::vector<std::pair<OdString, OdString>> setAside;  // Conflicts::theirs: path, copy
    std::vector<OdString> taken;  // Conflicts::theirs: with nothing to set aside
};

// This clone's commits `own` (after `baseFiles`) on top of `serverFiles`, and the plan of the
// working tree's update, with every file changed on both sides as a conflict.
Expected<Replayed> replayPull(Repository& r, const TrackedFiles& baseFiles,
                              const TrackedFiles& serverFiles, const OwnCommits& own,
                              const std::map<OdString, std::string>& digests);

// Settles the files changed on both sides in `replayed` as `options` says, for the server's
// `fetched` commits (their newest snapshot `serverFiles`) on top of `baseFiles`: see Conflicts.
// Nothing to do for Conflicts::refuse, without conflicts, or with files the working tree cannot
// take. Fails, changing nothing in rvk.db or the working tree but the copies set aside, when
// the conflicts cannot be settled so.
Expected<void> settleConflicts(Repository& r, ServerConnection& server, const PullOptions& options,
                               const Standing& standing, const TrackedFiles& baseFiles,
                               const TrackedFiles& serverFiles, const Fetched& fetched,
                               Replayed& replayed);

// What apply received.
struct Received {
    std::size_t copies = 0;
    std::int64_t bytes = 0;
    std::size_t files = 0;  // working files updated
    std::uint64_t head = 0;
    std::vector<OdString> held;  // working files held open by another program, left as they were
};

// Receives the copies the clone lacks (reporting "receiving" progress, cancelled between
// chunks), records the server's commits and the clone's own on top, then completes the update.
Expected<Received> applyPull(Repository& r, ServerConnection& server, const Session& session,
                             const Standing& standing, const Fetched& fetched,
                             const Replayed& replayed);

}  // namespace client
