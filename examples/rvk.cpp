// rvk: the reference host, a command-line program that drives a whole commit preparation through
// the library's public interface: it finds or makes the repository, scans and sorts the working
// tree, stages files by the names a user types, and records commits in its own SQLite database
// with the stored copies of the committed files, which it can restore and verify. The usage text
// below is its manual.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <client/LocalOperations.h>
#include <common/FileRecords.h>
#include <common/RootPath.h>
#include <platform/FileName.h>

#include "Commands.h"
#include "Console.h"
#include "RunRvk.h"

namespace {

using common::EFileChange;
using common::StagedFile;
using rvk::BadUsage;
using rvk::commitTime;
using rvk::ConsoleIo;
using rvk::fail;
using rvk::fromArg;
using rvk::hostError;
using rvk::orFail;
using rvk::quoteName;
using rvk::Session;
using rvk::shortened;
using rvk::utf8;

constexpr const char* kUsage = R"(usage: rvk [--lock-timeout SECONDS] <command> [arguments]

commands:
  init [DIR]          make DIR (default: the current folder) a repository, or complete the
                      repository that already contains it
  status [-z]         list the files that differ from HEAD's commit, and the staged files
  stage NAME...       stage the changed, new or removed files that the NAMEs find
  stage --all         stage every changed, new and removed file
  unstage PATH...     drop the staged files at these paths (--all: every staged file)
  commit -m MESSAGE   store the staged files and record them as a new commit on HEAD
  log [PATH]          list HEAD's commit and its ancestors, newest first (with PATH: only
                      those that added, changed or removed the file at PATH)
  restore [--commit ID | --label NAME] [--force] PATH... | --all
                      put the files at PATH (or all files) back as HEAD's commit (or commit ID,
                      or the commit the label NAME names on the server) has them
  export LABEL|ID DIR write the files of commit ID (or of the commit that LABEL names on the
                      server) into the new folder DIR, with a register of them, register.csv
  verify              check that every stored copy that a commit names is there and whole
  show-state          print the state file
  where [DIR]         print the paths of the repository that contains DIR
  relpath PATH        print PATH relative to the root of its repository

shared history (on a PostgreSQL server):
  remote              print the remote's connection string
  remote set CONNINFO make CONNINFO (a libpq connection string or service=NAME, no password
                      in it) the remote of this repository
  remote create CONNINFO
                      make an empty shared repository in the database CONNINFO names
  clone CONNINFO DIR  make DIR a clone of the shared repository at CONNINFO
  push [--keep-locks] send the commits the server lacks (refused when it has commits this
                      clone lacks: run rvk pull first), releasing this role's locks on the
                      files they change unless --keep-locks
  pull [--theirs | --mine]
                      bring the server's commits, update the files it changed, and put this
                      clone's own commits on top; a file changed both here and on the server
                      stops it, unless --theirs takes the server's version and keeps yours
                      beside it as NAME.mine.EXT (untracked), or --mine keeps yours and records
                      it in a new commit on top, for rvk push to send (a lockable file needs
                      your lock)
  uncommit            turn this clone's commits that the server lacks back into staged
                      changes (working files stay as they are)
  lock PATH...        lock files on the server for the role of the connection
  unlock [--force] PATH...
                      release locks (--force: another role's; rvk_admin members only)
  locks               list the locks: path, role, time taken
  lockable [set RULE...]
                      list the server's lockable rules, or replace them (rvk_admin members
                      only): file-name patterns ("*.pdf", "sheets/*.xlsx") of files that, like
                      drawings, need their lock
  label NAME [ID]     label commit ID (default: HEAD's, which must be on the server) NAME on
                      the server; a name that exists stays where it is
  label --move NAME ID | --remove NAME
                      move a label to commit ID, or remove it (rvk_admin members only)
  labels              list the labels: name, commit, role, time made
  serve CONNINFO [--listen ADDRESS:PORT]
                      serve the shared history at CONNINFO as web pages, read-only (a reader's
                      login is enough), on ADDRESS:PORT (default 127.0.0.1:8080) until stopped;
                      one line a request on stderr

In a clone, drawings (*.dwg) and the files the server's lockable rules name are read-only until
this role locks them; a push that changes or removes one needs its lock ("lock it first").
)";

