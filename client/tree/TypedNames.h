// What people type: the PATHs and NAMEs of rvk's command lines, turned into the paths of the
// repository (relative to its root, the form the library, the state and the database use).
//
// A PATH counts from the current folder, as a shell's does, or is absolute; either way it must
// lead to a place inside the working tree. A NAME given to stage is first taken as such a PATH;
// when no file is there to stage, it is a regular expression that must match a whole path
// (counted from the current folder, among the files below it) or a whole file name, never just
// any ending of one: "plan" finds "sub/plan.dwg", not "sub/myplan.dwg".
#pragma once

#include <regex>
#include <string>
#include <vector>

#include <common/Expected.h>
#include <common/FileRecords.h>
#include <common/RootPath.h>
#include <common/StagingExplorer.h>
#include <platform/OdString.h>

namespace client {

// The repository and where in it the command was started.
struct Place {
    common::RootPath root;
    OdString folder;  // the current folder, absolute
    OdString within;  // the current folder relative to the root; empty at the root
};

// The place of a command started in `folder` (absolute), inside the repository `root`.
Place placeOf(const common::RootPath& root, const OdString& folder);

// The repository path of the PATH `typed`: normalised ("." and ".." resolved, repeated separators
// dropped), relative to the root. Fails, naming the PATH, when it leads outside the working tree
// or to the root folder itself.
Expected<OdString> repositoryPath(const Place& place, const std::string& typed);

// The file one NAME of `rvk stage` stands for, among the candidates of `explorer` and the removed
// files; `links` are the tracked paths that are symbolic links now, which are refused by name. A
// NAME matching several files gives the library's "More that one file found..." followed by the
// matching paths, one per line.
Expected<common::StagedFile> resolveStageName(const Place& place,
                                              const common::RepoFileExplorer& explorer,
                                              const common::RepoChanges& changes,
                                              const std::string& typed);

// Why `name` is no valid pattern, in words for people who do not write regular expressions: the
// character at fault and what is wrong with it, where that can be told; `error` is what compiling
// it threw.
std::string explainPatternError(const std::string& name, const std::regex_error& error);

}  // namespace client
