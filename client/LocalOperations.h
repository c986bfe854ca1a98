// The operations of a working copy that need no server: make or complete a repository, list what
// changed, stage and unstage, commit, list the history, restore files from it, export a commit's
// files with a register of them, and verify its stored copies.
//
// Each takes the repository's lock for its whole run, exclusively when it changes anything and
// shared when it only reads, and fails with the library's message naming the lock file when the
// lock stays taken longer than the Session allows. Each fails without changing anything when its
// arguments are refused; a failure after that leaves the repository consistent, and running the
// operation again completes it. Paths in and out count from the repository's root, with the
// system's separator, unless said otherwise; names typed by a user count from Session::folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/optional.hpp>

#include <client/Export.h>
#include <client/Session.h>
#include <common/Expected.h>
#include <common/FileRecords.h>
#include <platform/OdString.h>

namespace client {

struct DrawingLock;

// What init did.
struct Initialized {
    enum class Kind {
        made,       // a new, empty repository
        existed,    // it was whole already
        completed,  // its state file was made again, HEAD on `head`
    };
    Kind kind = Kind::made;
    OdString root;        // the working tree's root folder
    std::uint64_t head = 0;  // for `completed`: the newest commit of its database
};

// The text of the state file of the repository that contains Session::folder, once the library
// has read it and found it good.
RVKCLIENT_API Expected<std::string> stateText(const Session& session);

// Makes `folder` (absolute) a repository, with its ignore file, state file and database, or
// completes the repository that already contains it. A state file that was lost is made again
// with HEAD on the newest commit of the database, so that history goes on from there.
RVKCLIENT_API Expected<Initialized> init(const OdString& folder, const Session& session);

// One line of status.
struct StatusEntry {
    // "M" changed since HEAD's commit, "?" untracked, "D" tracked and gone; "M+", "A+", "D+"
    // staged as modified, added, removed.
    const char* code;
    // From the root, with the system's separator, UTF-8, valid during the call that gets it:
    // status lists whole trees, half a million files and more, without a copy a file.
    std::string_view path;
    // In a clone's status with its locks (statusWithLocks()): the lock on the file, valid during
    // the call, or null; and whether this clone's role holds it. There a file this role has
    // locked is listed even when nothing else is to say of it, with the code "L".
    const DrawingLock* lock = nullptr;
    bool lockIsMine = false;
};

// The code of a staged file in listings: "M+", "A+" or "D+".
RVKCLIENT_API const char* stagedCode(common::EFileChange change);

// Lists the files that differ from HEAD's commit and the staged files, one entry a file, in the
// order of the paths' bytes, handing each to `each` (which must not call the kit). A staged file
// is listed once, with its staged code. Tracked files that are links now or that cannot be
// examined go to the Reporter as notes, as does a count of modified files whose stored copies
// are missing.
RVKCLIENT_API Expected<void> status(const Session& session,
                                    const std::function<void(const StatusEntry&)>& each);

// What stage or unstage did: the files it staged or unstaged, or, when any name was refused,
// why for each (and nothing was changed).
struct Staged {
    std::vector<common::StagedFile> files;
    std::vector<ErrorMessage> refused;
};

// Stages the files that `names` find (each the path of a changed, new or removed file, else a
// regular expression matching a whole path from Session::folder or a whole file name), or with
// `all` every changed, new and removed file. Staging a path again replaces its kind of change.
RVKCLIENT_API Expected<Staged> stage(const Session& session, const std::vector<OdString>& names,
                                     bool all);
// Drops the staged files at `paths`, or with `all` every staged file.
RVKCLIENT_API Expected<Staged> unstage(const Session& session, const std::vector<OdString>& paths,
                                       bool all);

// What commit recorded.
struct Committed {
    std::uint64_t id = 0;
    std::size_t files = 0;  // the files the new commit tracks
};

// Stores the staged files and records them as a new commit on HEAD with `message` (not empty) at
// `time` (seconds since 1970). Crash-safe: the copies are stored and flushed first, then the
// commit goes into the database, and the state (HEAD on it, nothing staged) comes last.
RVKCLIENT_API Expected<Committed> commit(const Session& session, const OdString& message,
                                         std::int64_t time);

// One commit of the history.
struct LogEntry {
    std::uint64_t id = 0;
    std::int64_t time = 0;  // seconds since 1970
    std::size_t files = 0;  // the files it tracks
    OdString message;
    // Who made it, UTF-8: the operating system's user who committed it here, or, once it is on
    // the server, the role that pushed it. Empty for a commit made before authors were kept.
    std::string author;
};

// HEAD's commit and its ancestors, newest first; with `path` (typed, from Session::folder) only
// those that added, changed or removed that file.
RVKCLIENT_API Expected<std::vector<LogEntry>> log(const Session& session,
                                                  const boost::optional<OdString>& path);

// What restore is asked to do.
struct RestoreRequest {
    std::vector<OdString> paths;  // typed, from Session::folder
    bool all = false;             // every file of the commit instead
    boost::optional<std::uint64_t> commit;  // HEAD's when none
    bool force = false;  // replace working files whose content would be lost
};

// What restore did, or, when anything was refused, why for each (and no file was changed).
struct Restored {
    std::vector<OdString> files;
    std::vector<ErrorMessage> refused;
    // Files that another program holds open so that they cannot be replaced (as a CAD program
    // holds the drawing it shows): each is left whole as it was, while the other files are
    // restored. The same restore run again once they are closed restores them; a host tells the
    // user which to close.
    std::vector<OdString> held;
};

// Puts files back as the commit has them. It refuses, changing nothing, to replace a working file
// whose content is neither that of HEAD's copy nor that of the copy it would get (unless
// `force`), a path the commit lacks, a stored copy whose content no longer matches its digest,
// and a path or copy placed outside the working tree or outside ".rvk". A file restored as HEAD
// has it gets its stored copy's modification time, one from another commit the current time.
// `restored` hears each file once it is in place, and the Reporter its progress ("restoring");
// restore is not cancelled: every copy is checked before the first file is placed, and the
// files are then placed one by one, each whole. A file held open by another program is not
// placed but listed in Restored::held: the restore has then done only part of its work, which the
// same restore completes once the file is closed.
RVKCLIENT_API Expected<Restored> restore(const Session& session, const RestoreRequest& request,
                                         const std::function<void(const OdString&)>& restored);

// A stored copy that verify found missing or damaged.
struct BadCopy {
    OdString url;
    std::string problem;  // UTF-8
    std::vector<OdString> paths;            // the paths that name it
    std::vector<std::uint64_t> commits;     // in the commits that name it
};

struct Verified {
    std::size_t copies = 0;      // the stored copies commits name
    std::size_t unrecorded = 0;  // drawings' copies without a recorded digest: present, unchecked
    std::vector<BadCopy> bad;
};

// Reads every stored copy that any commit names and checks it against the size and SHA-256
// digest recorded when it was committed.
RVKCLIENT_API Expected<Verified> verify(const Session& session);

// What export made.
struct Exported {
    std::size_t files = 0;   // the files written, the register not counted
    std::int64_t bytes = 0;  // their bytes
    OdString folder;         // the new folder, absolute, its links resolved
};

// The name of the register that export writes beside the files.
constexpr const char* kRegisterName = "register.csv";

// Writes the files of `commit` into the new folder `folder` (typed, from Session::folder), with
// a register of them, kRegisterName, to send with them. `folder` must not exist, its parent must,
// and it must lie outside every working tree (this one's included, however it is reached: through
// "..", a link or another letter case), where its files would count as new ones. The files come
// from the stored copies alone, never from the working tree, and each copy is checked against its
// recorded digest as it is copied. The folder is built under a hidden name beside it and renamed
// into place at the end: a copy that is missing or damaged, or any other failure, fails the
// export naming the file, and leaves no folder behind. Files inside ".rvk" (the repository's own
// settings) are not exported; a commit with a file of the register's name at its root (in any
// letter case) is refused.
//
// Each file gets the time of the commit that last changed it. The register (UTF-8, lines ending
// in LF on every system, fields quoted as RFC 4180 says where they hold a comma, a double quote,
// CR or LF) has the header "path,size,sha256,commit,author", then one row a file, sorted by the
// bytes of its '/'-separated path: its size in bytes, the SHA-256 digest of its bytes, the newest
// commit at or before `commit` that changed it (gave it the stored copy it has), and that
// commit's author. The Reporter hears the progress ("exporting").
RVKCLIENT_API Expected<Exported> exportCommit(const Session& session, std::uint64_t commit,
                                              const OdString& folder);

}  // namespace client
