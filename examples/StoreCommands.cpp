// The commands that work on stored copies as such: restore puts them back into the working tree,
// verify checks that every copy a commit names is there and whole.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <common/ContentHash.h>
#include <common/FileStorage.h>
#include <platform/FileName.h>

#include "Commands.h"
#include "HostStorage.h"
#include "SafePaths.h"

namespace host {

namespace {

struct RestoreOptions {
    boost::optional<std::string> commit;
    bool force = false;
    bool all = false;
    std::vector<std::string> paths;
};

RestoreOptions parseRestore(const std::vector<std::string>& args) {
    RestoreOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--commit" && i + 1 < args.size() && !options.commit)
            options.commit = args[++i];
        else if (args[i] == "--force")
            options.force = true;
        else if (args[i] == "--all")
            options.all = true;
        else if (args[i].rfind("--", 0) == 0)
            throw BadUsage();
        else
            options.paths.push_back(args[i]);
    }
    if (options.all == !options.paths.empty())
        throw BadUsage();
    return options;
}

// The commit that restore takes its copies from: the one named, or HEAD's.
Expected<std::uint64_t> restoreCommit(const RestoreOptions& options, Repository& r) {
    if (!options.commit) {
        const auto head = r.cache.value().read().head.commit;
        if (!head)
            return hostError("HEAD names no commit yet: there is nothing to restore");
        return *head;
    }
    static const std::regex kId("[1-9][0-9]{0,17}");
    if (!std::regex_match(*options.commit, kId))
        return hostError(quoteName(shortened(*options.commit)) + " is no commit id");
    const std::uint64_t id = std::stoull(*options.commit);
    const auto known = r.db.hasCommit(id);
    if (!known.hasValue())
        return known.error();
    if (!known.value())
        return hostError("there is no commit " + *options.commit);
    return id;
}

// Whether restoring may replace what is at `path` now: nothing is there, or a file whose content
// HEAD's commit holds, or --force says so.
Expected<void> mayReplace(const Repository& r, const OdString& path, bool force) {
    const ut::FileName working(r.root.pathTo(path));
    if (!working.exists(ut::FileName::kAnyObject))
        return {};
    if (!working.exists(ut::FileName::kRegularFile))
        return hostError("cannot restore " + quotePath(path) +
                         ": something else than a file is "
                         "in its place");
    if (force)
        return {};
    const auto inHead = r.head.find(path);
    if (inHead != r.head.end()) {
        const auto modified = common::isModified(path, inHead->second, r.root);
        if (!modified.hasValue())
            return modified.error();
        if (!modified.value())
            return {};
    }
    return hostError(quotePath(path) + " differs from HEAD's copy: restoring would lose that; " +
                     "rvk restore --force replaces it");
}

// Reads the whole stored copy at `path` and compares its digest with `digest`. An empty text when
// they agree, otherwise what is wrong.
std::string checkDigest(const OdString& path, const OdString& digest) {
    const int fd = ::open(path.ansi_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string("cannot be read: ") + std::strerror(errno);
    common::ContentDigest sha;
    std::vector<char> chunk(std::size_t{1} << 20);
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const std::string reason = std::string("cannot be read: ") + std::strerror(errno);
            ::close(fd);
            return reason;
        }
        if (got == 0)
            break;
        sha.update(chunk.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return sha.hexDigest() == digest ? std::string() : "its content does not match its digest";
}

}  // namespace

// Every check comes before the first file is written, so a refused restore changes nothing.
int restore(const std::vector<std::string>& args, const Session& session) {
    const RestoreOptions options = parseRestore(args);
    auto repo = openRepository(session);
    if (!repo.hasValue())
        return fail(repo.error());
    Repository& r = repo.value();
    const auto id = restoreCommit(options, r);
    if (!id.hasValue())
        return fail(id.error());
    auto files = options.commit ? r.db.trackedFiles(id.value()) : Expected<TrackedFiles>(r.head);
    if (!files.hasValue())
        return fail(files.error());

    std::vector<std::pair<OdString, OdString>> chosen;  // path, URL
    bool failed = false;
    const auto refuse = [&](const ErrorMessage& error) {
        printError(error);
        failed = true;
    };
    if (options.all)
        chosen.assign(files.value().begin(), files.value().end());
    for (const std::string& arg : options.paths) {
        const auto found = files.value().find(fromArg(arg));
        if (found == files.value().end())
            refuse(hostError(quotePath(fromArg(arg)) + " is not in commit " +
                             std::to_string(id.value())));
        else
            chosen.emplace_back(*found);
    }
    for (const auto& [path, url] : chosen) {
        const auto inside = checkWorkingPath(r.root, path, "the database");
        const auto stored = storedCopyPath(r.root, url);
        if (!inside.hasValue() || !stored.hasValue()) {
            refuse(!inside.hasValue() ? inside.error() : stored.error());
            continue;
        }
        if (!ut::FileName(stored.value()).exists(ut::FileName::kRegularFile)) {
            refuse(hostError("the stored copy of " + quotePath(path) + " is missing (" +
                             utf8(stored.value()) + "); see rvk verify"));
            continue;
        }
        const auto replaceable = mayReplace(r, path, options.force);
        if (!replaceable.hasValue())
            refuse(replaceable.error());
    }
    if (failed)
        return 1;

    for (const auto& [path, url] : chosen) {
        const auto restored = storageFor(path, id.value())->restore(r.root, url, path);
        if (!restored.hasValue())
            return fail(restored.error());
        std::printf("restored %s\n", quotePath(path).c_str());
    }
    return 0;
}

int verify(const std::vector<std::string>& args, const Session& session) {
    if (!args.empty())
        throw BadUsage();
    auto repo = openRepository(session);
    if (!repo.hasValue())
        return fail(repo.error());
    Repository& r = repo.value();
    const auto uses = r.db.allFiles();
    if (!uses.hasValue())
        return fail(uses.error());

    // By URL: the paths and the commits that name each stored copy.
    struct Named {
        std::set<OdString> paths;
        std::set<std::uint64_t> commits;
    };
    std::map<OdString, Named> copies;
    for (const FileUse& use : uses.value()) {
        Named& named = copies[use.url];
        named.paths.insert(use.path);
        named.commits.insert(use.commit);
    }

    std::size_t bad = 0, done = 0;
    Progress progress("verifying");
    for (const auto& [url, named] : copies) {
        progress.update(++done, copies.size());
        std::string problem;
        const auto stored = storedCopyPath(r.root, url);
        if (!stored.hasValue())
            problem = utf8(stored.error().message);
        else if (!ut::FileName(stored.value()).exists(ut::FileName::kRegularFile))
            problem = "missing";
        else if (common::urlToType(url) == common::FileStorage::Generic)
            problem = checkDigest(stored.value(), url.mid(2));
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
    if (bad > 0)
        return fail(hostError(std::to_string(bad) + " of " + std::to_string(copies.size()) +
                              " stored copies are missing or damaged"));
    std::printf("%zu stored %s verified: all present and whole\n", copies.size(),
                copies.size() == 1 ? "copy" : "copies");
    return 0;
}

}  // namespace host