constexpr const char* kDetails = R"(
status prints one line per file, sorted by the bytes of the path: a two-character code, a space,
then the path relative to the repository root. Unchanged files are not listed.
  M   changed since HEAD's commit         M+  staged as modified
  ?   not tracked                         A+  staged as added
  D   tracked, gone from the folder       D+  staged as removed

In a clone, status asks the server for the locks (two seconds at most): a listed file that is
locked is followed by (locked by ROLE since TIME), ROLE "you" for this clone's role, and a
file this role has locked with nothing else to say of it is listed with the code "L".

-z ends each line with a zero byte instead of a line end and prints paths as they are, for
scripts; otherwise a path that holds a control character, a double quote or a backslash is shown
in double quotes with C-style escapes ("a\nb"), in every command's output and messages.

Every PATH (and DIR) counts from the current folder, or is absolute; it must lead into the
working tree. Listings and messages show paths from the repository root. Options come before
"--"; every word after it is a PATH or NAME, even one that begins with '-'.

A NAME that is the path of a changed, new or removed file stages that file. Any other NAME is a
regular expression that must match a whole path (from the current folder, among the files below
it) or a whole file name, never just the end of one; a NAME without an extension also takes the
file's extensions ("plan" finds "sub/plan.dwg", not "sub/myplan.dwg"). A NAME that finds no file
or several stages nothing, and neither do the other NAMEs of the command.

rvk keeps files, never symbolic links or what they lead to: the scan passes links by, a tracked
file that became a link is left out of status and stage with a note on stderr, and naming a link
to stage is refused. A tracked file that cannot be examined (no permission, a path too long) is
reported on stderr and left alone; it is never taken for removed.

restore puts each file back as the commit has it. It refuses, changing nothing, to replace a
working file whose content is neither that of HEAD's copy nor that of the copy it would get
(--force replaces it), a PATH the commit lacks, a stored copy whose content no longer matches the
digest recorded at commit, and a path or copy that the database places outside the working tree
or outside .rvk (a repository folder may come from someone else). A file restored as HEAD has it
gets its stored copy's modification time; one restored from another commit gets the current time,
so that it counts as changed and can be committed.

verify reads every stored copy that any commit names and checks it against the size and SHA-256
digest recorded when it was committed (copies of drawings committed before rvk recorded them are
checked for presence only). It prints one line for each copy that is missing or damaged, with the
paths and commits that name it, and then fails. status says on stderr when files it lists as
modified have lost their stored copies.

log prints one line per commit: the id, a tab, the time (UTC), a tab, the author (the system's
user for a commit made here, the role that pushed it once it is on the server; "-" for commits
made before authors were kept), a tab, the number of files the commit tracks, a tab, the message (line ends and tabs as spaces, other control characters
escaped). RVK_COMMIT_TIME=SECONDS (since 1970) sets the time of the next
commit, for sessions that must repeat exactly.

Two commands never work on one repository at once: each holds the repository lock
(.rvk/rvk.lock) for its whole run, exclusive for init, stage, unstage, commit and restore, shared
for status, log, show-state and verify (several of those may run together); where and relpath
take none. remote, push, pull and uncommit hold it exclusively, lock, unlock, locks, label, labels
and export shared, and clone holds the new repository's exclusively. A command that finds the lock taken says so once and waits, for 30 seconds unless
--lock-timeout SECONDS or the environment variable RVK_LOCK_TIMEOUT=SECONDS (the option wins)
says otherwise, then gives up with an error naming the lock file.

