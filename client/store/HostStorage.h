// The reference host's stores for the copies of tracked files, the FileStorage subclasses the
// library leaves to its host.
//
// DrawingStore keeps a drawing (extension "dwg") in the drawing store under the URL
// "tf:<name>#<revision>", where the revision is the id of the commit that stores it and the name is
// the SHA-256 digest of the drawing's relative path followed by "-<revision>". The path digest
// keeps folder separators and "#" out of the name; the revision in the name gives every revision
// its own stored copy, since the library derives the copy's path from the name alone. Drawings are
// never hashed: they can be large, and their modification time decides whether they changed.
//
// ObjectStore keeps any other file as a content-addressed object under "po<digest>", the SHA-256
// digest of its content; files with equal content share one object.
//
// Where a copy lands is always the library's getStoragePath(). Copies are written to a temporary
// file inside ".rvk" and renamed into place, so a stored copy is either whole or absent. They are
// not flushed to disk one by one, which would make a commit of thousands of files crawl:
// flushStoredCopies() flushes them all at once, and must succeed before a commit names them. A
// stored copy gets the working file's modification time (an object shared by several
// files keeps the latest of theirs), which is what makes isModified() answer false for the file
// right after it was stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <boost/optional.hpp>

#include <common/FileStorage.h>

#include <client/tree/HostFiles.h>

namespace client {

class Database;

// What a store kept of a working file: the URL of the copy, and the size and SHA-256 digest of
// the bytes it holds, which the commit records so that damage to the copy can be found later.
struct KeptCopy {
    OdString url;
    std::int64_t size = 0;
    OdString digest;
};

class DrawingStore final : public common::FileStorage {
public:
    // A store that files drawings under `revision`.
    explicit DrawingStore(std::uint64_t revision) : m_revision(revision) {}

