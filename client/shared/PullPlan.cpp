#include <client/shared/PullPlan.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <platform/FileName.h>

#include <client/Text.h>
#include <client/tree/HostFiles.h>

namespace client {

namespace {

namespace fs = std::filesystem;

OdString fromUtf8(const std::string& text) {
    return OdString(text.data(), text.size(), kCodePageUtf8);
}

// The folders above `path`, shallowest first: "a", "a/b" for "a/b/c".
std::vector<OdString> foldersAbove(const OdString& path) {
    std::vector<OdString> folders;
    const std::wstring& text = path.wstr();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (ut::FileName::isPathSeparator(text[i]))
            folders.emplace_back(text.substr(0, i));
    }
    return folders;
}

std::size_t depth(const OdString& path) {
    const std::wstring& text = path.wstr();
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](wchar_t c) {
        return ut::FileName::isPathSeparator(c);
    }));
}

// Why nothing can stand on the way to `path`: a file there that the plan does not remove, or a
// link. Empty when the way is free.
std::string wayProblem(const common::RootPath& root, const OdString& path,
                       const std::set<OdString>& removing) {
    for (const OdString& folder : foldersAbove(path)) {
        const PathKind there = lookAt(utf8(root.pathTo(folder)));
        if (there == PathKind::none || (there == PathKind::file && removing.count(folder) > 0))
            return {};
        if (there == PathKind::folder)
            continue;
        return (there == PathKind::file ? "the file " : "") + quotePath(folder) +
               (there == PathKind::file ? " is in the way"
                                        : " is in the way, and not a folder");
    }
    return {};
}

// When the folder `path` holds nothing but files that the plan removes, its subfolders and
// itself, deepest last; otherwise why not.
Expected<std::vector<OdString>> emptiedFolder(const common::RootPath& root, const OdString& path,
                                              const std::set<OdString>& removing) {
    const std::string top = utf8(root.pathTo(path));
    const std::size_t rootLength = utf8(root.path()).size() + 1;
    std::vector<OdString> folders{path};
    std::error_code ec;
    for (fs::recursive_directory_iterator it(fs::u8path(top), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string full = it->path().u8string();
        const OdString relative = fromUtf8(full.substr(std::min(rootLength, full.size())));
        const auto status = it->symlink_status(ec);
        if (ec)
            break;
        if (fs::is_directory(status)) {
            folders.push_back(relative);
            continue;
        }
        if (!fs::is_regular_file(status) || removing.count(relative) == 0)
            return hostError("the folder " + quotePath(path) + " is in the way: it holds " +
                             quotePath(relative) + ", which this pull does not remove");
    }
    if (ec)
        return hostError("the folder " + quotePath(path) + " is in the way: " + ec.message());
    return folders;
}

}  // namespace

std::set<OdString> changedPaths(const TrackedFiles& before, const TrackedFiles& after) {
    std::set<OdString> paths;
    for (const auto& [path, url] : before) {
        const auto now = after.find(path);
        if (now == after.end() || now->second != url)
            paths.insert(path);
    }
    for (const auto& [path, url] : after) {
        if (before.count(path) == 0)
            paths.insert(path);
    }
    return paths;
}

std::string settledText(const Settled& settled) {
    // One line each, the path last and counted in bytes, since a path may hold any character.
    std::string text;
    const auto add = [&](char kind, const std::string& digest, const OdString& path) {
        const std::string bytes = utf8(path);
        text += std::string(1, kind) + " " + (digest.empty() ? "-" : digest) + " " +
                std::to_string(bytes.size()) + ":" + bytes + "\n";
    };
    for (const auto& [path, digest] : settled.replacing)
        add('R', digest, path);
    for (const OdString& path : settled.keeping)
        add('K', "", path);
    return text;
}

Expected<Settled> parseSettled(const std::string& text) {
    Settled settled;
    const auto damaged = [] {
        return hostError("rvk.db holds a damaged note of how an unfinished pull settles conflicts");
    };
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t digestEnd = text.find(' ', at + 2);
        const std::size_t colon = text.find(':', digestEnd == std::string::npos ? at : digestEnd);
        if (text.size() - at < 4 || text[at + 1] != ' ' || digestEnd == std::string::npos ||
            colon == std::string::npos || colon == digestEnd + 1 || colon - digestEnd > 9)
            return damaged();
        const std::string count = text.substr(digestEnd + 1, colon - digestEnd - 1);
        if (count.find_first_not_of("0123456789") != std::string::npos)
            return damaged();
        const std::size_t length = std::stoul(count);
        if (text.size() - colon - 1 < length + 1 || text[colon + 1 + length] != '\n')
            return damaged();
        const std::string digest = text.substr(at + 2, digestEnd - at - 2);
        const std::string path = text.substr(colon + 1, length);
        const OdString local = fromUtf8(path);
        if (text[at] == 'R')
            settled.replacing[local] = digest == "-" ? std::string() : digest;
        else if (text[at] == 'K')
            settled.keeping.insert(local);
        else
            return damaged();
        at = colon + 2 + length;
    }
    return settled;
}

