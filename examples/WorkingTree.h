// Sorting the files of a repository's working tree against the files HEAD's commit tracks: the
// step between the library's scan and its staging explorer.
#pragma once

#include <common/Expected.h>
#include <common/RootPath.h>
#include <common/StagingExplorer.h>

#include "Database.h"

namespace host {

// Scans the working tree of `root` (collectRelPaths) and sorts its files by `tracked`, HEAD's
// files with their storage URLs:
//   - tracked, isModified() false: `unchanged`; true: `modified`;
//   - not tracked: `untracked`;
//   - tracked but no longer a file in the working tree: `removed`.
// A tracked file that the ignore rules now hide is still tracked: it is tested like the others, and
// only its absence makes it removed. The RepoFile records carry the storage URL as their `detail`.
// Each list is in the order of the paths' UTF-8 bytes. Fails with the error of the scan or of
// isModified() (a URL the database should never have held), or when the ignore file holds a rule
// that is no valid pattern. Shows a progress counter while testing tracked files.
Expected<common::RepoChanges> sortWorkingTree(const common::RootPath& root,
                                              const TrackedFiles& tracked);

// True when `a` comes before `b` in the order of their UTF-8 bytes, the order rvk lists paths in
// (so a listing sorts as the C locale's `sort` would).
bool byBytes(const OdString& a, const OdString& b);

}  // namespace host