    // Copies the drawing at `relativePath` into the drawing store; its "tf:" URL, or an error
    // naming the file that could not be read or written.
    Expected<OdString> store(const common::RootPath& root, const OdString& relativePath) override;
    // The same, with the size and digest of the copy.
    Expected<KeptCopy> keep(const common::RootPath& root, const OdString& relativePath);
    // Puts the stored copy named by `url` back at `relativePath`, replacing the working file. No
    // digest is known here to check the copy against: restoreFiles() takes one.
    Expected<void> restore(const common::RootPath& root, const OdString& url,
                           const OdString& relativePath) override;
    // Deletes the stored copy named by `url`; a copy that is already gone is no error.
    Expected<void> remove(const common::RootPath& root, const OdString& url) override;
    Type type() const override { return Drawing; }
    // Always fails: combining two drawings needs the CAD application, not this console host.
    Expected<void> doMerge(const common::RootPath& root, const OdString& target,
                           const OdString& source) override;
    std::unique_ptr<FileStorage> clone() const override;

private:
    std::uint64_t m_revision;
};

class ObjectStore final : public common::FileStorage {
public:
    // Copies the file at `relativePath` into the object store unless an object with its content
    // is there already; its "po" URL, or an error naming the file that could not be read or
    // written.
    Expected<OdString> store(const common::RootPath& root, const OdString& relativePath) override;
    // The same, with the size and digest of the copy.
    Expected<KeptCopy> keep(const common::RootPath& root, const OdString& relativePath);
    // Puts the object named by `url` back at `relativePath`, replacing the working file, once its
    // content is found to match the digest in the URL.
    Expected<void> restore(const common::RootPath& root, const OdString& url,
                           const OdString& relativePath) override;
    // Deletes the object named by `url`, which other files of equal content may share; an object
    // that is already gone is no error.
    Expected<void> remove(const common::RootPath& root, const OdString& url) override;
    Type type() const override { return Generic; }
    // Always fails: rvk merges no files of its own; a merge tool of the host's would.
    Expected<void> doMerge(const common::RootPath& root, const OdString& target,
                           const OdString& source) override;
    std::unique_ptr<FileStorage> clone() const override;
};

// One file for restoreFiles(): where it goes, the URL of its copy, the SHA-256 digest that copy
// must have (none when nothing recorded it), and the modification time the file gets: none for the
// copy's own (restored as HEAD has it, so that it counts as unchanged), or the one given, in
// nanoseconds since 1970.
struct Restoring {
    OdString path;
    OdString url;
    boost::optional<OdString> digest;
    boost::optional<std::int64_t> modifiedNs;
};

// Under Windows rules (Naming::windowsNames), an error when the working file `path` could not be
// written under its own name there: a device name, a character Windows refuses, a trailing dot or
// space (WindowsNames.h). Never an error under other rules.
Expected<void> checkWindowsName(const OdString& path, const Naming& naming = hostNaming());

// Puts the stored copies back into the working tree: every copy is first copied into ".rvk" and
// checked against its digest, and only when all are sound are they renamed into place, one by one,
// each atomically. Fails naming the first copy that cannot be read or is damaged, before any file
// is placed; `done` is called for each file once it is in place. A working file that another
// program holds open so that it cannot be replaced (EBUSY: a CAD program holds the drawing it
// shows so) is left whole as it was and the others are placed all the same: the answer lists the
// files so left, by path, empty when every file is in place. Under Windows rules, it first fails
// on a path that checkWindowsName() refuses and on paths that differ only in letter case, which
// would be one file there.
Expected<std::vector<OdString>> restoreFiles(const common::RootPath& root,
                                             const std::vector<Restoring>& files,
                                             const std::function<void(const OdString&)>& done,
                                             const Naming& naming = hostNaming());

// The SHA-256 digest of the file at `path` (UTF-8), read without following a symbolic link;
// an error naming `shown` when it cannot be read.
Expected<OdString> fileDigest(const std::string& path, const std::string& shown);

// The digest that the copy `url` must have: a generic file's URL carries it, a drawing's is the
// one recorded when it was committed (none for copies committed before rvk recorded them).
Expected<boost::optional<OdString>> expectedDigest(Database& db, const OdString& url);

// The digest of the copy `url`: the one it must have, or, where none was recorded, that of the
// stored copy's bytes.
Expected<OdString> copyDigest(Database& db, const common::RootPath& root, const OdString& url);

// Removes the temporary copies in ".rvk" that a store or restore left behind when it was killed.
// Call it only while no other command can be copying: holding the repository lock exclusively, or
// shared, since every command that copies holds it exclusively; held shared, the stat cache's
// temporary copies are spared, since another status may be writing one. Returns the number
// removed.
int removeAbandonedCopies(const common::RootPath& root, bool exclusive);

// Flushes the stored copies of `root` to disk, with everything else written to their file system
// (a restored working file included), so that a commit that names them survives a crash. Fails
// when the file system reports a write error.
Expected<void> flushStoredCopies(const common::RootPath& root);

// The store for the file at `relativePath`, chosen by fileToType(): a DrawingStore filing under
// `revision` for drawings, an ObjectStore for everything else.
std::unique_ptr<common::FileStorage> storageFor(const OdString& relativePath,
                                                std::uint64_t revision);

// Keeps a copy of the file at `relativePath` in the store storageFor() chooses. A symbolic link is
// refused: rvk keeps files, never what a link leads to.
Expected<KeptCopy> keepCopy(const common::RootPath& root, const OdString& relativePath,
                            std::uint64_t revision);

// Makes the stored copy `url` from bytes that arrive from elsewhere (a shared history's server):
// `fill` hands them to the sink it gets. They go into a temporary file in ".rvk", and only when
// they have the SHA-256 digest `sha256` is that renamed to the copy's place (storedCopyPath(), so
// a URL that leads outside ".rvk" is refused before anything is written); a copy that is there
// already is replaced. Not flushed: flushStoredCopies() does that for all. The size and digest,
// or an error naming `shown` (the file the copy is of; the URL when empty).
Expected<KeptCopy> receiveCopy(
    const common::RootPath& root, const OdString& url, const OdString& sha256,
    const std::function<Expected<void>(const std::function<bool(const char*, std::size_t)>&)>&
        fill,
    const std::string& shown = {});

// Keeps the bytes of the stored copy `url`, whose digest is `digest`, as the copy of
// `relativePath` in commit `revision`, as keepCopy() would keep a working file with those bytes:
// a generic file shares the object, a drawing gets a stored copy of its own, checked against
// `digest` (one that is there already with those bytes serves). Flushed by flushStoredCopies().
Expected<KeptCopy> keepStoredCopy(const common::RootPath& root, const OdString& url,
                                  const OdString& digest, const OdString& relativePath,
                                  std::uint64_t revision);

// Copies the drafter's bytes of `relativePath` to the working file `asidePath`, a name where
// nothing is: from the working file, or, when `url` is given, from that stored copy. The bytes
// must have the SHA-256 digest `digest`, or nothing is written. The copy is an ordinary writable
// file, whatever the source's access, and is flushed to disk before this returns.
Expected<void> setAsideCopy(const common::RootPath& root, const OdString& relativePath,
                            const boost::optional<OdString>& url, const OdString& digest,
                            const OdString& asidePath);

// Copies the stored copy `url` to the new file `target` (UTF-8; its folder is there), as writable
// as a new file of the user's and with the modification time `modifiedNs`, checking its bytes
// against `digest` on the way (none: nothing recorded one, and the bytes are taken as they are).
// The copy is made beside `target` and renamed to it only once it is found sound. Its size and
// digest, or an error naming `shown` (the path the copy is of): a damaged copy leaves nothing.
Expected<KeptCopy> exportCopy(const common::RootPath& root, const OdString& url,
                              const boost::optional<OdString>& digest, const std::string& target,
                              const std::string& shown, std::int64_t modifiedNs);

// Reads the stored copy `url` in chunks, handing each to `sink` until it returns false; an error
// naming the URL when the copy cannot be read.
Expected<void> readCopy(const common::RootPath& root, const OdString& url,
                        const std::function<bool(const char*, std::size_t)>& sink);

}  // namespace client
