// Where a clone stands against its server, and what clone, push, pull and uncommit share: the
// clone's own commits as the server takes them, a pull that was cut off completed, the server's
// changes checked as input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include <common/Expected.h>

#include <client/Session.h>
#include <client/base/Repository.h>
#include <client/shared/PullPlan.h>
#include <client/shared/ServerConnection.h>
#include <client/shared/ServerHistory.h>

namespace client {

// What finishPending() found and did.
struct Completed {
    bool wasCutOff = false;  // a pull had been cut off, and is complete now unless files are held
    std::size_t files = 0;   // working files it updated
    // Working files held open by another program, left as they were: the pull stays noted.
    std::vector<OdString> held;
};

// The clone's own commits, those after its base: each as rvk.db has it and as the server takes it.
struct OwnCommits {
    std::vector<std::pair<CommitRecord, TrackedFiles>> local;
    std::vector<ServerCommit> sent;
};

// Where the clone stands against its server: the newest server commit it holds (its base), the
// server's head, and its own commits after the base, those the server holds already (from a push
// cut off after the server took them) counted into the base.
struct Standing {
    std::uint64_t base = 0;
    std::uint64_t top = 0;
    OwnCommits own;
    std::size_t landed = 0;
};

// A number that rvk.db keeps for the clone (its base); 0 when unset.
Expected<std::uint64_t> numberSetting(Database& db, const char* key);

// The changes from `before` to `after`, ordered by path, with the digests of the copies.
Expected<std::vector<ServerChange>> changesBetween(Database& db, const common::RootPath& root,
                                                   const TrackedFiles& before,
                                                   const TrackedFiles& after);

// Checks a change from the server as restore checks the database's paths and URLs.
Expected<void> checkChange(const common::RootPath& root, const ServerChange& change);

// Moves HEAD in the state file, with the staged changes of `unstaged` dropped in the same write,
// and loads the state again for what follows.
Expected<void> setHead(Repository& r, std::uint64_t head, const std::set<OdString>& unstaged = {});

// Completes a pull whose commits are in rvk.db: HEAD (the staged changes to the files it settled
// dropped, since its commits hold them now), then the working files, as it settled them. Nothing
// to do without a noted one. Working files held open by another program are left as they were,
// and the note stays until a later call finds them closed and puts them in place.
Expected<Completed> finishPending(Repository& r);

// The clone's commits after `base`, each as rvk.db has it and as the server takes it.
Expected<OwnCommits> ownCommits(Repository& r, std::uint64_t base);

// The paths that any of the clone's own commits changed, each against the one before it: a file
// edited and then put back byte for byte was still touched.
std::set<OdString> touchedPaths(const TrackedFiles& base, const OwnCommits& own);

// Where the clone stands against `server`, the commits of a push that was cut off after the
// server took them counted into the base.
Expected<Standing> standing(Repository& r, ServerConnection& server);

// The server of `conninfo`, connected, with a shared repository in this kit's format. Notices go
// to `reporter`.
Expected<ServerConnection> connectChecked(const std::string& conninfo, Reporter& reporter);

// The server of the repository's remote, connected and checked; fails when none is set. Notices
// go to `reporter`.
Expected<ServerConnection> connectRemote(Database& db, Reporter& reporter);

// The repository of the user's folder with the server of its remote connected: opened in `mode`,
// or with `toChange` as openToChange() opens it.
struct Linked {
    Repository repo;
    ServerConnection server;
};
Expected<Linked> openLinked(const Session& session, LockMode mode, bool toChange = false);

}  // namespace client
