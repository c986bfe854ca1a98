// The working-tree scan: the files of a repository that are candidates for tracking.
//
// collectRelPaths() walks the working folder and the repository's properties folder and lists each
// file whose name, and the names of whose enclosing folders, the repository's ignore rules accept.
// Hidden names (the repository directory ".rvk" among them) are never offered by the folder
// listing, so of ".rvk" only the properties folder is seen, walked on its own after the working
// tree: the state file and the database file are never listed.
#pragma once

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

}  // namespace common
