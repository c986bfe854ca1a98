// What rvk's commands share: the session each one runs in, the repository lock taken in the mode of
// the command's entry in the command table, and the opened repository. The commands themselves
// live in rvk.cpp, status in StatusCommand.cpp, and restore and verify, which work on stored
// copies, in StoreCommands.cpp.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <common/Cache.h>
#include <common/Expected.h>
#include <common/FileRecords.h>
#include <common/RepoLock.h>
#include <common/RootPath.h>

#include "Console.h"
#include "Database.h"

namespace host {

// Raised for a command line that does not fit the usage; main() prints the usage for it.
struct BadUsage {};

enum class LockMode { none, shared, exclusive };

// What every command gets besides its arguments.
struct Session {
    const ConsoleIo& io;
    std::chrono::milliseconds lockTimeout;
    LockMode lockMode;  // the command's, from its entry in the command table
};

using Command = int (*)(const std::vector<std::string>&, const Session&);

// The repository lock in the mode of the running command. The caller keeps it until the command
// has ended, its Caches included (their end writes the state file): declared before them, it is
// released after them.
Expected<common::RepoLock> lockRepository(const Session& session, const common::RootPath& root);

// The repository that contains the current folder.
Expected<common::RootPath> findRoot();
Expected<OdString> currentFolder();

// The repository of the current folder, locked for the running command, with its state, its
// database and the files HEAD's commit tracks: what every command that looks at changes starts
// from.
struct Repository {
    common::RepoLock lock;  // first, so that it is released last
    common::RootPath root;
    Expected<common::Cache> cache;
    Database db;
    TrackedFiles head;
};

Expected<Repository> openRepository(const Session& session);

// A command-line word as text.
OdString fromArg(const std::string& arg);

// Prints `error` and gives the exit code of a failed command.
int fail(const ErrorMessage& error);

// The two-character code of a staged file in listings: "M+", "A+" or "D+".
const char* stagedCode(common::EFileChange change);

// The command of StatusCommand.cpp.
int status(const std::vector<std::string>& args, const Session& session);

// The commands of StoreCommands.cpp.
int restore(const std::vector<std::string>& args, const Session& session);
int verify(const std::vector<std::string>& args, const Session& session);

}  // namespace host
