// What rvk's commands share: their arguments, the session each one runs in, and the way a
// failure goes up. The commands themselves live in rvk.cpp, status in StatusCommand.cpp, restore,
// verify and export in StoreCommands.cpp, and those of a shared history in SharedCommands.cpp.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <client/Session.h>
#include <common/Expected.h>
#include <common/FileRecords.h>

#include "Console.h"

namespace rvk {

using namespace client;

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

// The commit id `text` names (a decimal number from 1, without a sign or leading zeros), or an
// error saying it is none.
Expected<std::uint64_t> parseCommitId(const std::string& text);

// How long a command waits for the repository lock when nothing else is said.
constexpr std::chrono::seconds kDefaultLockTimeout(30);

// The wait that `text` (seconds, a decimal number from 0 to 86400; the value of --lock-timeout or
// of RVK_LOCK_TIMEOUT) asks for, or an error naming `source` and the text.
Expected<std::chrono::milliseconds> parseLockTimeout(const std::string& text,
                                                     const std::string& source);

// What every command gets besides its arguments.
struct Session {
    const ConsoleIo& io;
    ConsoleReporter& reporter;
    std::chrono::milliseconds lockTimeout;

    // What the kit's operations get: the current folder is where the user stands.
    Expected<client::Session> kit() const {
        auto here = client::currentFolder();
        if (!here.hasValue())
            return here.error();
        return client::Session{io, reporter, here.value(), lockTimeout};
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

// The time of a new commit: RVK_COMMIT_TIME when set, otherwise now.
Expected<std::int64_t> commitTime();

// A command-line word as text.
OdString fromArg(const std::string& arg);

// Prints `error` (unless ConsoleIo printed it already) and gives the exit code of a failed
// command.
int fail(const ErrorMessage& error);

// The command of StatusCommand.cpp.
int status(const std::vector<std::string>& args, const Session& session);

// The commands of StoreCommands.cpp.
int restore(const std::vector<std::string>& args, const Session& session);
int verify(const std::vector<std::string>& args, const Session& session);
int exportCommit(const std::vector<std::string>& args, const Session& session);

// The commands of SharedCommands.cpp.
int remote(const std::vector<std::string>& args, const Session& session);
int clone(const std::vector<std::string>& args, const Session& session);
int push(const std::vector<std::string>& args, const Session& session);
int pull(const std::vector<std::string>& args, const Session& session);
int uncommit(const std::vector<std::string>& args, const Session& session);
int lock(const std::vector<std::string>& args, const Session& session);
int unlock(const std::vector<std::string>& args, const Session& session);
int locks(const std::vector<std::string>& args, const Session& session);
int label(const std::vector<std::string>& args, const Session& session);
int labels(const std::vector<std::string>& args, const Session& session);
int lockable(const std::vector<std::string>& args, const Session& session);

// The command of ServeCommand.cpp.
int serve(const std::vector<std::string>& args, const Session& session);

}  // namespace rvk
