// What rvk's commands share: the session each one runs in, the repository lock taken in the mode of
// the command's entry in the command table, and the opened repository. The commands themselves
// live in rvk.cpp, status in StatusCommand.cpp, and restore and verify, which work on stored
// copies, in StoreCommands.cpp.
#pragma once

#include <chrono>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <common/Cache.h>
#include <common/Expected.h>
#include <common/FileRecords.h>
#include <common/RepoLock.h>
#include <common/RootPath.h>

#include "Console.h"
#include "Database.h"
#include "RepositoryLock.h"
#include "TypedNames.h"

namespace host {

// Raised for a command line that does not fit the usage; main() prints the problem, then the
// usage.
struct BadUsage {
    std::string problem;
};

// A command's words split into options and operands. Options may come anywhere before a "--",
// which ends them: every word after it is an operand, so a file named "-x" can be named.
struct Arguments {
    std::map<std::string, std::string>
        options;  // each given option, with its value if it takes one
    std::vector<std::string> operands;

    bool has(const std::string& option) const { return options.count(option) > 0; }
};

// Whether `parsed`, the words of a command that takes either OPERANDs (`operands`: "NAMEs",
// "PATHs") or --all, asks for --all. Throws BadUsage for both or neither.
bool wantsAll(const char* command, const Arguments& parsed, const char* operands);

// Splits `args` for `command`: `flags` take no value, `valued` take the next word. Throws BadUsage
// naming an unknown option, a repeated one or one whose value is missing.
Arguments parseArguments(const char* command, const std::vector<std::string>& args,
                         std::initializer_list<const char*> flags,
                         std::initializer_list<const char*> valued = {});

// What every command gets besides its arguments.
struct Session {
    const ConsoleIo& io;
    std::chrono::milliseconds lockTimeout;
    LockMode lockMode;  // the command's, from its entry in the command table

    // The repository lock in the mode of the running command. The caller keeps it until the
    // command has ended, its Caches included (their end writes the state file): declared before
    // them, it is released after them.
    Expected<common::RepoLock> lock(const common::RootPath& root) const {
        return lockRepository(root, lockMode, lockTimeout);
    }
};

// A command's failure on its way up to main(), which prints it and exits 1.
struct CommandFailed {
    ErrorMessage error;
};

// The value of `result`; when it holds an error instead, that error goes up to main() (thrown as
// CommandFailed), ending the command. The one way a command passes an error up: what the command
// holds (its lock, its Caches) ends on the way, as on any return.
template <class T>
T orFail(Expected<T>&& result) {
    if (!result.hasValue())
        throw CommandFailed{result.error()};
    return std::move(result).value();
}
inline void orFail(Expected<void>&& result) {
    if (!result.hasValue())
        throw CommandFailed{result.error()};
}

using Command = int (*)(const std::vector<std::string>&, const Session&);

// The repository that contains the current folder, and where in it the command runs.
Expected<Place> findRoot();
Expected<OdString> currentFolder();

// Success when nothing rvk reads or writes directly inside ".rvk" of `root` (".rvk" itself, the
// stores "objects" and "tf", "properties", "rvk.db", "rvk.state") is a symbolic link; otherwise
// an error naming it. A repository folder may come from someone else: a link there would make rvk
// read or write wherever it leads.
Expected<void> checkRepositoryFolder(const common::RootPath& root);

// The repository of the current folder, locked for the running command, with its state, its
// database and the files HEAD's commit tracks: what every command that looks at changes starts
// from.
struct Repository {
    common::RepoLock lock;  // first, so that it is released last
    common::RootPath root;
    Place place;
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
