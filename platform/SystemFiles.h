// ut::sys: the file-system calls of the platform layer, the one place where the library and the
// host kit reach the system.
//
// Each system implements only the primitives below (SystemFiles_posix.cpp,
// SystemFiles_windows.cpp): open, read, write, flush, close, look at a file, replace one by
// renaming, remove one, make and remove a folder, list a folder. What is made of them, the atomic
// replacement of a file, the temporary files it and the host's copies use, the removal of those
// that a killed writer left, and the making of missing parent folders, is written once, above them
// (SystemFiles.cpp), for every system.
//
// Why here, and installed: the platform library stands for the host's SDK, which a real host
// loads once and shares between its plug-ins, and it is already what both the library and the
// host kit link. The kit is built on the library's installed headers only, so the calls it shares
// with the platform have to be an installed header of the platform's; putting them there keeps
// every system call of the project in platform/, and the kit free of per-system sources for its
// files. The file utilities of ut:: (File, TextFile, Dir, FileName) are built on these calls.
//
// Paths: the calls take a sys::Path, made from an OdString or from UTF-8 text: the path as the
// system wants it (on Windows UTF-16, "/" turned into "\", and in the "\\?\" form when long, so
// that no length limit applies). Errors: a call that fails returns false (or kNoHandle, or a Kind
// of none) and leaves errno telling why; on Windows the nearest errno to the system's error, the
// same on every call (errnoOfSystemError()), so that messages read alike everywhere: ENOENT for
// nothing there, ELOOP for a link where none may be, EXDEV for a rename between file systems, EBUSY
// for a file that another program holds open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <platform/Export.h>
#include <platform/OdString.h>

namespace ut::sys {

// A unit of a path as the system's calls take it: bytes on POSIX, UTF-16 units on Windows.
#if defined(_WIN32)
using PathUnit = wchar_t;
#else
using PathUnit = char;
#endif

class RVKPLATFORM_EXPORT Path {
public:
    Path(const OdString& path);  // NOLINT(google-explicit-constructor): every ut:: path converts
    // The path given as UTF-8 text (the host kit's form).
    static Path fromUtf8(std::string_view utf8);

