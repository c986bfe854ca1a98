// The operations of a shared history: a working copy whose commits are shared with others through
// a PostgreSQL server (its "remote", a libpq connection string or "service=NAME" that holds no
// secret). The server enforces its own rules; the kit checks everything the server sends as input.
//
// The server's client library is loaded on the first call of any of these, never before. Every
// wait for the server has a limit. Each operation takes the repository's lock as the local ones
// do (exclusive for remote settings, clone, push, pull and uncommit; shared for the locks and the
// labels), and each, cut off anywhere, is completed by running it again.
//
// Commit ids are the server's: commit N is the N-th of the shared history in every clone. A
// clone's own commits take the ids after its newest server commit (its "base"); when the server
// has moved on meanwhile, pull gives them the ids after the server's head and puts them on top of
// its commits.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <boost/optional.hpp>

#include <client/Export.h>
#include <client/LocalOperations.h>
#include <client/Session.h>
#include <common/Expected.h>
#include <common/FileRecords.h>
#include <platform/OdString.h>

namespace client {

// The remote of the repository that contains Session::folder. Fails when none is set, or when
// it holds what the kit no longer keeps (a secret set by an older version): then it is not given.
RVKCLIENT_API Expected<std::string> remote(const Session& session);
// Makes `conninfo` the remote, once it is found to be a connection string without a secret.
RVKCLIENT_API Expected<void> setRemote(const Session& session, const std::string& conninfo);

// What createServer() found and did.
enum class ServerCreated { made, upgraded, current };
// Makes an empty shared repository in the database `conninfo` names, or brings an older one up to
// this kit's format, and grants the groups rvk_readers, rvk_writers and rvk_admin their
// privileges; running it again changes nothing more. Needs a login of rvk_admin that may create
// roles. The server's notices go to `reporter`.
RVKCLIENT_API Expected<ServerCreated> createServer(const std::string& conninfo,
                                                   Reporter& reporter);

// What pull and clone say as they go, before their outcome.
struct PullEvents {
    // A pull that was cut off is complete now, with `files` working files updated.
    std::function<void(std::size_t files)> completedCutOff;
    // The server holds `commits` of this clone's own commits already, from a push that was cut
    // off: they count as the server's now.
    std::function<void(std::size_t commits)> landed;
};

// What a pull or a clone brought.
struct Pulled {
    enum class Kind {
        empty,     // the server has no commit yet
        upToDate,  // nothing new: `head` is the server's newest commit
        pulled,    // `head` is HEAD's commit afterwards
    };
    Kind kind = Kind::empty;
    std::uint64_t head = 0;
    std::size_t commits = 0;   // the server's commits brought
    std::size_t copies = 0;    // stored copies received
    std::int64_t bytes = 0;    // their bytes
    std::size_t files = 0;     // working files updated
    std::size_t replayed = 0;  // this clone's own commits put on top
    // Conflicts::theirs: each file changed on both sides whose server version the pull took, and
    // the untracked copy of the drafter's bytes beside it ("plan.dwg", "plan.mine.dwg"), by path.
    std::vector<std::pair<OdString, OdString>> setAside;
    // Conflicts::theirs: the files changed on both sides whose server version the pull took with
    // nothing to set aside: the drafter had removed them, or held the server's bytes already.
    std::vector<OdString> taken;
    // Conflicts::mine: the files whose drafter's versions the new commit `keptIn` records on top
    // of the server's, by path; `keptIn` is 0 when there was nothing to keep.
    std::vector<OdString> kept;
    std::uint64_t keptIn = 0;
    // Working files that another program holds open so that they can be neither replaced nor
    // removed (as a CAD program holds the drawing it shows): each is left whole as it was, while
    // every other file is updated. The pull is then not complete, though its commits are
    // recorded and HEAD is on them: the next pull (or clone into the same folder) puts these files
    // in place first, once they are closed, and brings nothing new before it has. A host tells
    // the user which to close. When they are left from an earlier pull, `commits` is 0.
    std::vector<OdString> held;
};

// What a pull does with a file changed both here (in the working tree, staged, or in a commit of
// this clone's that the server lacks) and on the server.
enum class Conflicts {
    // The pull changes nothing and fails, naming the files.
    refuse,
    // The server's version is taken. The drafter's newest bytes (the working file; when there is
    // none, the version of this clone's newest commit) are first kept beside it as an untracked,
    // writable copy, NAME.mine.EXT ("plan.dwg": "plan.mine.dwg"; "notes": "notes.mine"), or
    // NAME.mine-2.EXT, -3, ... when that name is taken: nothing is ever overwritten. A copy with
    // those very bytes there already (from a pull cut off after it made it) serves again. The
    // copies are on disk before the pull changes anything else; this clone's own changes to
    // those files are dropped from its commits, which the pull replays without them (a commit
    // left without changes goes), and from the staged files.
    theirs,
    // The drafter's versions stay in the working tree and are recorded as a new commit of this
    // clone on top of the server's (and of this clone's other commits, replayed without their
    // changes to those files), for the next push to send. Refused, changing nothing, when the
    // server says that any of those files is lockable, held by the server and not locked by this
    // role, or is locked by another role: the push would be refused ("lock it first").
    mine,
};

// How pull goes about its work.
struct PullOptions {
    Conflicts conflicts = Conflicts::refuse;
    // The time of the commit that Conflicts::mine records, in seconds since 1970; none for now.
    boost::optional<std::int64_t> keptTime;
};

// Brings the server's commits, updates the working files the server changed, and puts this
// clone's own commits on top. A file changed on both sides (in a commit of this clone's, staged,
// or in the working tree) is settled as `options.conflicts` says; by default the pull changes
// nothing and fails naming the files. It always fails so, changing nothing, when the working tree
// cannot take a file of the server's. Working files held open by another program are left as
// they were and listed in Pulled::held.
RVKCLIENT_API Expected<Pulled> pull(const Session& session, const PullEvents& events = {},
                                    const PullOptions& options = {});

// Makes `folder` (from Session::folder, or absolute; empty or new, and outside any other working
// tree) a clone of the shared repository at `conninfo`, its remote. A clone that was cut off is
// taken up again. A server that cannot be reached, or holds no shared repository this kit can read,
// refuses it before anything is made.
RVKCLIENT_API Expected<Pulled> clone(const Session& session, const std::string& conninfo,
                                     const OdString& folder, const PullEvents& events = {});

// What push sent.
struct Pushed {
    std::size_t commits = 0;  // the commits the server took, those of a cut-off push included
    std::size_t copies = 0;   // stored copies sent
    std::int64_t bytes = 0;   // their bytes
    std::uint64_t head = 0;   // the server's head afterwards
    bool appended = false;    // this push appended commits (not only found those of a cut-off one)
    std::vector<OdString> released;  // this role's locks that the push released, by path
};

// Sends the commits the server lacks, with their stored copies. Refused when the server has
// commits this clone lacks (pull first), when a commit changes files that other roles have
// locked, and when it changes or removes a lockable file the server has whose lock this role does
// not hold ("lock it first"), naming them: then the server's history is unchanged. Unless
// `keepLocks`, the push releases this role's locks on the files it pushed. A pull that was cut
// off is completed first; working files of it that another program holds open are left for the
// next pull, each named in a note to the Reporter.
RVKCLIENT_API Expected<Pushed> push(const Session& session, bool keepLocks = false);

// What uncommit did.
struct Uncommitted {
    std::size_t commits = 0;  // this clone's commits taken off; 0 when the server holds them all
    std::uint64_t head = 0;   // HEAD's commit afterwards (0: none)
    std::vector<common::StagedFile> staged;  // what they changed, staged now, by path
};

// Turns this clone's commits that the server lacks back into staged changes: HEAD goes back to the
// clone's base, and what the commits changed against it is staged, beside what was staged
// already. Working files stay as they are.
RVKCLIENT_API Expected<Uncommitted> uncommit(const Session& session,
                                             const PullEvents& events = {});

// A drawing lock on the server.
struct DrawingLock {
    OdString path;       // from the root, with the system's separator
    std::string holder;  // the role that holds it
    std::string taken;   // when, UTC, ISO 8601
};

// What lock or unlock did with one path.
struct LockOutcome {
    OdString path;
    bool done = false;  // locked for this role, or released
    // When not done: the lock that stands in the way (its holder empty when there was none).
    DrawingLock held;
};

// Locks the files at `paths` (typed, from Session::folder) for the role of the connection, each
// on its own; a file another role holds stays theirs. Fails for a folder, or a path the server
// cannot hold (inside ".rvk", too long), changing nothing.
RVKCLIENT_API Expected<std::vector<LockOutcome>> lock(const Session& session,
                                                      const std::vector<OdString>& paths);
// Releases this role's locks on `paths`, or with `force` any role's (members of rvk_admin only).
RVKCLIENT_API Expected<std::vector<LockOutcome>> unlock(const Session& session,
                                                        const std::vector<OdString>& paths,
                                                        bool force);
// Every lock, by path.
RVKCLIENT_API Expected<std::vector<DrawingLock>> locks(const Session& session);
// The server's lockable rules: the file-name patterns of the files that, besides drawings, are
// read-only in clones until locked, and whose changes a push takes only from the holder of their
// lock. '*' stands for any run of characters but '/', '**' for any run, '?' for one character
// but '/', "[abc]", "[a-z]" and "[!abc]" for one of a set, and '\' takes the next character as
// it is; a rule with a '/' matches whole paths from the root, one without a file name in any
// folder ("*.pdf", "sheets/*.xlsx").
RVKCLIENT_API Expected<std::vector<std::string>> lockableRules(const Session& session);
// Replaces the rules with `rules` (members of rvk_admin only; the server refuses a rule that does
// not compile, changing nothing), and brings the access of this clone's files up to date.
RVKCLIENT_API Expected<void> setLockableRules(const Session& session,
                                              const std::vector<std::string>& rules);

// Status in a clone: as status() lists, each entry with the lock on its file, and the files this
// role has locked that status would not list, with the code "L", in the order of the paths. The
// locks are asked of the remote's server before the listing, giving up after `seconds` in all;
// a server that cannot be asked leaves them out, with a note to the Reporter. Without a remote,
// status() itself.
RVKCLIENT_API Expected<void> statusWithLocks(const Session& session, int seconds,
                                             const std::function<void(const StatusEntry&)>& each);

// The locks that roles other than that of `conninfo` hold, giving up after `seconds` in all
// (connecting included): what a host shows beside status without making it wait.
RVKCLIENT_API Expected<std::vector<DrawingLock>> locksOfOthers(const std::string& conninfo,
                                                               Reporter& reporter, int seconds);

// A label on the server: a name for a commit an office issued ("Rev B, issued for tender").
struct Label {
    std::string name;  // UTF-8
    std::uint64_t commit = 0;
    std::string author;  // the role that made it, or that moved it last
    std::string made;    // when, UTC, ISO 8601
};

// What label() did.
struct LabelOutcome {
    // The label was made now; false when one of that name was there already, which stays as it
    // is, on its commit (`label` says which and whose).
    bool made = false;
    std::uint64_t wanted = 0;  // the commit it was to be made on
    Label label;
};

// Why `name` (UTF-8) cannot name a label, as the server would say it: empty, longer than 100
// characters, a control character, a quotation mark (" ' `), a space at either end, or digits
// alone (which name a commit, so that a word that names either is never ambiguous). None when it
// can.
RVKCLIENT_API boost::optional<std::string> labelNameProblem(const std::string& name);

// Makes the label `name` on `commit` (HEAD's when none) on the server, for the role of the
// connection (writers and members of rvk_admin). The commit must be on the server: one of this
// clone's own that was not pushed yet is refused ("push it first"). A name that exists already
// stays where it is: only members of rvk_admin move it (moveLabel).
RVKCLIENT_API Expected<LabelOutcome> label(const Session& session, const std::string& name,
                                           boost::optional<std::uint64_t> commit);
// Moves the label `name` to `commit`, or with none removes it; members of rvk_admin only, which
// the server decides. False when there was no such label.
RVKCLIENT_API Expected<bool> moveLabel(const Session& session, const std::string& name,
                                       boost::optional<std::uint64_t> commit);
// Every label, ordered by commit, then by the bytes of the name.
RVKCLIENT_API Expected<std::vector<Label>> labels(const Session& session);
// The commit the label `name` names on the server, once it is found in this clone too (else
// "pull first"): what restore and export take for a label.
RVKCLIENT_API Expected<std::uint64_t> labelCommit(const Session& session, const std::string& name);

}  // namespace client
