// Where rvk may read and write when it follows a path or a URL that it did not compose itself. A
// repository folder may come from someone else, and its state file and database are files that
// anyone can edit: a path that leads out of the working tree, or a storage URL whose copy would lie
// outside ".rvk", is refused before anything is read or written there.
#pragma once

#include <string_view>

#include <common/Expected.h>
#include <common/RootPath.h>
#include <platform/OdString.h>

#include <client/tree/HostFiles.h>

namespace client {

// True when `path` is relative and has no empty, "." or ".." component: lexically a path inside
// the folder it is relative to. Under Windows rules (Naming::windowsNames), both separators
// count, and a component of dots and spaces alone (".. " resolves to "..") is refused too.
bool isPlainRelativePath(const OdString& path, const Naming& naming = hostNaming());

// True when the UTF-8 `path` may name a tracked file of a working tree: a plain relative path
// (above), and inside ".rvk" only below "properties", the one folder there that the scan lists.
// A path such as ".rvk/rvk.state" would let a restore overwrite the repository's own files.
bool isTrackablePath(std::string_view path, const Naming& naming = hostNaming());

// Success when `relativePath`, which `source` ("the state", "the database") gave, leads to a place
// inside the working tree of `root`: a trackable path (above) none of whose folders is a symbolic
// link. Otherwise an error naming the path and its source.
Expected<void> checkWorkingPath(const common::RootPath& root, const OdString& relativePath,
                                const char* source);

// The path of the stored copy that `url` names (getStoragePath()), when it lies inside ".rvk" and
// no folder on the way from ".rvk" is a symbolic link; otherwise an error naming the URL.
Expected<OdString> storedCopyPath(const common::RootPath& root, const OdString& url);

}  // namespace client
