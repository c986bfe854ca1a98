// rvk: the reference host, a command-line program that drives a whole commit preparation through
// the library's public interface: it finds or makes the repository, scans and sorts the working
// tree, stages files by the names a user types, and records commits in its own SQLite database
// with the stored copies of the committed files, which it can restore and verify. The usage text
// below is its manual.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <common/Cache.h>
#include <common/FileRecords.h>
#include <common/RepoIgnore.h>
#include <common/RepoLock.h>
#include <common/RootPath.h>
#include <common/StagingExplorer.h>
#include <platform/FileName.h>

#include "Commands.h"
#include "Console.h"
#include "Database.h"
#include "HostFiles.h"
#include "HostStorage.h"
#include "RepositoryLock.h"
#include "RunRvk.h"
#include "SafePaths.h"
#include "RemoteModule.h"
#include "RemoteSettings.h"
#include "StatCache.h"
#include "WorkingTree.h"

namespace {

using common::EFileChange;
using common::StagedFile;
using host::BadUsage;
using host::ConsoleIo;
using host::fail;
using host::fromArg;
using host::hostError;
using host::LockMode;
using host::orFail;
using host::quoteName;
using host::Repository;
using host::Session;
using host::shortened;
using host::utf8;

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
  restore [--commit ID] [--force] PATH... | --all
                      put the files at PATH (or all files) back as HEAD's commit (or commit ID)
                      has them
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
  push                send the commits the server lacks (refused when it has commits this
                      clone lacks: run rvk pull first)
  pull                bring the server's commits, update the files it changed, and put this
                      clone's own commits on top
  uncommit            turn this clone's commits that the server lacks back into staged
                      changes (working files stay as they are)
  lock PATH...        lock files on the server for the role of the connection
  unlock [--force] PATH...
                      release locks (--force: another role's; rvk_admin members only)
  locks               list the locks: path, role, time taken
)";

constexpr const char* kDetails = R"(
status prints one line per file, sorted by the bytes of the path: a two-character code, a space,
then the path relative to the repository root. Unchanged files are not listed.
  M   changed since HEAD's commit         M+  staged as modified
  ?   not tracked                         A+  staged as added
  D   tracked, gone from the folder       D+  staged as removed

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

log prints one line per commit: the id, a tab, the time (UTC), a tab, the number of files the
commit tracks, a tab, the message (line ends and tabs as spaces, other control characters
escaped). RVK_COMMIT_TIME=SECONDS (since 1970) sets the time of the next
commit, for sessions that must repeat exactly.

Two commands never work on one repository at once: each holds the repository lock
(.rvk/rvk.lock) for its whole run, exclusive for init, stage, unstage, commit and restore, shared
for status, log, show-state and verify (several of those may run together); where and relpath
take none. remote, push, pull and uncommit hold it exclusively, lock, unlock and locks shared, and clone
holds the new repository's exclusively. A command that finds the lock taken says so once and waits, for 30 seconds unless
--lock-timeout SECONDS or the environment variable RVK_LOCK_TIMEOUT=SECONDS (the option wins)
says otherwise, then gives up with an error naming the lock file.

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
    std::printf("%-2s %s\n", code, host::quotePath(path).c_str());
}

// "1 file", "2 files".
std::string count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The folder named by the optional operand, made absolute, or the current folder.
Expected<OdString> folderArg(const char* command, const std::vector<std::string>& args) {
    const host::Arguments parsed = host::parseArguments(command, args, {});
    if (parsed.operands.size() > 1)
        throw BadUsage{std::string(command) + ": give one folder at most"};
    if (parsed.operands.empty())
        return host::currentFolder();
    return ut::FileName(fromArg(parsed.operands[0])).getFullPath();
}

void sortByPath(std::vector<StagedFile>& files) {
    std::sort(files.begin(), files.end(), [](const StagedFile& a, const StagedFile& b) {
        return host::byBytes(a.path, b.path);
    });
}

