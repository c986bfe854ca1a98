#include <common/WorkingTreeScan.h>

#include <deque>
#include <string>
#include <utility>

#include <common/RepoIgnore.h>
#include <platform/Dir.h>
#include <platform/FileName.h>

namespace common {

namespace {

// The walk collects bare wide paths: records have no move operations, so a growing vector of
// records would copy every path each time it grew. A deque never moves what it holds, and the
// records are made once, at the end, with the final count known.
using PathList = std::deque<std::wstring>;

// Walks one folder: its accepted files, then each accepted subfolder, depth first. The listing
// stays open while the subfolders are walked, so one listing is held per level of depth.
void walkFolder(ut::Dir& dir, const RepoIgnore& ignore, PathList& out, OdString prefix) {
    const std::wstring& head = prefix.wstr();
    OdString name;
    dir.getFirst(&name, OdString::kEmpty, ut::Dir::kFiles);
    do {
        if (!name.isEmpty() && ignore.accept(name)) {
            std::wstring path;
            path.reserve(head.size() + name.wstr().size());
            path += head;
            path += name.wstr();
            out.push_back(std::move(path));
        }
    } while (dir.getNext(&name));

    const OdString separator = ut::FileName::getPathSeparator();
    const OdString folderPrefix = dir.getName() + separator;
    OdString sub;
    dir.getFirst(&sub, OdString::kEmpty, ut::Dir::kFolders);
    do {
        if (!sub.isEmpty() && ignore.accept(sub)) {
            ut::Dir child(folderPrefix + sub);
            walkFolder(child, ignore, out, prefix + sub + separator);
        }
    } while (dir.getNext(&sub));
}

}  // namespace

Expected<std::vector<PossibleRepoFile>> collectRelPaths(const RootPath& root) {
    const RepoIgnore ignore(root);
    PathList paths;
    ut::Dir tree(root.path());
    walkFolder(tree, ignore, paths, OdString());

    const OdString propertiesPath = root.propertiesPath();
    Expected<OdString> relative = root.relativePathTo(propertiesPath);
    if (!relative.hasValue())
        return relative.error();
    ut::Dir properties(propertiesPath);
    walkFolder(properties, ignore, paths, relative.value() + ut::FileName::getPathSeparator());

    std::vector<PossibleRepoFile> files;
    files.reserve(paths.size());
    for (std::wstring& path : paths) {
        files.emplace_back(OdString::kEmpty);
        files.back().path = OdString(std::move(path));
    }
    return files;
}

}  // namespace common