Labels name the commits an office issued ("Rev B"). A name has 1 to 100 characters, no control
character, no quotation mark (" ' `), no space at either end, and is not all digits: digits alone
are a commit id, so that export and restore never take one for the other. A writer makes a label;
a name once made stays on its commit, and only a member of rvk_admin moves or removes it. labels
prints one line per label, ordered by commit and then by the bytes of the name: the name, a tab,
the commit, a tab, the role that made it (or moved it last), a tab, the time (UTC). restore
--label and export LABEL look the label up on the server and need its commit pulled into this
clone; export ID needs no server.

export writes the files from the stored copies (never from the working tree), each checked
against the digest recorded when it was committed, into a new folder outside every working tree,
whose parent folder must exist. A missing or damaged copy stops it, naming the file, and no folder
is left behind. Files inside .rvk are not exported. Each file gets the time of the commit that
last changed it. register.csv (UTF-8, lines ending in LF) starts with the header
"path,size,sha256,commit,author", then has one row per file, sorted by the bytes of the path
('/' between folders): the size in bytes, the SHA-256 digest, the newest commit at or before the
exported one that changed the file, and that commit's author. A field that holds a comma, a double
quote or a line end is in double quotes, each double quote in it doubled.

exit status: 0 success, 1 error (reported on stderr as "rvk: <message>"), 2 bad usage (the
problem on stderr as "rvk: <problem>", then the commands).
)";

// Bad usage gets the commands only; "rvk help" gives the whole text.
void printUsage(std::FILE* out, bool full) {
    std::fputs(kUsage, out);
    std::fputs(full ? kDetails : "run 'rvk help' for the output formats and the exit status\n",
               out);
}

void printLine(const char* code, const OdString& path) {
    std::printf("%-2s %s\n", code, rvk::quotePath(path).c_str());
}

// "1 file", "2 files".
std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The folder named by the optional operand, made absolute, or the current folder.
Expected<OdString> folderArg(const char* command, const std::vector<std::string>& args) {
    const rvk::Arguments parsed = rvk::parseArguments(command, args, {});
    if (parsed.operands.size() > 1)
        throw BadUsage{std::string(command) + ": give one folder at most"};
    if (parsed.operands.empty())
        return client::currentFolder();
    return ut::FileName(fromArg(parsed.operands[0])).getFullPath();
}

// The words of a command as the kit takes names and paths.
std::vector<OdString> words(const std::vector<std::string>& operands) {
    std::vector<OdString> out;
    for (const std::string& operand : operands)
        out.push_back(fromArg(operand));
    return out;
}

// Prints each refused name; the exit code of a command that refused any.
int refused(const std::vector<ErrorMessage>& errors) {
    for (const ErrorMessage& error : errors)
        rvk::printError(error);
    return 1;
}

// Makes the repository, or completes one that lacks some of its files.
int init(const std::vector<std::string>& args, const Session& session) {
    const auto folder = orFail(folderArg("init", args));
    const client::Session kit{session.io, session.reporter, folder, session.lockTimeout};
    const auto made = orFail(client::init(folder, kit));
    const std::string root = rvk::quotePath(made.root);
    switch (made.kind) {
        case client::Initialized::Kind::completed:
            std::printf(
                "repository completed at %s: HEAD is commit %llu, the newest in its database\n",
                root.c_str(), static_cast<unsigned long long>(made.head));
            break;
        case client::Initialized::Kind::existed:
            std::printf("repository already exists at %s\n", root.c_str());
            break;
        case client::Initialized::Kind::made:
            std::printf("initialized empty repository at %s\n", root.c_str());
            break;
    }
    return 0;
}

int stage(const std::vector<std::string>& args, const Session& session) {
    const rvk::Arguments parsed = rvk::parseArguments("stage", args, {"--all"});
    const bool all = rvk::wantsAll("stage", parsed, "NAMEs");
    const auto staged =
        orFail(client::stage(orFail(session.kit()), words(parsed.operands), all));
    session.reporter.endProgress();
    if (!staged.refused.empty())
        return refused(staged.refused);
    // Said only once the state file holds it.
    for (const StagedFile& file : staged.files)
        printLine(client::stagedCode(file.change), file.path);
    return 0;
}

