// The repository paths that a Windows working tree cannot hold as they are. A history made on
// Linux, or a state or database that someone edited, may name files that Windows refuses to
// create ("CON.dwg", "x:y"), creates under another name ("plan." becomes "plan"), or takes for a
// file it already has ("Plans/a.dwg" and "plans/A.dwg" in one NTFS folder). Writing such a path
// would fail, or worse, overwrite one drawing with another; rvk reports them instead and writes
// neither.
//
// Both checks only look at the text of the paths: they make no system call, answer alike on every
// system, and so are tested on Linux too. Paths are relative, in UTF-8, with '/' between
// components, as the state and the database keep them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <boost/optional.hpp>

namespace client {

// Why Windows would refuse or alter the first component of `path` that it cannot take as it is,
// naming that component; none when Windows would create every component under its own name. The
// reasons, in the order they are looked for within a component:
//   - a device name: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1 to COM9 and LPT1 to LPT9, the last
//     two also with the superscript digits ¹ ² ³, which Windows counts as digits there. Letter
//     case does not matter, nor an extension, nor spaces before it: "nul.txt", "Com1.dwg",
//     "CON .txt" and "LPT¹" all open the device. COM0 and LPT0 are no device names, nor are
//     "com10" or "CONSOLE.dwg".
//       "CON" is a device name on Windows
//   - a character that no Windows name may hold: < > : " | ? * \ and the control characters,
//     byte values 0 to 31 (shown as \xNN). A byte sequence that is no UTF-8 has no UTF-16 name
//     either, so it is refused the same way (the stray bytes shown as \xNN).
//       "x:y" holds ':', which Windows does not allow in a name
//       "a\x01" holds the control character \x01, which Windows does not allow in a name
//   - a trailing dot or space, which Windows strips from the name it creates, so that "plan."
//     would become "plan", another file; "." and ".." are folder links on Windows, as here.
//       "a." ends in a dot, which Windows drops
//       "b " ends in a space, which Windows drops
// Empty components are skipped: whether the path is plainly relative is isPlainRelativePath()'s
// question (SafePaths.h). Names that merely look close are fine: "a.b", "com10", ".rvk/x".
boost::optional<std::string> windowsNameProblem(std::string_view path);

// The file or folder name that `path` becomes when letters are compared as Windows compares them
// in a folder: each character upper-cased by its simple Unicode mapping, for the characters a
// drafter types (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic). As on NTFS, "ß" stays "ß",
// and the dotless "ı" and the long "ſ" keep their own letters (no "I" or "S"); composed and
// decomposed accents stay apart, as NTFS keeps them apart. Bytes that are no UTF-8 stay as they
// are. Two paths name the same file on Windows when their foldings are equal.
std::string windowsFolding(std::string_view path);

// Several distinct paths that Windows would take for one file or folder: `name` is that place, as
// the first of `paths` spells it, and `paths` are the given paths that lead to it, sorted, two or
// more. Either the paths differ only in letter case ("Plans/a.dwg", "plans/A.dwg"; name
// "Plans/a.dwg"), or one of them is a file where the others need a folder ("a", "A/b.dwg"; name
// "a"), or both. Checking out either onto Windows would overwrite the other or fail.
struct CaseClash {
    std::string name;
    std::vector<std::string> paths;

    bool operator==(const CaseClash& other) const {
        return name == other.name && paths == other.paths;
    }
};

// Every CaseClash among `paths`, ordered by name. A path given twice is one path, and paths that
// share a folder spelled alike or differently but name different files ("Plans/a.dwg",
// "plans/b.dwg") do not clash: Windows puts both in one folder. "a.dwg" and "a.dwg.bak" do not
// clash either. A path may belong to several clashes ("a", "A/b", "a/B": the file "a" is the
// folder of both, and "A/b" is "a/B"). Runs in time about linear in the total length of the paths,
// by hashing their foldings, so a history of a hundred thousand files is checked at once.
std::vector<CaseClash> caseClashes(const std::vector<std::string>& paths);

}  // namespace client
