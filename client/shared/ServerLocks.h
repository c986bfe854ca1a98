// Drawing locks on a shared history's server: an exclusive lock on a path, held by the login that
// took it, with the time it was taken. Locks are taken and released through the server's
// functions, which hold them for the session's login and release another's only for a member of
// rvk_admin who forces it.
#pragma once

#include <string>
#include <vector>

#include <boost/optional.hpp>

#include <common/Expected.h>

namespace client {

class ServerConnection;

struct LockRecord {
    std::string path;    // '/'-separated
    std::string holder;  // the role
    std::string taken;   // the time, UTC, as ISO 8601
};

// Every lock, by path.
Expected<std::vector<LockRecord>> allLocks(ServerConnection& server);
// The locks among `paths` that roles other than the connection's hold.
Expected<std::vector<LockRecord>> locksOfOthers(ServerConnection& server,
                                                const std::vector<std::string>& paths);
// Whether a change to a path needs its lock, and who holds that lock (empty: nobody).
struct LockStanding {
    std::string path;  // '/'-separated
    bool lockable = false;
    std::string holder;
};
// The standing of each of `paths`, in one query, as the server decides it.
Expected<std::vector<LockStanding>> lockStandings(ServerConnection& server,
                                                  const std::vector<std::string>& paths);
// Takes the lock on `path`. The record of the lock as it is afterwards: the connection's role's
// (taken now, or held already), or another role's, which the caller reports.
Expected<LockRecord> takeLock(ServerConnection& server, const std::string& path);
// Releases the lock on `path`: the connection's own, or with `force` anyone's (which only
// rvk_admin may). None when it was released; otherwise the lock that stays (held by another
// role; or none at all, when `path` had no lock, reported as an empty holder).
Expected<boost::optional<LockRecord>> releaseLock(ServerConnection& server,
                                                  const std::string& path, bool force);

}  // namespace client