    const PathUnit* c_str() const { return m_text.c_str(); }
    const std::basic_string<PathUnit>& text() const { return m_text; }

private:
    Path() = default;
    std::basic_string<PathUnit> m_text;
};

// An open file: a descriptor, or a handle on Windows.
using Handle = std::intptr_t;
constexpr Handle kNoHandle = -1;

// What is at a path. A symbolic link (on Windows any reparse point: a link or a junction) is a
// link, never what it leads to, unless the look follows links.
enum class Kind : unsigned char { none, file, folder, link, other };

// What a look at a file finds. Windows keeps no inode number and no change time that a look by
// name gives: there `inode` is 0 and `changedNs` is the creation time. Times are nanoseconds since
// 1970, as ut::DateTime counts them.
struct Info {
    Kind kind = Kind::none;
    std::int64_t size = 0;
    std::int64_t accessedNs = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    std::uint64_t inode = 0;
};

enum class Follow : bool { no, yes };

// --- the primitives, one implementation per system ----------------------------------------------

// Opens the file at `path` for reading, once from start to end. Others may write, rename and
// remove it meanwhile (on Windows it is shared for deletion, so an atomic write can replace it). A
// FIFO in its place opens without waiting for a writer. With Follow::no a link at `path` is not
// opened: kNoHandle with ELOOP. A folder opens too; lookAt(Handle) tells.
RVKPLATFORM_EXPORT Handle openForReading(const Path& path, Follow follow);
// Creates the file `path`, which must not exist (EEXIST otherwise), and opens it for writing and
// reading; as writable as the user's new files are, until setAccess() says otherwise.
RVKPLATFORM_EXPORT Handle createNew(const Path& path);
// Reads up to `size` bytes: how many were read, 0 at the end, -1 on failure. An interrupted
// read is made again.
RVKPLATFORM_EXPORT std::ptrdiff_t read(Handle file, void* buffer, std::size_t size);
// Writes up to `size` bytes: how many were written, -1 on failure.
RVKPLATFORM_EXPORT std::ptrdiff_t write(Handle file, const void* data, std::size_t size);
// Flushes the file's content and metadata to disk.
RVKPLATFORM_EXPORT bool flush(Handle file);
// Closes the file; the handle is released even when this fails (a delayed write error).
RVKPLATFORM_EXPORT bool close(Handle file);
// What the open file is, with its Info; kind none on failure.
RVKPLATFORM_EXPORT Info lookAt(Handle file);
// What is at `path`, following a link at its end or not; kind none, with errno set, when nothing
// is there or it cannot be looked at.
RVKPLATFORM_EXPORT Info lookAt(const Path& path, Follow follow);
// Gives the open file `file` the access of `like`'s file (POSIX permission bits; nothing to do on
// Windows), so that a replacement keeps what the replaced file allowed. False when `like` is not
// there.
RVKPLATFORM_EXPORT bool copyAccess(Handle file, const Path& like);
// Makes the open file read-only, or as writable as a new file of the user's is, and gives it the
// modification time `*modifiedNs` unless that is null.
RVKPLATFORM_EXPORT bool setAccess(Handle file, bool readOnly, const std::int64_t* modifiedNs);
// Makes the file at `path` read-only (POSIX: no write bits; Windows: FILE_ATTRIBUTE_READONLY), or
// writable again as a new file of the user's is, leaving the rest of its access as it is. A link
// is never changed nor followed: false with ELOOP. Nothing is written when the file is so already.
RVKPLATFORM_EXPORT bool setReadOnly(const Path& path, bool readOnly);
// Gives the file at `path` (a link itself, never what it leads to) the modification time
// `modifiedNs`.
RVKPLATFORM_EXPORT bool setModifiedTime(const Path& path, std::int64_t modifiedNs);
// Renames the file `from` over `to`, atomically, replacing what is there: a read-only file too,
// and, where the system allows it, a file that others hold open for reading (who keep what they
// opened). On Windows the rename is on disk when this returns. EXDEV, leaving both as they were,
// when they lie on different file systems; EBUSY when another program holds `to` open without
// letting it be replaced.
RVKPLATFORM_EXPORT bool replace(const Path& from, const Path& to);
// Removes the file at `path`, a read-only one too.
RVKPLATFORM_EXPORT bool remove(const Path& path);
// Makes the folder `path`, whose parent is there.
RVKPLATFORM_EXPORT bool makeFolder(const Path& path);
// Removes the folder `path` when it is empty.
RVKPLATFORM_EXPORT bool removeFolder(const Path& path);
// Renames the folder `from` to `to`, where nothing may be: EEXIST (or ENOTEMPTY), leaving both as
// they were, when something is there, an empty folder too. On Windows the rename is on disk when
// this returns.
RVKPLATFORM_EXPORT bool renameFolder(const Path& from, const Path& to);
// Calls `visit` with each name in the folder `path` ("." and ".." left out, hidden names
// included), in the order the system gives them, and what the name is (links never followed;
// Kind::other for what is neither file, folder nor link). `name` is not terminated. False, with
// errno set, when the folder cannot be read.
// nameOf() turns a name into an OdString.
using ListVisitor = void (*)(void* context, const PathUnit* name, std::size_t length, Kind kind);
RVKPLATFORM_EXPORT bool listFolder(const Path& path, ListVisitor visit, void* context);
// A name as the system gives it, as an OdString (exactly: a lone surrogate on Windows, bytes that
// are no UTF-8 on POSIX stay as they are).
RVKPLATFORM_EXPORT OdString nameOf(const PathUnit* name, std::size_t length);
// Makes the renames and creations in the folder `path` durable (POSIX: the folder is flushed;
// Windows wrote them through already).
RVKPLATFORM_EXPORT bool flushFolder(const Path& path);
// Flushes everything written to the file system that holds `path` (POSIX syncfs). Windows has no
// such call: there each file is flushed before its rename, and this does nothing.
RVKPLATFORM_EXPORT bool flushFileSystem(const Path& path);
// Flushes the file to disk where flushFileSystem() cannot reach it later (Windows, where each
// file is flushed on its own before it is renamed); nothing where it can (POSIX).
RVKPLATFORM_EXPORT bool flushUnlessFileSystemIs(Handle file);
// The current folder, absolute; false, with errno set, when it cannot be found.
RVKPLATFORM_EXPORT bool currentFolder(OdString& path);
// Makes the folder `path` the current folder.
RVKPLATFORM_EXPORT bool enterFolder(const Path& path);
// The absolute path of the folder `path` with every link on it resolved; false, with errno set,
// when it cannot be resolved.
RVKPLATFORM_EXPORT bool resolveFolder(const Path& path, OdString& resolved);
// `path` completed as the system completes a path it is given: on Windows "C:plans" from the
// current folder of drive C, which the system keeps apart; elsewhere from the current folder.
RVKPLATFORM_EXPORT bool fullPath(const OdString& path, OdString& full);
// The first `size` bytes of the open file, mapped read-only into memory until unmap(); null when
// the system maps no file that others must remain able to replace (Windows), or cannot.
RVKPLATFORM_EXPORT const char* map(Handle file, std::size_t size);
RVKPLATFORM_EXPORT void unmap(const char* data, std::size_t size);
// Whether the process's standard error goes to a terminal, where a host may draw progress with
// its escapes (on Windows the console is asked to take them).
RVKPLATFORM_EXPORT bool errorStreamIsTerminal();
// The process's id, which tells the temporary files of two writers apart.
RVKPLATFORM_EXPORT unsigned long processId();

// The errno nearest to a system error code: on Windows a GetLastError() value, mapped as every
// call here maps it (ERROR_SHARING_VIOLATION and ERROR_LOCK_VIOLATION are EBUSY: the file is held
// open by another program); on POSIX the code is an errno already.
RVKPLATFORM_EXPORT int errnoOfSystemError(unsigned long code);

// --- what is made of them, alike on every system -------------------------------------------------

// The text of `error` (an errno) for a message to a user. EBUSY, which a file held open by another
// program gives, says so and what to do.
RVKPLATFORM_EXPORT std::string errorText(int error);

// Writes all `size` bytes, going on after short writes; false on failure.
RVKPLATFORM_EXPORT bool writeAll(Handle file, const void* data, std::size_t size);

// Makes the folder `path` and those above it that are missing; true when it is a folder at the
// end (one that a link leads to counts). ENOTDIR when something else is in the way.
RVKPLATFORM_EXPORT bool makeFolders(const OdString& path);

// The folder that holds `path`: everything before its last separator, the root with its separator
// ("/a" is in "/", "C:\\a" in "C:\\"), "." when there is no separator.
RVKPLATFORM_EXPORT OdString folderOf(const OdString& path);

// A new file in `folder` whose name is `prefix` followed by characters that make it unique there,
// open for writing; it is removed when this goes out of scope unless it was placed or kept. The
// file is created on the first call of create().
class RVKPLATFORM_EXPORT TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates it; false, with errno set, when the folder does not allow it.
    bool create(const OdString& folder, const OdString& prefix);
    bool isOpen() const { return m_handle != kNoHandle; }
    Handle handle() const { return m_handle; }
    const OdString& path() const { return m_path; }