int unstage(const std::vector<std::string>& args, const Session& session) {
    const rvk::Arguments parsed = rvk::parseArguments("unstage", args, {"--all"});
    const bool all = rvk::wantsAll("unstage", parsed, "PATHs");
    const auto unstaged =
        orFail(client::unstage(orFail(session.kit()), words(parsed.operands), all));
    return unstaged.refused.empty() ? 0 : refused(unstaged.refused);
}

int commit(const std::vector<std::string>& args, const Session& session) {
    const rvk::Arguments parsed = rvk::parseArguments("commit", args, {}, {"-m"});
    if (!parsed.has("-m"))
        throw BadUsage{"commit: give the commit's message with -m MESSAGE"};
    if (!parsed.operands.empty())
        throw BadUsage{"commit: " + quoteName(shortened(parsed.operands[0])) +
                       " is more than one message (quote a message of several words)"};
    const OdString message = fromArg(parsed.options.at("-m"));
    if (message.isEmpty())
        return fail(hostError("the commit message is empty"));
    const auto time = orFail(commitTime());
    const auto committed = orFail(client::commit(orFail(session.kit()), message, time));
    session.reporter.endProgress();
    std::printf("committed %llu: %s\n", static_cast<unsigned long long>(committed.id),
                count(committed.files, "file", "files").c_str());
    return 0;
}

std::string isoTime(std::int64_t seconds) {
    // Boost's calendar, where the C library's differs between systems (no gmtime_r on Windows).
    try {
        return boost::posix_time::to_iso_extended_string(
                   boost::posix_time::from_time_t(static_cast<std::time_t>(seconds))) +
               "Z";
    } catch (const std::exception&) {
        return std::to_string(seconds);  // outside the years the calendar knows
    }
}

int log(const std::vector<std::string>& args, const Session& session) {
    const rvk::Arguments parsed = rvk::parseArguments("log", args, {});
    if (parsed.operands.size() > 1)
        throw BadUsage{"log: give one PATH at most"};
    boost::optional<OdString> path;
    if (!parsed.operands.empty())
        path = fromArg(parsed.operands[0]);
    const auto entries = orFail(client::log(orFail(session.kit()), path));
    for (const client::LogEntry& c : entries) {
        // One commit per line, whatever the message holds, and nothing the terminal would obey.
        std::string message = utf8(c.message);
        for (char& ch : message) {
            if (ch == '\n' || ch == '\r' || ch == '\t')
                ch = ' ';
        }
        // A commit made before authors were kept has none: "-" keeps the columns in place.
        const std::string author = c.author.empty() ? "-" : rvk::escapeControls(c.author);
        std::printf("%llu\t%s\t%s\t%zu\t%s\n", static_cast<unsigned long long>(c.id),
                    isoTime(c.time).c_str(), author.c_str(), c.files,
                    rvk::escapeControls(message).c_str());
    }
    return 0;
}

