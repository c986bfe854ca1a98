// What the commands of a shared history have in common (SharedHistory.cpp): the clone's remote,
// the paths and URLs of the server made local and checked, and pull, which clone runs too.
#pragma once

#include <string>

#include <common/Expected.h>

#include "Commands.h"
#include "ServerConnection.h"

namespace host {

// The settings rvk.db keeps for a clone.
constexpr const char* kRemoteKey = "conninfo";  // the remote's connection string
constexpr const char* kBaseKey = "base";        // the newest server commit this clone holds
constexpr const char* kPendingKey = "pending";  // a pull whose working files are not all placed

// Fails when a pull was cut off after its commits were stored and before HEAD and the working
// files followed: until rvk pull completes it, HEAD may name the wrong commit, so commands that
// build on HEAD (commit, restore) refuse to run.
Expected<void> checkNoCutOffPull(Database& db);

// The server of the repository's remote, connected and checked; fails when none is set.
Expected<ServerConnection> connectRemote(Database& db);

// A repository path as the server writes it: '/'-separated, UTF-8.
std::string serverPath(const OdString& path);

// Brings the server's commits into the opened repository, replays the clone's own commits on top
// and updates the working files the server changed (see SharedHistory.cpp). Prints the closing
// line; `verb` names the command in it ("pulled", "cloned").
int pullInto(Repository& r, ServerConnection& server, const Session& session, const char* verb);

int clone(const std::vector<std::string>& args, const Session& session);
int push(const std::vector<std::string>& args, const Session& session);
int pull(const std::vector<std::string>& args, const Session& session);

// The commands of RemoteCommands.cpp.
int remote(const std::vector<std::string>& args, const Session& session);
int lock(const std::vector<std::string>& args, const Session& session);
int unlock(const std::vector<std::string>& args, const Session& session);
int locks(const std::vector<std::string>& args, const Session& session);

// For status: notes on stderr of the files that roles other than the remote's hold locks on.
// Nothing without a remote; a server that does not answer within two seconds gets one note, and
// status goes on.
void noteLocksOfOthers(const common::RootPath& root);

}  // namespace host