// Replaces the staged files of the state with `staged`, kept in path order so that the state file
// reads the same whatever order the files were staged in. The Cache, taken over, ends here and
// writes the state file; true when that write succeeded (a failure reached the user through
// ConsoleIo already).
bool storeStaged(common::Cache& opened, std::vector<StagedFile> staged, const Session& session) {
    const int failuresBefore = session.io.failures();
    {
        common::Cache cache(std::move(opened));
        sortByPath(staged);
        common::Transaction transaction = cache.getTransaction();
        cache.write().stagedFiles = std::move(staged);
        transaction.commit();
    }
    return session.io.failures() == failuresBefore;
}

// Makes the repository, or completes one that lacks some of its files. A state file that was lost
// is made again with HEAD on the newest commit of the database, so that history goes on from
// there instead of starting anew.
int init(const std::vector<std::string>& args, const Session& session) {
    const auto folder = orFail(folderArg("init", args));
    const bool existed = common::RootPath::get(folder, false).hasValue();
    const auto root = orFail(common::RootPath::get(folder, true));
    orFail(host::checkRepositoryFolder(root));
    // Only now is there a ".rvk" to hold the lock file.
    const auto lock = orFail(session.lock(root));
    orFail(common::RepoIgnore::write(root));
    auto db = orFail(host::Database::create(root.dbPath()));
    const bool hadState = ut::FileName(root.statePath()).exists(ut::FileName::kAnyObject);
    const auto newest = orFail(db.newestCommit());
    {
        // Made fresh, the state file is written at once and again when the Cache ends.
        auto cache = orFail(common::Cache::get(root, true, session.io));
        if (!hadState && newest) {
            common::Transaction transaction = cache.getTransaction();
            cache.write().head.commit = newest;
            transaction.commit();
        }
    }
    if (session.io.failures() > 0)
        return 1;
    if (!hadState && newest)
        std::printf("repository completed at %s: HEAD is commit %llu, the newest in its database\n",
                    host::quotePath(root.path()).c_str(), static_cast<unsigned long long>(*newest));
    else
        std::printf(
            existed ? "repository already exists at %s\n" : "initialized empty repository at %s\n",
            host::quotePath(root.path()).c_str());
    return 0;
}

// Notes on stderr about the tracked files that status and stage leave out.
void reportLeftOut(const host::SortedTree& tree) {
    for (const OdString& path : tree.changes.otherPaths)
        host::printError(hostError(host::linkNote(path)));
    for (const ErrorMessage& problem : tree.unexamined)
        host::printError(problem);
}

int stage(const std::vector<std::string>& args, const Session& session) {
    const host::Arguments parsed = host::parseArguments("stage", args, {"--all"});
    const bool all = host::wantsAll("stage", parsed, "NAMEs");
    auto repo = orFail(host::openRepository(session));
    Repository& r = repo;
    orFail(host::checkNoCutOffPull(r.db));
    const auto sorted =
        orFail(host::sortWorkingTree(r.root, r.head, r.cache.value().read().head.commit));
    const common::RepoChanges& changes = sorted.changes;
    reportLeftOut(sorted);

    // The explorer offers modified and untracked files only; removals are staged here.
    common::RepoFileExplorer explorer(changes, r.root);
    std::vector<StagedFile> removals;
    if (all) {
        for (const StagedFile& candidate : explorer.possibleStageFiles())
            explorer.stage(candidate);
        for (const common::RepoFile& file : changes.removed)
            removals.emplace_back(file.path, EFileChange::removed);
    } else {
        bool failed = false;
        for (const std::string& arg : parsed.operands) {
            const auto file = host::resolveStageName(r.place, explorer, changes, arg);
            if (!file.hasValue()) {
                host::printError(file.error());
                failed = true;
            } else if (file.value().change == EFileChange::removed) {
                removals.push_back(file.value());
            } else {
                explorer.stage(file.value());
            }
        }
        if (failed)
            return 1;
    }
    auto picked = explorer.stagedFiles();
    if (!picked.hasValue() && removals.empty())
        return fail(picked.error());

    std::vector<StagedFile> fresh = picked.hasValue() ? picked.value() : std::vector<StagedFile>();
    fresh.insert(fresh.end(), removals.begin(), removals.end());
    sortByPath(fresh);
    fresh.erase(std::unique(fresh.begin(), fresh.end()), fresh.end());
    // Staging a path again replaces its kind of change: one entry per path.
    std::map<OdString, EFileChange> merged;
    for (const StagedFile& file : r.cache.value().read().stagedFiles)
        merged.emplace(file.path, file.change);
    for (const StagedFile& file : fresh)
        merged[file.path] = file.change;
    std::vector<StagedFile> staged;
    for (const auto& [path, change] : merged)
        staged.emplace_back(path, change);
    // Said only once the state file holds it.
    if (!storeStaged(r.cache.value(), std::move(staged), session))
        return 1;
    for (const StagedFile& file : fresh)
        printLine(host::stagedCode(file.change), file.path);
    return 0;
}

