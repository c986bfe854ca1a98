// What the commands of a shared history have in common (SharedHistory.cpp): the clone's remote,
// the paths and URLs of the server made local and checked, and pull, which clone runs too.
#pragma once

#include <string>

#include <common/Expected.h>

#include <client/base/Repository.h>

#include <client/LocalOperations.h>
#include <client/shared/ServerPaths.h>

#include "Commands.h"
#include <client/shared/RemoteSettings.h>
#include <client/shared/ServerConnection.h>

namespace rvk {

// The kit's Repository, Place and lock for the running command, in its entry's lock mode.
Expected<Repository> openRepository(const Session& session);
Expected<Place> findRoot(const Session& session);
Expected<common::RepoLock> lockFor(const Session& session, const common::RootPath& root);

// The server of the repository's remote, connected and checked; fails when none is set.
Expected<ServerConnection> connectRemote(Database& db, Reporter& reporter);

// Brings the server's commits into the opened repository, replays the clone's own commits on top
// and updates the working files the server changed (see SharedHistory.cpp). Prints the closing
// line; `verb` names the command in it ("pulled", "cloned").
int pullInto(Repository& r, ServerConnection& server, const char* verb);

int clone(const std::vector<std::string>& args, const Session& session);
int push(const std::vector<std::string>& args, const Session& session);
int pull(const std::vector<std::string>& args, const Session& session);
int uncommit(const std::vector<std::string>& args, const Session& session);

// The commands of RemoteCommands.cpp.
int remote(const std::vector<std::string>& args, const Session& session);
int lock(const std::vector<std::string>& args, const Session& session);
int unlock(const std::vector<std::string>& args, const Session& session);
int locks(const std::vector<std::string>& args, const Session& session);

// Notes on stderr the files that roles other than that of `conninfo` hold locks on; a server that
// does not answer within two seconds gets one note.
void noteLocksHeldByOthers(const std::string& conninfo);

}  // namespace rvk