int showState(const std::vector<std::string>& args, const Session& session) {
    if (!rvk::parseArguments("show-state", args, {}).operands.empty())
        throw BadUsage{"show-state: takes no arguments"};
    const auto text = orFail(client::stateText(orFail(session.kit())));
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

int where(const std::vector<std::string>& args, const Session&) {
    const auto folder = orFail(folderArg("where", args));
    const auto found = orFail(common::RootPath::get(folder, false));
    const common::RootPath& root = found;
    const std::pair<const char*, OdString> rows[] = {
        {"root", root.path()},
        {"rvk", root.rvkPath()},
        {"state", root.statePath()},
        {"db", root.dbPath()},
        {"properties", root.propertiesPath()},
        {"ignore", root.ignorePath()},
        {"lock", root.lockPath()},
        {"drawings", root.drawingStorePath()},
        {"objects", root.objectStorePath()},
    };
    for (const auto& [label, value] : rows)
        std::printf("%-10s %s\n", label, rvk::quotePath(value).c_str());
    return 0;
}

int relpath(const std::vector<std::string>& args, const Session&) {
    const rvk::Arguments parsed = rvk::parseArguments("relpath", args, {});
    if (parsed.operands.size() != 1)
        throw BadUsage{"relpath: give one PATH"};
    const OdString full = ut::FileName(fromArg(parsed.operands[0])).getFullPath();
    const int cut = full.reverseFind(ut::FileName::getPathSeparator()[0]);
    const auto found = orFail(common::RootPath::get(cut > 0 ? full.left(cut) : full, false));
    const auto relative = orFail(found.relativePathTo(full));
    std::printf("%s\n", rvk::quotePath(relative).c_str());
    return 0;
}

using rvk::Command;

struct CommandEntry {
    const char* name;
    Command run;
};

const CommandEntry* findCommand(const std::string& name) {
    static const CommandEntry kCommands[] = {
        {"init", init},
        {"status", rvk::status},
        {"stage", stage},
        {"unstage", unstage},
        {"commit", commit},
        {"log", log},
        {"show-state", showState},
        {"restore", rvk::restore},
        {"verify", rvk::verify},
        {"export", rvk::exportCommit},
        {"where", where},
        {"relpath", relpath},
        {"remote", rvk::remote},
        {"clone", rvk::clone},
        {"push", rvk::push},
        {"pull", rvk::pull},
        {"uncommit", rvk::uncommit},
        {"lock", rvk::lock},
        {"unlock", rvk::unlock},
        {"locks", rvk::locks},
        {"label", rvk::label},
        {"labels", rvk::labels},
        {"lockable", rvk::lockable},
        {"serve", rvk::serve},
    };
    for (const CommandEntry& entry : kCommands) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

int badUsage(const std::string& problem) {
    rvk::printError(hostError(problem));
    printUsage(stderr, false);
    return 2;
}

}  // namespace

int rvk::runRvk(std::vector<std::string> words) {
    // Options before the command: --lock-timeout SECONDS or --lock-timeout=SECONDS.
    std::string timeoutText, timeoutSource;
    if (const char* fromEnvironment = std::getenv("RVK_LOCK_TIMEOUT")) {
        timeoutText = fromEnvironment;
        timeoutSource = "RVK_LOCK_TIMEOUT";
    }
    while (!words.empty() && words[0].rfind("--lock-timeout", 0) == 0) {
        const std::string option = words[0];
        words.erase(words.begin());
        if (option.rfind("--lock-timeout=", 0) == 0) {
            timeoutText = option.substr(std::strlen("--lock-timeout="));
        } else if (option == "--lock-timeout" && !words.empty()) {
            timeoutText = words[0];
            words.erase(words.begin());
        } else if (option == "--lock-timeout") {
            return badUsage("--lock-timeout needs a number of seconds after it");
        } else {
            return badUsage(quoteName(shortened(option)) + " is no option of rvk");
        }
        timeoutSource = "--lock-timeout";
    }
    std::chrono::milliseconds lockTimeout = rvk::kDefaultLockTimeout;
    if (!timeoutSource.empty()) {
        const auto parsed = rvk::parseLockTimeout(timeoutText, timeoutSource);
        if (!parsed.hasValue()) {
            rvk::printError(parsed.error());
            return 2;
        }
        lockTimeout = parsed.value();
    }

    const std::string name = words.empty() ? "" : words[0];
    if (name == "help" || name == "-h" || name == "--help") {
        printUsage(stdout, true);
        return 0;
    }
    const CommandEntry* command = findCommand(name);
    if (command == nullptr)
        return badUsage(name.empty() ? "no command given"
                                     : quoteName(shortened(name)) + " is not an rvk command");
    ConsoleIo io;
    rvk::ConsoleReporter reporter;
    int result;
    try {
        result = command->run(std::vector<std::string>(words.begin() + 1, words.end()),
                              Session{io, reporter, lockTimeout});
    } catch (const BadUsage& usage) {
        return badUsage(usage.problem);
    } catch (const rvk::CommandFailed& failed) {
        reporter.endProgress();
        result = rvk::fail(failed.error);
    } catch (const std::exception& e) {
        rvk::printError(hostError(std::string("unexpected failure: ") + e.what()));
        return 1;
    }
    // A state write that failed when a Cache ended was reported already; it still fails the
    // command.
    return result == 0 && io.failures() > 0 ? 1 : result;
}
