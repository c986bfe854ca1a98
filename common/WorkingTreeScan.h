// The working-tree scan: the files of a repository that are candidates for tracking.
//
// collectRelPaths() walks the working folder and the repository's properties folder and lists each
// file whose name, and the names of whose enclosing folders, the repository's ignore rules accept.
// Hidden names (the repository directory ".rvk" among them) are never offered by the folder
// listing, so of ".rvk" only the properties folder is seen, walked on its own after the working
// tree: the state file and the database file are never listed.
#pragma once

#include <functional>
#include <vector>

#include <common/Expected.h>
#include <common/Export.h>
#include <common/FileRecords.h>
#include <common/RootPath.h>

namespace common {

// Every accepted file below `root`, then every accepted file below its properties folder, as paths
// relative to the root joined with ut::FileName::getPathSeparator() (so root.pathTo(path) leads
// back to the file). Within a folder its files come first, in listing order, then the contents of
// each accepted subfolder in turn, depth first; a folder whose name is ignored is not entered. Only
// `path` is set in each record. Reads the file system only.
//
// A folder that cannot be read, or a missing properties folder, adds nothing and is no error.
// Fails only when the properties folder's relative path cannot be formed, with that error.
// An ignore rule that is no valid pattern throws std::regex_error, and no list is returned.
RVK_EXPORT Expected<std::vector<PossibleRepoFile>> collectRelPaths(const RootPath& root);

// An addition to the scan above: the same walk, handing each path that collectRelPaths() would
// list to `visit` as it is found, in the same order, instead of collecting records. A host that only
// looks each path up (a status against the files it tracks) then holds none of them: for 20,000
// files, the records and their wide paths were half of the memory such a status touched.
// The string `visit` receives is reused for the next path: copy what must outlive the call.
// Fails, before handing any path, and throws, as collectRelPaths() does; an exception from
// `visit` ends the walk and passes through.
RVK_EXPORT Expected<void> visitRelPaths(const RootPath& root,
                                        const std::function<void(const OdString&)>& visit);

}  // namespace common
