// The commits of a shared history on its server: reading those after a given one, and appending
// a clone's commits with a compare-and-set of the server's head, in one transaction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/optional.hpp>

#include <common/Expected.h>

#include <client/shared/ServerConnection.h>
#include <client/shared/ServerLocks.h>

namespace client {

// A path a commit added or changed (with the URL and digest of its copy) or removed (without).
// Paths are '/'-separated.
struct ServerChange {
    std::string path;
    boost::optional<std::string> url;
    boost::optional<std::string> sha256;
};

struct ServerCommit {
    std::uint64_t id = 0;
    std::int64_t time = 0;
    std::string message;
    std::string author;  // the role that pushed it; set by the server
    std::string digest;  // commitDigest() of the commit, as its pusher computed it
    std::vector<ServerChange> changes;  // ordered by path
};

// What identifies a commit's content, whatever its clone: SHA-256 over its parent, time, message
// and changes. A clone that finds its own digest on the server knows that the push landed.
std::string commitDigest(std::uint64_t id, const ServerCommit& commit);

// The largest a commit message and a path may be on the server (a path's names: 255 bytes each).
constexpr std::size_t kMessageLimit = 64 * 1024;
constexpr std::size_t kPathLimit = 1024;
constexpr std::size_t kNameLimit = 255;

// What keeps the '/'-separated `path` from a commit on the server, as the server's rvk.path_problem
// says it: not trackable (isTrackablePath), a control character, too long. None when it may go.
boost::optional<std::string> serverPathProblem(const std::string& path);

// The server's newest commit; 0 before the first.
Expected<std::uint64_t> serverHead(ServerConnection& server);

// The commits after `after` up to `upTo`, oldest first, with their changes. Fails when the
// server's rows are not a chain of ids counting up from `after` + 1, or hold a value larger than
// a commit may (found out on the server, before the value travels).
Expected<std::vector<ServerCommit>> fetchCommits(ServerConnection& server, std::uint64_t after,
                                                 std::uint64_t upTo);

// What became of an append.
struct Appended {
    bool behind = false;  // the server's head was no longer `base`: nothing changed
    std::uint64_t head = 0;  // the server's head afterwards
    std::vector<LockRecord> lockedByOthers;  // paths the commits change that others hold
    // Lockable files the server has that the commits change without the pusher's lock on them.
    std::vector<std::string> unlocked;
    std::vector<std::string> released;  // the pusher's locks that the push released
};

// Appends `commits` (ids `base` + 1 onwards, their copies on the server already) through the
// server's rvk.push(), in one transaction that first takes the head row and finds it still at
// `base`, and that changes nothing when a path they change is locked by another role, or is a
// lockable file the server has whose lock the login does not hold. Their author is the login's,
// which the server sets. Unless `keepLocks`, the login's locks on the paths they change go. Commits that the server would refuse (a message
// or a path too long, a path it may not hold) are refused here first, with nothing sent.
Expected<Appended> appendCommits(ServerConnection& server, std::uint64_t base,
                                 const std::vector<ServerCommit>& commits, bool keepLocks);

}  // namespace client
