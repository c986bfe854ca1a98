// What the kit's operations start from: the repository that contains the user's folder, locked
// in the operation's mode, with its state, its database and the files HEAD's commit tracks.
#pragma once

#include <common/Cache.h>
#include <common/Expected.h>
#include <common/RepoLock.h>
#include <common/RootPath.h>

#include <client/Session.h>
#include <client/base/CountingIo.h>
#include <client/store/Database.h>
#include <client/tree/RepositoryLock.h>
#include <client/tree/TypedNames.h>

namespace client {

// The repository that contains `session.folder` and where in it the user stands. Fails when
// there is none, or when checkRepositoryFolder() refuses it.
Expected<Place> findRoot(const Session& session);

// Success when nothing the kit reads or writes directly inside ".rvk" of `root` (".rvk" itself,
// the stores "objects" and "tf", "properties", "rvk.db", "rvk.state") is a symbolic link;
// otherwise an error naming it. A repository folder may come from someone else: a link there
// would make the kit read or write wherever it leads.
Expected<void> checkRepositoryFolder(const common::RootPath& root);

// `root`'s lock in `mode`, the wait noted to the session's Reporter.
Expected<common::RepoLock> lockFor(const Session& session, const common::RootPath& root,
                                   LockMode mode);

// The repository of the user's folder, locked in `mode`, and where the user stands in it.
struct LockedPlace {
    common::RepoLock lock;
    Place place;
};
Expected<LockedPlace> lockPlace(const Session& session, LockMode mode);

// The repository at `folder` (absolute), made when there is none (its ".rvk" and the folders in
// it), checked and locked exclusively: where init and clone start.
struct MadeRoot {
    common::RepoLock lock;
    common::RootPath root;
};
Expected<MadeRoot> makeRoot(const Session& session, const OdString& folder);

// The repository of the user's folder, locked in `mode`, with its state loaded through `io`: for
// the operations that need neither the database nor HEAD's files.
struct LoadedState {
    LockedPlace locked;
    common::Cache cache;
};
Expected<LoadedState> loadState(const Session& session, LockMode mode,
                                const common::IoInterface& io);

struct Repository {
    common::RepoLock lock;  // first, so that it is released last
    common::RootPath root;
    Place place;
    // Hears the state file's outcomes before the host does, so that an operation knows whether
    // its change landed. Held by pointer: a Repository moves.
    std::unique_ptr<CountingIo> io;
    Expected<common::Cache> cache;
    Database db;
    TrackedFiles head;
};

Expected<Repository> openRepository(const Session& session, LockMode mode);
// The repository opened for an operation that changes the working tree or the history: locked
// exclusively, and refused while a pull is cut off (checkNoCutOffPull).
Expected<Repository> openToChange(const Session& session);

// Ends `cache` (taken over) after `change` changed its state in one transaction: the state file is
// written. Success only when that write succeeded; the host's IoInterface heard the outcome too.
Expected<void> changeState(common::Cache& cache, const CountingIo& io,
                           const std::function<void(common::State&)>& change);

// Tells the Reporter how far `step` has come; cancelledError() when the Reporter cancels.
Expected<void> advance(const Session& session, const char* step, std::uint64_t done,
                       std::uint64_t total, std::uint64_t bytes = 0);

}  // namespace client
