#include <client/tree/TypedNames.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include <common/TypedName.h>
#include <platform/FileName.h>

#include <client/Text.h>
#include <client/tree/HostFiles.h>

namespace client {

namespace {

// `path` (absolute, UTF-8, "/" between folders) with ".", ".." and empty components resolved by
// their names alone.
std::string normalised(const std::string& path) {
    std::vector<std::string_view> parts;
    std::string_view rest(path);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string joined;
    for (const std::string_view part : parts) {
        // A drive ("C:") begins a Windows path: no "/" before it.
        if (!joined.empty() || !hostNaming().windowsNames || part.size() != 2 || part[1] != ':')
            joined += '/';
        joined += part;
    }
    return joined.empty() ? "/" : joined;
}

// `full` relative to `root` (both normalised), or false when it does not lie inside.
bool inside(const std::string& root, const std::string& full, std::string& relative) {
    if (full.size() <= root.size() || full.compare(0, root.size(), root) != 0 ||
        (root != "/" && full[root.size()] != '/'))
        return false;
    relative = full.substr(root == "/" ? 1 : root.size() + 1);
    return true;
}

// The last component of a repository path: its file name.
std::string_view fileNameOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool isSymbolicLink(const common::RootPath& root, const OdString& path) {
    return lookAt(utf8(root.pathTo(path))) == PathKind::link;
}

// The first problem that a reading of `name` can point at: its character number (from 1) and
// what is wrong. Covers the mistakes people make; returns false for the rest.
bool findFault(const std::string& name, std::size_t& at, std::string& what) {
    std::vector<std::size_t> open;
    const auto character = [&](std::size_t byte) {
        std::size_t count = 0;
        for (std::size_t i = 0; i <= byte && i < name.size(); ++i)
            count += (static_cast<unsigned char>(name[i]) & 0xC0) != 0x80;
        return count;
    };
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '\\') {
            if (i + 1 == name.size()) {
                at = character(i);
                what = "'\\' at the end has nothing after it to take as it is";
                return true;
            }
            ++i;
        } else if (c == '[') {
            std::size_t j = i + 1;
            while (j < name.size() && name[j] != ']')
                j += name[j] == '\\' ? 2 : 1;
            if (j >= name.size()) {
                at = character(i);
                what = "'[' begins a set of characters that no ']' ends";
                return true;
            }
            i = j;
        } else if (c == '(') {
            open.push_back(i);
        } else if (c == ')') {
            if (open.empty()) {
                at = character(i);
                what = "')' ends a group that no '(' began";
                return true;
            }
            open.pop_back();
        } else if ((c == '*' || c == '+' || c == '?') &&
                   (i == 0 || name[i - 1] == '(' || name[i - 1] == '|')) {
            at = character(i);
            what = std::string("'") + c + "' repeats what comes before it, and nothing does";
            return true;
        }
    }
    if (!open.empty()) {
        at = character(open.back());
        what = "'(' begins a group that no ')' ends";
        return true;
    }
    return false;
}

}  // namespace

Place placeOf(const common::RootPath& root, const OdString& folder) {
    const auto within = root.relativePathTo(folder);
    return Place{root, folder, within.hasValue() ? within.value() : OdString()};
}

Expected<OdString> repositoryPath(const Place& place, const std::string& typed) {
    const std::string root = normalised(absolutePath(utf8(place.root.path()), "/"));
    std::string full = normalised(absolutePath(typed, utf8(place.folder)));
    std::string relative;
    if (!inside(root, full, relative)) {
        // An absolute path may reach the tree through a link (a folder named by another path):
        // its folder is looked up as the system resolves it.
        const std::size_t slash = full.rfind('/');
        std::string resolved;
        if (full != root && slash != std::string::npos &&
            resolveFolder(slash == 0 ? "/" : full.substr(0, slash), resolved))
            full = normalised(resolved + full.substr(slash));
        if (full == root)
            return hostError(quoteName(shortened(typed)) +
                             " is the working tree's root folder, not a file in it");
        if (!inside(root, full, relative))
            return hostError(quoteName(shortened(typed)) + " lies outside the working tree " +
                             quoteName(utf8(place.root.path())));
    }
    // In the library's separator, which is "\\" on Windows.
    const char separator = ut::FileName::getPathSeparator().ansi_str()[0];
    std::replace(relative.begin(), relative.end(), '/', separator);
    return OdString(relative.data(), relative.size(), kCodePageUtf8);
}