int unstage(const std::vector<std::string>& args, const Session& session) {
    const host::Arguments parsed = host::parseArguments("unstage", args, {"--all"});
    const bool all = host::wantsAll("unstage", parsed, "PATHs");
    const auto place = orFail(host::findRoot());
    const common::RootPath& root = place.root;
    const auto lock = orFail(session.lock(root));
    if (auto db = host::Database::open(root.dbPath()); db.hasValue())
        orFail(host::checkNoCutOffPull(db.value()));
    auto cache = orFail(common::Cache::get(root, false, session.io));
    std::vector<StagedFile> kept;
    if (!all) {
        kept = cache.read().stagedFiles;
        bool failed = false;
        std::set<OdString> dropped;
        for (const std::string& arg : parsed.operands) {
            const auto path = host::repositoryPath(place, arg);
            if (!path.hasValue()) {
                host::printError(path.error());
                failed = true;
                continue;
            }
            const auto found = std::find_if(kept.begin(), kept.end(), [&](const StagedFile& s) {
                return s.path == path.value();
            });
            if (found != kept.end()) {
                kept.erase(found);
                dropped.insert(path.value());
            } else if (dropped.count(path.value()) == 0) {
                // Named twice, a path is unstaged once and no error.
                host::printError(hostError(quoteName(utf8(path.value())) + " is not staged"));
                failed = true;
            }
        }
        if (failed)
            return 1;
    }
    return storeStaged(cache, std::move(kept), session) ? 0 : 1;
}

// The time of a new commit: RVK_COMMIT_TIME when set, otherwise now.
Expected<std::int64_t> commitTime() {
    const char* fixed = std::getenv("RVK_COMMIT_TIME");
    if (fixed == nullptr)
        return static_cast<std::int64_t>(std::time(nullptr));
    static const std::regex kSeconds("-?[0-9]{1,18}");
    if (!std::regex_match(fixed, kSeconds))
        return hostError("RVK_COMMIT_TIME must be a number of seconds since 1970, not " +
                         quoteName(shortened(fixed)));
    return static_cast<std::int64_t>(std::stoll(fixed));
}

