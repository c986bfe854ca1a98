// The commands that work on stored copies as such: restore puts them back into the working tree,
// verify checks that every copy a commit names is there and whole.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <common/FileStorage.h>
#include <platform/FileName.h>

#include "Commands.h"
#include "HostFiles.h"
#include "HostStorage.h"
#include "SafePaths.h"
#include "RemoteSettings.h"

namespace host {

namespace {

// The commit that restore takes its copies from: the one named, or HEAD's.
Expected<std::uint64_t> restoreCommit(const Arguments& options, Repository& r) {
    const auto named = options.options.find("--commit");
    if (named == options.options.end()) {
        const auto head = r.cache.value().read().head.commit;
        if (!head)
            return hostError("HEAD names no commit yet: there is nothing to restore");
        return *head;
    }
    static const std::regex kId("[1-9][0-9]{0,17}");
    if (!std::regex_match(named->second, kId))
        return hostError(quoteName(shortened(named->second)) + " is no commit id");
    const std::uint64_t id = std::stoull(named->second);
    const auto known = r.db.hasCommit(id);
    if (!known.hasValue())
        return known.error();
    if (!known.value())
        return hostError("there is no commit " + named->second);
    return id;
}

// Whether restoring may replace what is at `path` now: nothing is there, or a file whose bytes are
// those of HEAD's copy of it or of the copy it would get (`url`), or --force says so. Decided by
// content alone: a modification time says nothing about what a file holds (a copy made with its
// times kept, a file touched and left as it was).
Expected<void> mayReplace(Repository& r, const OdString& path, const OdString& url,
                          std::uint64_t commit, bool force) {
    const std::string working = utf8(r.root.pathTo(path));
    const PathKind there = lookAt(working);
    if (there == PathKind::none)
        return {};
    if (there != PathKind::file)
        return hostError("cannot restore " + quotePath(path) +
                         ": something else than a file is in its place");
    if (force)
        return {};
    const auto mine = fileDigest(working, utf8(path));
    if (!mine.hasValue())
        return mine.error();
    std::vector<OdString> urls{url};
    const auto inHead = r.head.find(path);
    if (inHead != r.head.end() && inHead->second != url)
        urls.push_back(inHead->second);
    for (const OdString& candidate : urls) {
        const auto digest = copyDigest(r.db, r.root, candidate);
        if (!digest.hasValue())
            return digest.error();
        if (digest.value() == mine.value())
            return {};
    }
    const std::string other = urls.size() > 1 || inHead == r.head.end()
                                  ? " and from commit " + std::to_string(commit) + "'s"
                                  : std::string();
    return hostError(quotePath(path) + " differs from HEAD's copy" + other +
                     ": restoring would lose that; rvk restore --force replaces it");
}

// The time a file restored unlike HEAD's copy gets: now, or, when HEAD's copy lies ahead of the
// clock, just after it, so that the library's test sees the file changed.
boost::optional<std::int64_t> changedTime(const Repository& r,
                                          TrackedFiles::const_iterator inHead) {
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    if (inHead == r.head.end())
        return now;
    const auto headCopy = storedCopyPath(r.root, inHead->second);
    FileStat copy;
    if (!headCopy.hasValue() || lookAt(utf8(headCopy.value()), &copy) != PathKind::file ||
        now > copy.modifiedNs)
        return now;
    // A microsecond: more than the finest step of any file system's clock.
    return copy.modifiedNs + 1000;
}

}  // namespace

// Every check comes before the first file is written, so a refused restore changes nothing.
int restore(const std::vector<std::string>& args, const Session& session) {
    const Arguments options = parseArguments("restore", args, {"--force", "--all"}, {"--commit"});
    const bool all = wantsAll("restore", options, "PATHs");
    auto repo = orFail(openRepository(session));
    Repository& r = repo;
    orFail(checkNoCutOffPull(r.db));
    const auto id = orFail(restoreCommit(options, r));
    const bool fromHead = id == r.cache.value().read().head.commit;
    auto files = orFail(fromHead ? Expected<TrackedFiles>(r.head) : r.db.trackedFiles(id));

    std::map<OdString, OdString> chosen;  // path, URL
    bool failed = false;
    const auto refuse = [&](const ErrorMessage& error) {
        printError(error);
        failed = true;
    };
    if (all)
        chosen.insert(files.begin(), files.end());
    for (const std::string& arg : options.operands) {
        const auto path = repositoryPath(r.place, arg);
        if (!path.hasValue()) {
            refuse(path.error());
            continue;
        }
        const auto found = files.find(path.value());
        if (found == files.end())
            refuse(hostError(quotePath(path.value()) + " is not in commit " + std::to_string(id)));
        else
            chosen.insert(*found);
    }
    std::vector<Restoring> restoring;
    for (const auto& [path, url] : chosen) {
        const auto inside = checkWorkingPath(r.root, path, "the database");
        const auto stored = storedCopyPath(r.root, url);
        const auto nameable = checkWindowsName(path);
        if (!inside.hasValue() || !stored.hasValue() || !nameable.hasValue()) {
            refuse(!inside.hasValue()   ? inside.error()
                   : !stored.hasValue() ? stored.error()
                                        : nameable.error());
            continue;
        }
        if (!ut::FileName(stored.value()).exists(ut::FileName::kRegularFile)) {
            refuse(hostError("the stored copy of " + quotePath(path) + " is missing (" +
                             quotePath(stored.value()) + "); see rvk verify"));
            continue;
        }
        const auto replaceable = mayReplace(r, path, url, id, options.has("--force"));
        const auto digest = expectedDigest(r.db, url);
        if (!replaceable.hasValue() || !digest.hasValue()) {
            refuse(!replaceable.hasValue() ? replaceable.error() : digest.error());
            continue;
        }
        // As HEAD has it, the file is unchanged and keeps its copy's time; any other content is
        // a change to commit, which the library's test sees only in a file newer than its copy.
        const auto inHead = r.head.find(path);
        const bool asInHead = inHead != r.head.end() && inHead->second == url;
        restoring.push_back(
            Restoring{path, url, digest.value(), asInHead ? boost::none : changedTime(r, inHead)});
    }
    if (failed)
        return 1;

    orFail(restoreFiles(r.root, restoring, [](const OdString& path) {
        std::printf("restored %s\n", quotePath(path).c_str());
    }));
    return 0;
}

int verify(const std::vector<std::string>& args, const Session& session) {
    if (!parseArguments("verify", args, {}).operands.empty())
        throw BadUsage{"verify: takes no arguments"};
    auto repo = orFail(openRepository(session));
    Repository& r = repo;
    const auto uses = orFail(r.db.allFiles());
    const auto records = orFail(r.db.allCopyRecords());

    // By URL: the paths and the commits that name each stored copy.
    struct Named {
        std::set<OdString> paths;
        std::set<std::uint64_t> commits;
    };
    std::map<OdString, Named> copies;
    for (const FileUse& use : uses) {
        Named& named = copies[use.url];
        named.paths.insert(use.path);
        named.commits.insert(use.commit);
    }

    std::size_t bad = 0, done = 0, unrecorded = 0;
    Progress progress("verifying");
    for (const auto& [url, named] : copies) {
        progress.update(++done, copies.size());
        std::string problem;
        const auto stored = storedCopyPath(r.root, url);
        const auto record = records.find(url);
        const bool generic = common::urlToType(url) == common::FileStorage::Generic;
        FileStat info;
        if (!stored.hasValue()) {
            problem = utf8(stored.error().message);
        } else if (lookAt(utf8(stored.value()), &info) != PathKind::file) {
            problem = "missing";
        } else if (record != records.end() && record->second.size != info.size) {
            problem = "it holds " + std::to_string(info.size) + " bytes, not the " +
                      std::to_string(record->second.size) + " it was committed with";
        } else if (generic || record != records.end()) {
            const OdString want = generic ? url.mid(2) : record->second.digest;
            const auto digest = fileDigest(utf8(stored.value()), utf8(url));
            if (!digest.hasValue())
                problem = utf8(digest.error().message);
            else if (digest.value() != want)
                problem = "its content does not match its digest";
        } else {
            ++unrecorded;
        }
        if (problem.empty())
            continue;
        ++bad;
        std::string line = quotePath(url) + ": " + problem + "; named by ";
        std::string separator;
        for (const OdString& path : named.paths) {
            line += separator + quotePath(path);
            separator = ", ";
        }
        line += " in commit" + std::string(named.commits.size() > 1 ? "s " : " ");
        separator.clear();
        for (const std::uint64_t commit : named.commits) {
            line += separator + std::to_string(commit);
            separator = ", ";
        }
        std::printf("%s\n", line.c_str());
    }
    const auto copiesOf = [](std::size_t n) {
        return std::to_string(n) + (n == 1 ? " stored copy" : " stored copies");
    };
    if (bad > 0)
        return fail(hostError(std::to_string(bad) + " of " + copiesOf(copies.size()) +
                              (bad == 1 ? " is" : " are") + " missing or damaged"));
    std::printf("%s verified: all present and whole", copiesOf(copies.size()).c_str());
    if (unrecorded > 0)
        std::printf(
            " (%s of drawings from before rvk recorded digests: present, content not "
            "checked)",
            copiesOf(unrecorded).c_str());
    std::printf("\n");
    return 0;
}

}  // namespace host