Expected<common::StagedFile> resolveStageName(const Place& place,
                                              const common::RepoFileExplorer& explorer,
                                              const common::RepoChanges& changes,
                                              const std::string& typed) {
    const std::vector<common::StagedFile> candidates = explorer.possibleStageFiles();
    const auto exact = repositoryPath(place, typed);
    if (exact.hasValue()) {
        for (const common::RepoFile& file : changes.removed) {
            if (file.path == exact.value())
                return common::StagedFile(file.path, common::EFileChange::removed);
        }
        // The exact path wins even where, as a pattern, it would find others too or none
        // ("README" has no extension to complete).
        for (const common::StagedFile& candidate : candidates) {
            if (candidate.path == exact.value())
                return candidate;
        }
        if (isSymbolicLink(place.root, exact.value()))
            return hostError(quotePath(exact.value()) +
                             " is a symbolic link: rvk keeps files, never links or what they "
                             "lead to");
    }

    const OdString name(typed.data(), typed.size(), kCodePageUtf8);
    std::unique_ptr<common::TypedName> pattern;
    try {
        pattern = std::make_unique<common::TypedName>(name);
    } catch (const std::regex_error& e) {
        return hostError(quoteName(shortened(typed)) +
                         " is no valid pattern: " + explainPatternError(typed, e));
    }
    // Patterns see "/" between folders on every system.
    const std::string within = slashed(utf8(place.within));
    // Whether `path` is below the current folder and the NAME matches the rest of it or its
    // file name.
    const auto matches = [&](const OdString& path) {
        const std::string text = slashed(utf8(path));
        std::string_view below(text);
        if (!within.empty()) {
            if (below.size() <= within.size() || below.compare(0, within.size(), within) != 0 ||
                below[within.size()] != '/')
                return false;
            below.remove_prefix(within.size() + 1);
        }
        return pattern->matches(below) || pattern->matches(fileNameOf(below));
    };

    common::RepoChanges found;
    try {
        for (const common::StagedFile& candidate : candidates) {
            if (!matches(candidate.path))
                continue;
            (candidate.change == common::EFileChange::modified ? found.modified : found.untracked)
                .emplace_back(candidate.path);
        }
        if (found.modified.size() + found.untracked.size() == 1)
            return found.modified.empty()
                       ? common::StagedFile(found.untracked[0].path, common::EFileChange::added)
                       : common::StagedFile(found.modified[0].path, common::EFileChange::modified);
        if (found.modified.empty() && found.untracked.empty()) {
            for (const common::RepoFile& file : changes.unchanged) {
                if (matches(file.path))
                    return hostError(quoteName(shortened(typed)) + " finds only " +
                                     quoteName(utf8(file.path)) +
                                     ", which is unchanged: there is nothing to stage");
            }
            return hostError(quoteName(shortened(typed)) +
                             " finds no changed, new or removed file");
        }
    } catch (const std::regex_error& e) {
        return hostError(quoteName(shortened(typed)) + " is too complex a pattern: " + e.what());
    }

    // Several files: the library says so in its words, and the files follow.
    std::string message;
    try {
        const auto answer = common::RepoFileExplorer(found, place.root).findForStaging(name);
        if (const auto* error = boost::get<ErrorMessage>(&answer))
            message = utf8(error->message);
    } catch (const std::regex_error&) {
        // Matched above, so the library's reading of the name cannot fail; the words below stand.
    }
    if (message.empty())
        message = "More that one file found with name " + typed + ".";
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    for (const auto* list : {&found.modified, &found.untracked}) {
        for (const common::PossibleRepoFile& file : *list)
            message += "\n    " + quotePath(file.path);
    }
    return hostError(message);
}

std::string explainPatternError(const std::string& name, const std::regex_error& error) {
    std::size_t at = 0;
    std::string what;
    if (error.code() != std::regex_constants::error_space &&
        error.code() != std::regex_constants::error_complexity && findFault(name, at, what))
        return what + " (character " + std::to_string(at) +
               "); put a '\\' before a character to take it as it is";
    switch (error.code()) {
        case std::regex_constants::error_brace:
        case std::regex_constants::error_badbrace:
            return "a count in '{...}' is not two numbers, the first the smaller; put a '\\' "
                   "before '{' to take it as it is";
        case std::regex_constants::error_range:
            return "a range in '[...]' ends before it begins (as 'z-a' does)";
        case std::regex_constants::error_escape:
            return "a '\\' comes before a letter that means nothing after it";
        case std::regex_constants::error_badrepeat:
            return "'*', '+' or '?' repeats something that cannot be repeated (such as another "
                   "'*'); a name is a pattern, so '*' alone is not 'anything': write '.*'";
        case std::regex_constants::error_backref:
            return "a '\\' and a number refer to a group '(...)' that is not there";
        case std::regex_constants::error_ctype:
        case std::regex_constants::error_collate:
            return "a '[:...:]' names no known class of characters";
        default:
            return error.what();
    }
}

}  // namespace client
