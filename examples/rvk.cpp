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
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

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
#include "HostStorage.h"
#include "RepositoryLock.h"
#include "SafePaths.h"
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
  unstage PATH...     drop the staged files with these exact paths (--all: every staged file)
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

A NAME that is exactly the path of a changed or new file (from the repository root) stages that
file. Any other NAME is a regular expression that must match the end of one changed or new file's
path; a NAME without an extension also takes the file's extensions ("plan" finds "sub/plan.dwg").
A NAME equal to the path of a removed file stages that removal. A NAME that finds no file or
several stages nothing, and neither do the other NAMEs of the command.

restore gives each file the content and the modification time of its stored copy. It refuses,
changing nothing, when a working file differs from HEAD's copy (it would be lost) unless --force
is given, when a PATH is not in the commit, and when the database names a path outside the working
tree or a copy outside .rvk (a repository folder may come from someone else).

verify reads every stored copy that any commit names: drawings must be there, other files must
also match the digest their URL carries. It prints one line for each copy that is missing or
damaged, with the paths and commits that name it, and then fails. status says on stderr when
files it lists as modified have lost their stored copies.

log prints one line per commit: the id, a tab, the time (UTC), a tab, the number of files the
commit tracks, a tab, the message. RVK_COMMIT_TIME=SECONDS (since 1970) sets the time of the next
commit, for sessions that must repeat exactly.

Two commands never work on one repository at once: each holds the repository lock
(.rvk/rvk.lock) for its whole run, exclusive for init, stage, unstage, commit and restore, shared
for status, log, show-state and verify (several of those may run together); where and relpath
take none. A command that finds the lock taken says so once and waits, for 30 seconds unless
--lock-timeout SECONDS or the environment variable RVK_LOCK_TIMEOUT=SECONDS (the option wins)
says otherwise, then gives up with an error naming the lock file.

exit status: 0 success, 1 error (reported on stderr as "rvk: <message>"), 2 bad usage.
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

