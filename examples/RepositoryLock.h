// How rvk keeps its commands on one repository from overlapping: every command that touches the
// repository holds the library's RepoLock for its whole run, exclusively when it changes anything
// (the state, the database, stored copies, working files) and shared when it only reads.
#pragma once

#include <chrono>
#include <string>

#include <common/Expected.h>
#include <common/RepoLock.h>
#include <common/RootPath.h>

namespace host {

// The lock a command holds on its repository: none (where, relpath), shared for the commands that
// only read, exclusive for those that change anything.
enum class LockMode { none, shared, exclusive };

// How long a command waits for the lock when nothing else is said.
constexpr std::chrono::seconds kDefaultLockTimeout(30);

// The wait that `text` (seconds, a decimal number from 0 to 86400; the value of --lock-timeout or
// of RVK_LOCK_TIMEOUT) asks for, or an error naming `source` and the text.
Expected<std::chrono::milliseconds> parseLockTimeout(const std::string& text,
                                                     const std::string& source);

// Takes `root`'s lock in `mode` (none is taken as shared), saying once on stderr that it waits when
// another command holds it, and failing with the library's message naming the lock file after
// `timeout`. Holding the lock, it removes the temporary copies that killed commands of rvk's left
// behind (the library removes the temporary files of its own writes when the lock is taken
// exclusively).
Expected<common::RepoLock> lockRepository(const common::RootPath& root, LockMode mode,
                                          std::chrono::milliseconds timeout);

}  // namespace host