// The order of a commit, so that a failure anywhere leaves the repository as it was:
//   1. Store a copy of every staged file, and flush them all to disk. Copies no commit names yet
//      are harmless extra files, and a drawing's copy is named after the new commit id, so it
//      overwrites no copy in use.
//   2. Record the commit, its files and the size and digest of each new copy in the database, in
//      one SQLite transaction.
//   3. Write the state (HEAD on the new commit, nothing staged) through a Cache ended right here.
// The state comes last because it is what the next command starts from: a crash between 2 and 3
// leaves a commit in the database that HEAD does not name, which log and status never reach (they
// follow HEAD), while HEAD and the staged files stay as they were, so running the commit again just
// works. Writing the state first would instead let a crash leave HEAD on a commit the database
// lacks, and the staged files lost. When the write in 3 reports failure, the commit is deleted
// again, so the database is back to what it was too.
int commit(const std::vector<std::string>& args, const Session& session) {
    const host::Arguments parsed = host::parseArguments("commit", args, {}, {"-m"});
    if (!parsed.has("-m"))
        throw BadUsage{"commit: give the commit's message with -m MESSAGE"};
    if (!parsed.operands.empty())
        throw BadUsage{"commit: " + quoteName(shortened(parsed.operands[0])) +
                       " is more than one message (quote a message of several words)"};
    const OdString message = fromArg(parsed.options.at("-m"));
    if (message.isEmpty())
        return fail(hostError("the commit message is empty"));
    const auto time = orFail(commitTime());
    auto repo = orFail(host::openRepository(session));
    Repository& r = repo;
    orFail(host::checkNoCutOffPull(r.db));
    const common::State& state = r.cache.value().read();
    if (state.stagedFiles.empty())
        return fail(hostError("nothing to commit: no file is staged (see rvk stage)"));
    for (const StagedFile& file : state.stagedFiles) {
        orFail(host::checkWorkingPath(r.root, file.path, "the state"));
    }

    orFail(r.db.begin());
    const auto id = orFail(r.db.nextCommitId());

    host::TrackedFiles files = r.head;
    std::vector<host::KeptCopy> kept;
    {
        host::Progress progress("storing");
        std::size_t done = 0;
        for (const StagedFile& file : state.stagedFiles) {
            progress.update(++done, state.stagedFiles.size());
            if (file.change == EFileChange::removed) {
                files.erase(file.path);
                continue;
            }
            auto copy = orFail(host::keepCopy(r.root, file.path, id));
            files[file.path] = copy.url;
            kept.push_back(std::move(copy));
        }
    }
    orFail(host::flushStoredCopies(r.root));
    host::CommitRecord record;
    record.id = id;
    record.time = time;
    record.message = message;
    record.parent = state.head.commit;
    orFail(r.db.insertCommit(record, files, kept));
    orFail(r.db.commit());

    const int failuresBefore = session.io.failures();
    {
        common::Cache cache(std::move(r.cache.value()));
        common::Transaction transaction = cache.getTransaction();
        common::State& changed = cache.write();
        changed.stagedFiles.clear();
        changed.head.commit = id;
        transaction.commit();
    }
    if (session.io.failures() != failuresBefore) {
        const auto undone = r.db.deleteCommit(id);
        if (!undone.hasValue()) {
            host::printError(undone.error());
            host::printError(hostError("commit " + std::to_string(id) +
                                       " stays in the database, but HEAD does not name it"));
        }
        return 1;
    }
    std::printf("committed %llu: %s\n", static_cast<unsigned long long>(id),
                count(files.size(), "file", "files").c_str());
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

// True when `commit` gives `path` another URL than its parent does: it added, changed or removed
// the file.
Expected<bool> changes(host::Database& db, const host::CommitRecord& commit, const OdString& path) {
    const auto mine = db.urlOf(commit.id, path);
    if (!mine.hasValue() || !commit.parent)
        return mine.hasValue() ? Expected<bool>(bool(mine.value())) : mine.error();
    const auto parents = db.urlOf(*commit.parent, path);
    if (!parents.hasValue())
        return parents.error();
    return mine.value() != parents.value();
}

int log(const std::vector<std::string>& args, const Session& session) {
    const host::Arguments parsed = host::parseArguments("log", args, {});
    if (parsed.operands.size() > 1)
        throw BadUsage{"log: give one PATH at most"};
    auto repo = orFail(host::openRepository(session));
    boost::optional<OdString> path;
    if (!parsed.operands.empty()) {
        const auto typed = orFail(host::repositoryPath(repo.place, parsed.operands[0]));
        path = typed;
    }
    const auto commits = orFail(repo.db.history(repo.cache.value().read().head.commit));
    for (const host::CommitRecord& c : commits) {
        if (path) {
            const auto changed = orFail(changes(repo.db, c, *path));
            if (!changed)
                continue;
        }
        // One commit per line, whatever the message holds, and nothing the terminal would obey.
        std::string message = utf8(c.message);
        for (char& ch : message) {
            if (ch == '\n' || ch == '\r' || ch == '\t')
                ch = ' ';
        }
        std::printf("%llu\t%s\t%zu\t%s\n", static_cast<unsigned long long>(c.id),
                    isoTime(c.time).c_str(), c.fileCount, host::escapeControls(message).c_str());
    }
    return 0;
}

int showState(const std::vector<std::string>& args, const Session& session) {
    if (!host::parseArguments("show-state", args, {}).operands.empty())
        throw BadUsage{"show-state: takes no arguments"};
    const auto place = orFail(host::findRoot());
    const common::RootPath& root = place.root;
    const auto lock = orFail(session.lock(root));
    // Loading it first turns a missing or broken state file into the library's message for it.
    const auto cache = orFail(common::Cache::get(root, false, session.io));
    host::FileStat stat;
    const auto text = host::MappedFile::map(utf8(root.statePath()), stat);
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
        std::printf("%-10s %s\n", label, host::quotePath(value).c_str());
    return 0;
}

int relpath(const std::vector<std::string>& args, const Session&) {
    const host::Arguments parsed = host::parseArguments("relpath", args, {});
    if (parsed.operands.size() != 1)
        throw BadUsage{"relpath: give one PATH"};
    const OdString full = ut::FileName(fromArg(parsed.operands[0])).getFullPath();
    const int cut = full.reverseFind(ut::FileName::getPathSeparator()[0]);
    const auto found = orFail(common::RootPath::get(cut > 0 ? full.left(cut) : full, false));
    const auto relative = orFail(found.relativePathTo(full));
    std::printf("%s\n", host::quotePath(relative).c_str());
    return 0;
}

using host::Command;

struct CommandEntry {
    const char* name;
    Command run;
    // The lock the command holds on its repository from the moment its arguments are found
    // good until it has ended; `where` and `relpath` only compute paths and take none.
    LockMode lock;
};

const CommandEntry* findCommand(const std::string& name) {
    static const CommandEntry kCommands[] = {
        {"init", init, LockMode::exclusive},
        {"status", host::status, LockMode::shared},
        {"stage", stage, LockMode::exclusive},
        {"unstage", unstage, LockMode::exclusive},
        {"commit", commit, LockMode::exclusive},
        {"log", log, LockMode::shared},
        {"show-state", showState, LockMode::shared},
        {"restore", host::restore, LockMode::exclusive},
        {"verify", host::verify, LockMode::shared},
        {"where", where, LockMode::none},
        {"relpath", relpath, LockMode::none},
        {"remote", host::remoteCommand<&host::RemoteModule::remote>, LockMode::exclusive},
        {"clone", host::remoteCommand<&host::RemoteModule::clone>, LockMode::none},
        {"push", host::remoteCommand<&host::RemoteModule::push>, LockMode::exclusive},
        {"pull", host::remoteCommand<&host::RemoteModule::pull>, LockMode::exclusive},
        {"uncommit", host::remoteCommand<&host::RemoteModule::uncommit>, LockMode::exclusive},
        {"lock", host::remoteCommand<&host::RemoteModule::lock>, LockMode::shared},
        {"unlock", host::remoteCommand<&host::RemoteModule::unlock>, LockMode::shared},
        {"locks", host::remoteCommand<&host::RemoteModule::locks>, LockMode::shared},
    };
    for (const CommandEntry& entry : kCommands) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

int badUsage(const std::string& problem) {
    host::printError(hostError(problem));
    printUsage(stderr, false);
    return 2;
}

}  // namespace

int host::runRvk(std::vector<std::string> words) {
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
    std::chrono::milliseconds lockTimeout = host::kDefaultLockTimeout;
    if (!timeoutSource.empty()) {
        const auto parsed = host::parseLockTimeout(timeoutText, timeoutSource);
        if (!parsed.hasValue()) {
            host::printError(parsed.error());
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
    int result;
    try {
        result = command->run(std::vector<std::string>(words.begin() + 1, words.end()),
                              Session{io, lockTimeout, command->lock});
    } catch (const BadUsage& usage) {
        return badUsage(usage.problem);
    } catch (const host::CommandFailed& failed) {
        host::printError(failed.error);
        result = 1;
    } catch (const std::exception& e) {
        host::printError(hostError(std::string("unexpected failure: ") + e.what()));
        return 1;
    }
    // A state write that failed when a Cache ended was reported already; it still fails the
    // command.
    return result == 0 && io.failures() > 0 ? 1 : result;
}