// The folder named by the optional argument, made absolute, or the current folder.
Expected<OdString> folderArg(const std::vector<std::string>& args) {
    if (args.size() > 1)
        throw BadUsage();
    if (args.empty())
        return host::currentFolder();
    return ut::FileName(fromArg(args[0])).getFullPath();
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

int init(const std::vector<std::string>& args, const Session& session) {
    const auto folder = folderArg(args);
    if (!folder.hasValue())
        return fail(folder.error());
    const bool existed = common::RootPath::get(folder.value(), false).hasValue();
    const auto root = common::RootPath::get(folder.value(), true);
    if (!root.hasValue())
        return fail(root.error());
    // Only now is there a ".rvk" to hold the lock file.
    const auto lock = host::lockRepository(session, root.value());
    if (!lock.hasValue())
        return fail(lock.error());
    const auto ignore = common::RepoIgnore::write(root.value());
    if (!ignore.hasValue())
        return fail(ignore.error());
    {
        // Made fresh, the state file is written at once and again when the Cache ends.
        const auto cache = common::Cache::get(root.value(), true, session.io);
        if (!cache.hasValue())
            return fail(cache.error());
    }
    if (session.io.failures() > 0)
        return 1;
    const auto db = host::Database::create(root.value().dbPath());
    if (!db.hasValue())
        return fail(db.error());
    std::printf(
        existed ? "repository already exists at %s\n" : "initialized empty repository at %s\n",
        root.value().path().ansi_str());
    return 0;
}

// Finds the file one typed NAME stands for, or the error to show for it.
Expected<StagedFile> resolveName(const common::RepoFileExplorer& explorer,
                                 const std::vector<common::RepoFile>& removed,
                                 const OdString& name) {
    for (const common::RepoFile& file : removed) {
        if (file.path == name)
            return StagedFile(file.path, EFileChange::removed);
    }
    // A NAME that is a candidate's exact path means that file, even where, as a pattern, it would
    // find others too or none ("README" has no extension to complete).
    for (const StagedFile& candidate : explorer.possibleStageFiles()) {
        if (candidate.path == name)
            return candidate;
    }
    try {
        const auto found = explorer.findForStaging(name);
        if (const auto* file = boost::get<StagedFile>(&found))
            return *file;
        if (const auto* error = boost::get<ErrorMessage>(&found))
            return *error;
        const OdString unchanged = explorer.findUnchanged(name);
        if (!unchanged.isEmpty())
            return hostError(quoteName(shortened(utf8(name))) + " finds only " +
                             quoteName(utf8(unchanged)) +
                             ", which is unchanged: there is nothing to stage");
        return hostError(quoteName(shortened(utf8(name))) +
                         " finds no changed, new or removed file");
    } catch (const std::regex_error& e) {
        return hostError(quoteName(shortened(utf8(name))) +
                         " is no valid regular expression: " + e.what());
    }
}

int stage(const std::vector<std::string>& args, const Session& session) {
    const bool all = args.size() == 1 && args[0] == "--all";
    if (args.empty() || (!all && std::find(args.begin(), args.end(), "--all") != args.end()))
        throw BadUsage();
    auto repo = host::openRepository(session);
    if (!repo.hasValue())
        return fail(repo.error());
    Repository& r = repo.value();
    const auto changes = host::sortWorkingTree(r.root, r.head, r.cache.value().read().head.commit);
    if (!changes.hasValue())
        return fail(changes.error());

    // The explorer offers modified and untracked files only; removals are staged here.
    common::RepoFileExplorer explorer(changes.value(), r.root);
    std::vector<StagedFile> removals;
    if (all) {
        for (const StagedFile& candidate : explorer.possibleStageFiles())
            explorer.stage(candidate);
        for (const common::RepoFile& file : changes.value().removed)
            removals.emplace_back(file.path, EFileChange::removed);
    } else {
        bool failed = false;
        for (const std::string& arg : args) {
            const auto file = resolveName(explorer, changes.value().removed, fromArg(arg));
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
    // Staging a path again replaces its kind of change: one entry per path.
    std::map<OdString, EFileChange> merged;
    for (const StagedFile& file : r.cache.value().read().stagedFiles)
        merged.emplace(file.path, file.change);
    for (const StagedFile& file : fresh) {
        merged[file.path] = file.change;
    }
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
    const bool all = args.size() == 1 && args[0] == "--all";
    if (args.empty() || (!all && std::find(args.begin(), args.end(), "--all") != args.end()))
        throw BadUsage();
    const auto root = host::findRoot();
    if (!root.hasValue())
        return fail(root.error());
    const auto lock = host::lockRepository(session, root.value());
    if (!lock.hasValue())
        return fail(lock.error());
    auto cache = common::Cache::get(root.value(), false, session.io);
    if (!cache.hasValue())
        return fail(cache.error());
    std::vector<StagedFile> kept;
    if (!all) {
        kept = cache.value().read().stagedFiles;
        bool failed = false;
        for (const std::string& arg : args) {
            const OdString path = fromArg(arg);
            const auto found = std::find_if(kept.begin(), kept.end(),
                                            [&](const StagedFile& s) { return s.path == path; });
            if (found == kept.end()) {
                host::printError(hostError(quoteName(shortened(arg)) + " is not staged"));
                failed = true;
            } else {
                kept.erase(found);
            }
        }
        if (failed)
            return 1;
    }
    storeStaged(cache.value(), std::move(kept), session);
    return 0;
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
//   2. Record the commit and its files in the database, in one SQLite transaction.
//   3. Write the state (HEAD on the new commit, nothing staged) through a Cache ended right here.
// The state comes last because it is what the next command starts from: a crash between 2 and 3
// leaves a commit in the database that HEAD does not name, which log and status never reach (they
// follow HEAD), while HEAD and the staged files stay as they were, so running the commit again just
// works. Writing the state first would instead let a crash leave HEAD on a commit the database
// lacks, and the staged files lost. When the write in 3 reports failure, the commit is deleted
// again, so the database is back to what it was too.
int commit(const std::vector<std::string>& args, const Session& session) {
    if (args.size() != 2 || args[0] != "-m")
        throw BadUsage();
    const OdString message = fromArg(args[1]);
    if (message.isEmpty())
        return fail(hostError("the commit message is empty"));
    const auto time = commitTime();
    if (!time.hasValue())
        return fail(time.error());
    auto repo = host::openRepository(session);
    if (!repo.hasValue())
        return fail(repo.error());
    Repository& r = repo.value();
    const common::State& state = r.cache.value().read();
    if (state.stagedFiles.empty())
        return fail(hostError("nothing to commit: no file is staged (see rvk stage)"));
    for (const StagedFile& file : state.stagedFiles) {
        const auto inside = host::checkWorkingPath(r.root, file.path, "the state");
        if (!inside.hasValue())
            return fail(inside.error());
    }

    const auto begun = r.db.begin();
    if (!begun.hasValue())
        return fail(begun.error());
    const auto id = r.db.nextCommitId();
    if (!id.hasValue())
        return fail(id.error());

    host::TrackedFiles files = r.head;
    {
        host::Progress progress("storing");
        std::size_t done = 0;
        for (const StagedFile& file : state.stagedFiles) {
            progress.update(++done, state.stagedFiles.size());
            if (file.change == EFileChange::removed) {
                files.erase(file.path);
                continue;
            }
            const auto url = host::storageFor(file.path, id.value())->store(r.root, file.path);
            if (!url.hasValue())
                return fail(url.error());
            files[file.path] = url.value();
        }
    }
    const auto flushed = host::flushStoredCopies(r.root);
    if (!flushed.hasValue())
        return fail(flushed.error());
    host::CommitRecord record;
    record.id = id.value();
    record.time = time.value();
    record.message = message;
    record.parent = state.head.commit;
    const auto inserted = r.db.insertCommit(record, files);
    if (!inserted.hasValue())
        return fail(inserted.error());
    const auto committed = r.db.commit();
    if (!committed.hasValue())
        return fail(committed.error());

    const int failuresBefore = session.io.failures();
    {
        common::Cache cache(std::move(r.cache.value()));
        common::Transaction transaction = cache.getTransaction();
        common::State& changed = cache.write();
        changed.stagedFiles.clear();
        changed.head.commit = id.value();
        transaction.commit();
    }
    if (session.io.failures() != failuresBefore) {
        const auto undone = r.db.deleteCommit(id.value());
        if (!undone.hasValue()) {
            host::printError(undone.error());
            host::printError(hostError("commit " + std::to_string(id.value()) +
                                       " stays in the database, but HEAD does not name it"));
        }
        return 1;
    }
    std::printf("committed %llu: %zu files\n", static_cast<unsigned long long>(id.value()),
                files.size());
    return 0;
}

std::string isoTime(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    char text[32] = "";
    if (::gmtime_r(&t, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) == 0)
        return std::to_string(seconds);
    return text;
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
    if (args.size() > 1)
        throw BadUsage();
    auto repo = host::openRepository(session);
    if (!repo.hasValue())
        return fail(repo.error());
    const auto commits = repo.value().db.history(repo.value().cache.value().read().head.commit);
    if (!commits.hasValue())
        return fail(commits.error());
    for (const host::CommitRecord& c : commits.value()) {
        if (!args.empty()) {
            const auto changed = changes(repo.value().db, c, fromArg(args[0]));
            if (!changed.hasValue())
                return fail(changed.error());
            if (!changed.value())
                continue;
        }
        // One commit per line, whatever the message holds.
        std::string message = utf8(c.message);
        for (char& ch : message) {
            if (ch == '\n' || ch == '\r' || ch == '\t')
                ch = ' ';
        }
        std::printf("%llu\t%s\t%zu\t%s\n", static_cast<unsigned long long>(c.id),
                    isoTime(c.time).c_str(), c.fileCount, message.c_str());
    }
    return 0;
}

int showState(const std::vector<std::string>& args, const Session& session) {
    if (!args.empty())
        throw BadUsage();
    const auto root = host::findRoot();
    if (!root.hasValue())
        return fail(root.error());
    const auto lock = host::lockRepository(session, root.value());
    if (!lock.hasValue())
        return fail(lock.error());
    // Loading it first turns a missing or broken state file into the library's message for it.
    const auto cache = common::Cache::get(root.value(), false, session.io);
    if (!cache.hasValue())
        return fail(cache.error());
    std::ifstream file(root.value().statePath().ansi_str(), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

int where(const std::vector<std::string>& args, const Session&) {
    const auto folder = folderArg(args);
    if (!folder.hasValue())
        return fail(folder.error());
    const auto found = common::RootPath::get(folder.value(), false);
    if (!found.hasValue())
        return fail(found.error());
    const common::RootPath& root = found.value();
    const std::pair<const char*, OdString> rows[] = {
        {"root", root.path()},
        {"rvk", root.rvkPath()},
        {"state", root.statePath()},
        {"db", root.dbPath()},
        {"properties", root.propertiesPath()},
    };
    for (const auto& [label, value] : rows)
        std::printf("%-10s %s\n", label, value.ansi_str());
    return 0;
}

int relpath(const std::vector<std::string>& args, const Session&) {
    if (args.size() != 1)
        throw BadUsage();
    const OdString full = ut::FileName(fromArg(args[0])).getFullPath();
    const int cut = full.reverseFind(ut::FileName::getPathSeparator()[0]);
    const auto found = common::RootPath::get(cut > 0 ? full.left(cut) : full, false);
    if (!found.hasValue())
        return fail(found.error());
    const auto relative = found.value().relativePathTo(full);
    if (!relative.hasValue())
        return fail(relative.error());
    std::printf("%s\n", relative.value().ansi_str());
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
    };
    for (const CommandEntry& entry : kCommands) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
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
        } else {
            printUsage(stderr, false);
            return 2;
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
    if (command == nullptr) {
        if (!name.empty())
            host::printError(hostError(quoteName(shortened(name)) + " is not an rvk command"));
        printUsage(stderr, false);
        return 2;
    }
    ConsoleIo io;
    int result;
    try {
        result = command->run(std::vector<std::string>(words.begin() + 1, words.end()),
                              Session{io, lockTimeout, command->lock});
    } catch (const BadUsage&) {
        printUsage(stderr, false);
        return 2;
    } catch (const std::exception& e) {
        host::printError(hostError(std::string("unexpected failure: ") + e.what()));
        return 1;
    }
    // A state write that failed when a Cache ended was reported already; it still fails the
    // command.
    return result == 0 && io.failures() > 0 ? 1 : result;
}
