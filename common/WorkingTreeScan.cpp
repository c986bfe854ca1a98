#include <common/WorkingTreeScan.h>

#include <deque>
#include <string>
#include <utility>

#include <common/RepoIgnore.h>
#include <platform/Dir.h>
#include <platform/FileName.h>

namespace common {

namespace {

using Visit = std::function<void(const OdString&)>;

// Walks one folder: its accepted files, then each accepted subfolder, depth first. The listing
// stays open while the subfolders are walked, so one listing is held per level of depth. Each
// file's path is composed in one string per level, which keeps its buffer from file to file.
void walkFolder(ut::Dir& dir, const RepoIgnore& ignore, const Visit& visit,
                const OdString& prefix) {
    OdString name;
    OdString path;
    dir.getFirst(&name, OdString::kEmpty, ut::Dir::kFiles);
    do {
        if (!name.isEmpty() && ignore.accept(name)) {
            path = prefix;
            path += name;
            visit(path);
        }
    } while (dir.getNext(&name));

    const OdString separator = ut::FileName::getPathSeparator();
    const OdString folderPrefix = dir.getName() + separator;
    OdString sub;
    dir.getFirst(&sub, OdString::kEmpty, ut::Dir::kFolders);
    do {
        if (!sub.isEmpty() && ignore.accept(sub)) {
            ut::Dir child(folderPrefix + sub);
            walkFolder(child, ignore, visit, prefix + sub + separator);
        }
    } while (dir.getNext(&sub));
}

}  // namespace

Expected<void> visitRelPaths(const RootPath& root, const Visit& visit) {
    const RepoIgnore ignore(root);
    // Known before the walk, so that a failure hands no path at all.
    const OdString propertiesPath = root.propertiesPath();
    Expected<OdString> relative = root.relativePathTo(propertiesPath);
    if (!relative.hasValue())
        return relative.error();

    ut::Dir tree(root.path());
    walkFolder(tree, ignore, visit, OdString());
    ut::Dir properties(propertiesPath);
    walkFolder(properties, ignore, visit, relative.value() + ut::FileName::getPathSeparator());
    return {};
}

Expected<std::vector<PossibleRepoFile>> collectRelPaths(const RootPath& root) {
    // Bare wide paths first: records have no move operations, so a growing vector of records
    // would copy every path each time it grew. A deque never moves what it holds, and the records
    // are made once, at the end, with the final count known.
    std::deque<std::wstring> paths;
    const Expected<void> walked =
        visitRelPaths(root, [&](const OdString& path) { paths.push_back(path.wstr()); });
    if (!walked.hasValue())
        return walked.error();

    std::vector<PossibleRepoFile> files;
    files.reserve(paths.size());
    for (std::wstring& path : paths) {
        files.emplace_back(OdString::kEmpty);
        files.back().path = OdString(std::move(path));
    }
    return files;
}

}  // namespace common