Expected<PullPlan> planPull(Database& db, const common::RootPath& root, const TrackedFiles& before,
                            const TrackedFiles& after,
                            const std::map<OdString, std::string>& digests,
                            const Settled& settled) {
    PullPlan plan;
    const auto digestOf = [&](const OdString& url) -> Expected<std::string> {
        const auto known = digests.find(url);
        if (known != digests.end())
            return known->second;
        const auto digest = copyDigest(db, root, url);
        if (!digest.hasValue())
            return digest.error();
        return utf8(digest.value());
    };
    for (const OdString& path : changedPaths(before, after)) {
        if (settled.keeping.count(path) > 0)
            continue;
        const auto old = before.find(path);
        const auto now = after.find(path);
        const std::string working = utf8(root.pathTo(path));
        const PathKind there = lookAt(working);
        std::string theirs;
        if (now != after.end()) {
            auto d = digestOf(now->second);
            if (!d.hasValue())
                return d.error();
            theirs = d.value();
        }
        if (there == PathKind::folder) {
            // A file the server removed is gone here already; one it writes needs the folder
            // gone, which is decided below, once every removal is known.
            if (now != after.end())
                plan.writing.push_back(Restoring{path, now->second, fromUtf8(theirs), boost::none});
            continue;
        }
        if (there != PathKind::none && there != PathKind::file) {
            plan.conflicts.push_back(path);
            continue;
        }
        const bool present = there == PathKind::file;
        std::string mine, earlier;
        if (present) {
            const auto digest = fileDigest(working, utf8(path));
            if (!digest.hasValue())
                return digest.error();
            mine = utf8(digest.value());
        }
        if (old != before.end()) {
            auto d = digestOf(old->second);
            if (!d.hasValue())
                return d.error();
            earlier = d.value();
        }
        const bool asBefore = present ? old != before.end() && mine == earlier : old == before.end();
        const bool asAfter = present ? now != after.end() && mine == theirs : now == after.end();
        if (asAfter)
            continue;
        const auto replacing = settled.replacing.find(path);
        const bool setAside = replacing != settled.replacing.end() &&
                              (!present || (!replacing->second.empty() && mine == replacing->second));
        if (!asBefore && !setAside) {
            plan.conflicts.push_back(path);
            continue;
        }
        if (now == after.end())
            plan.removing.push_back(path);
        else
            plan.writing.push_back(Restoring{path, now->second, fromUtf8(theirs), boost::none});
    }

    // Every file written must find its way free and a name this system takes.
    const std::set<OdString> removing(plan.removing.begin(), plan.removing.end());
    for (const Restoring& file : plan.writing) {
        const std::string full = utf8(root.pathTo(file.path));
        std::string problem = lengthProblem(full);
        if (problem.empty())
            problem = wayProblem(root, file.path, removing);
        if (problem.empty() && lookAt(full) == PathKind::folder) {
            auto emptied = emptiedFolder(root, file.path, removing);
            if (emptied.hasValue())
                plan.folders.insert(plan.folders.end(), emptied.value().begin(),
                                    emptied.value().end());
            else
                problem = utf8(emptied.error().message);
        }
        if (!problem.empty())
            plan.blocked.push_back(Blocked{file.path, problem});
    }
    std::stable_sort(plan.folders.begin(), plan.folders.end(),
                     [](const OdString& a, const OdString& b) { return depth(a) > depth(b); });
    return plan;
}

std::vector<Blocked> folderClashes(const TrackedFiles& files) {
    std::vector<Blocked> clashes;
    std::set<OdString> named;
    for (const auto& [path, url] : files) {
        for (const OdString& folder : foldersAbove(path)) {
            if (files.count(folder) > 0 && named.insert(folder).second)
                clashes.push_back(Blocked{
                    folder, "it is a file, and " + quotePath(path) + " needs it as a folder"});
        }
    }
    return clashes;
}

Expected<Updated> updateWorkingTree(const common::RootPath& root, const PullPlan& plan) {
    Updated updated;
    for (const OdString& path : plan.removing) {
        if (removeFile(utf8(root.pathTo(path)))) {
            ++updated.files;
            continue;
        }
        if (errno != EBUSY)
            return hostError("cannot remove " + quotePath(path) + ": " + lastSystemError());
        updated.held.push_back(path);
    }
    // A folder that still holds a file held open stays, and so does the file of the server's
    // that was to take its name: both wait for the run that finds the file closed.
    const auto holdsHeld = [&](const OdString& folder) {
        return std::any_of(updated.held.begin(), updated.held.end(), [&](const OdString& path) {
            const auto above = foldersAbove(path);
            return std::find(above.begin(), above.end(), folder) != above.end();
        });
    };
    std::set<OdString> kept;
    for (const OdString& folder : plan.folders) {
        if (holdsHeld(folder)) {
            kept.insert(folder);
            continue;
        }
        if (!removeEmptyFolder(utf8(root.pathTo(folder))))
            return hostError("cannot remove the folder " + quotePath(folder) + ": " +
                             lastSystemError());
    }
    std::vector<Restoring> writing;
    for (const Restoring& file : plan.writing) {
        if (kept.count(file.path) == 0)
            writing.push_back(file);
    }
    auto written = restoreFiles(root, writing, nullptr);
    if (!written.hasValue())
        return written.error();
    updated.files += writing.size() - written.value().size();
    updated.held.insert(updated.held.end(), written.value().begin(), written.value().end());
    return updated;
}

ErrorMessage refusal(const PullPlan& plan, bool offerChoices) {
    const auto count = [](std::size_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::string text = "pull changes nothing:";
    if (!plan.conflicts.empty()) {
        text += " " + count(plan.conflicts.size(), "file changed", "files changed") +
                " both here and on the server:";
        for (const OdString& path : plan.conflicts)
            text += "\n  " + quotePath(path);
        if (!plan.blocked.empty())
            text += "\nand";
    }
    if (!plan.blocked.empty()) {
        text += " " + count(plan.blocked.size(), "file", "files") + " cannot be written here:";
        for (const Blocked& b : plan.blocked)
            text += "\n  " + quotePath(b.path) + ": " + b.reason;
    }
    if (offerChoices && !plan.conflicts.empty())
        text += "\npull --theirs takes the server's versions and keeps yours beside them as "
                "NAME.mine.EXT; pull --mine keeps yours and records them in a new commit on top";
    return hostError(text);
}

}  // namespace client
