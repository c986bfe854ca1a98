// How rvk keeps its commands on one repository from overlapping: every command that touches the
// repository holds the library's RepoLock for its whole run, exclusively when it changes anything
// (the state, the database, stored copies, working files) and shared when it only reads.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include <common/Expected.h>
#include <common/RepoLock.h>
#include <common/RootPath.h>

#include <client/Session.h>

namespace client {

// Takes `root`'s lock in `mode` (none is taken as shared), calling `waiting` once when another
// command holds it, and failing with the library's message naming the lock file after
// `timeout`. Holding the lock, it removes the temporary copies that killed commands of rvk's left
// behind (the library removes the temporary files of its own writes when the lock is taken
// exclusively).
Expected<common::RepoLock> lockRepository(const common::RootPath& root, LockMode mode,
                                          std::chrono::milliseconds timeout,
                                          const std::function<void()>& waiting);

}  // namespace client