    bool writeAll(const void* data, std::size_t size) {
        return sys::writeAll(m_handle, data, size);
    }
    // Closes the file, to be placed later; false (and the file removed) when closing fails.
    bool close();
    // Closes the file when it is open, and renames it over `target`, making the folders above
    // `target` first when `makeParents`. On failure the temporary file is removed and errno tells
    // why.
    bool placeAs(const OdString& target, bool makeParents);
    // Hands the closed file on: it is no longer removed here. Its path.
    OdString keep();

private:
    void discard();

    OdString m_path;
    Handle m_handle = kNoHandle;
};

// Renames the finished temporary file `temp` over `target`, making the folders above `target` first
// when `makeParents`. On failure `temp` is removed and errno tells why.
RVKPLATFORM_EXPORT bool placeFile(const OdString& temp, const OdString& target, bool makeParents);

// The prefix of the temporary files with which the content of `path` is replaced atomically: the
// hidden name "." + its last component + ".tmp-".
RVKPLATFORM_EXPORT OdString temporaryPrefixOf(const OdString& path);

// Replaces the file at `path` with `size` bytes of `bytes`, atomically: they are written to a
// temporary file beside it (temporaryPrefixOf()), flushed to disk, and renamed over it, so a crash
// or a full disk leaves either the old content or the new one, never a torn file. The new file
// keeps the access of the one it replaces. On failure the temporary file is gone again, the old
// content is as it was and errno tells why.
RVKPLATFORM_EXPORT bool writeFileAtomically(const OdString& path, const char* bytes,
                                            std::size_t size);

// Removes the files in `folder` whose names begin with `prefix`, except those that begin with
// `spare` too (when it is not empty): the temporary files that killed writers left. Call it only
// while no one can be writing them. The number removed; a file that cannot be removed is left.
RVKPLATFORM_EXPORT int removeTemporaries(const OdString& folder, const OdString& prefix,
                                         const OdString& spare = OdString());

}  // namespace ut::sys
