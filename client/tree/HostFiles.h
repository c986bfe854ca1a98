// The host kit's file calls: the few that it makes beside the library, to copy files in and out of
// its stores, to look at a tracked file without following a link, and to map its stat cache. They
// are made of the platform's primitives (<platform/SystemFiles.h>), which alone call the system,
// so this kit has one source for every system (HostFiles.cpp).
//
// Paths are UTF-8 on both systems; on Windows "/" and "\" both separate folders. A call that fails
// leaves errno telling why (on Windows, the nearest errno to the system's error), so that messages
// read alike everywhere: ENOENT for nothing there, ELOOP for a link where none may be, EXDEV for a
// rename between two file systems, EBUSY for a file that another program holds open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include <boost/optional.hpp>

#include <platform/SystemFiles.h>

namespace client {

// How the folders of a system take names: the rules that the kit's checks of paths follow. The
// kit is given the rules of the system it runs on (hostNaming()); both sets are plain values, so
// that either can be checked anywhere.
struct Naming {
    // The characters that separate folders in a path: "/", and on Windows "\\" too.
    const char* separators;
    // Folders take names as Windows does: no device names, no trailing dot or space, letter case
    // ignored (WindowsNames.h), and a name of dots and spaces alone resolves to "." or "..".
    bool windowsNames;
    // The longest path and name the system takes, counted in `units`.
    std::size_t longestPath;
    std::size_t longestName;
    // True when lengths count UTF-16 units (Windows), false when they count bytes.
    bool utf16;

    static const Naming posix;
    static const Naming windows;
};

// The rules of the system this kit runs on.
const Naming& hostNaming();

// The separators of the host's rules (hostNaming().separators).
extern const char* const kHostSeparators;

// `path` with "/" for every separator of folders: the form in which patterns are matched and
// names checked, alike on every system.
std::string slashed(std::string path, const Naming& naming = hostNaming());

// What lstat() says about a file, as far as the stat cache compares it. Windows keeps no inode
// number and no change time that a look by name gives: there `inode` is 0 and `changedNs` is the
// creation time, which a copy over the file (a restore, an editor's save by rename) renews.
struct FileStat {
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;  // nanoseconds since 1970, as ut::DateTime counts
    std::uint64_t inode = 0;
    std::int64_t changedNs = 0;

    friend bool operator==(const FileStat& a, const FileStat& b) {
        return a.size == b.size && a.modifiedNs == b.modifiedNs && a.inode == b.inode &&
               a.changedNs == b.changedNs;
    }
    friend bool operator!=(const FileStat& a, const FileStat& b) { return !(a == b); }
};

// What is at a path. A symbolic link (on Windows any reparse point: a link or a junction) is a
// link, never what it leads to.
enum class PathKind : unsigned char { none, file, folder, link, other };

// What is at `path`, looked at without following a link at its end, and its FileStat when `stat`
// is given. none, with errno set, when nothing is there or it cannot be looked at.
PathKind lookAt(const std::string& path, FileStat* stat = nullptr);

// The FileStat of the regular file at `path`; false when no regular file is there.
bool statFile(const std::string& path, FileStat& out);

// The current folder, absolute; false with errno set when it cannot be found.
bool currentFolderPath(std::string& path);
// `typed`, a path a user typed, made absolute from the folder `folder` (absolute), with "/" as
// its separator: under Windows rules "\\" becomes "/", and a path with no drive ("\\plans") or a
// drive-relative one ("C:plans") is completed as the system completes it.
std::string absolutePath(const std::string& typed, const std::string& folder,
                         const Naming& naming = hostNaming());
// The absolute path of the folder `path` with every link on it resolved, "/" as its separator;
// false when it cannot be resolved.
bool resolveFolder(const std::string& path, std::string& resolved);

// The text of errno, for messages (ut::sys::errorText()).
std::string lastSystemError();

// An open file, closed when it goes out of scope.
class HostFile {
public:
    HostFile() = default;
    ~HostFile();
    HostFile(HostFile&& other) noexcept : m_handle(std::exchange(other.m_handle, kClosed)) {}
    HostFile& operator=(HostFile&& other) noexcept {
        if (this != &other) {
            HostFile gone(std::move(*this));  // closes what this held
            m_handle = std::exchange(other.m_handle, kClosed);
        }
        return *this;
    }
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;

    // The file at `path`, opened for reading, never through a link: a link gives a closed file
    // with errno ELOOP. Others may replace or remove the file while it is open.
    static HostFile openForReading(const std::string& path);
    bool isOpen() const { return m_handle != kClosed; }
    // What the open file is, and its FileStat.
    PathKind kind(FileStat& stat) const;
    // Reads up to `size` bytes: how many were read, 0 at the end, -1 on failure. Goes on after an
    // interrupted read.
    std::ptrdiff_t read(char* buffer, std::size_t size);
    // Closes now, so that a failure of close (a delayed write error) can be seen.
    bool close();

private:
    friend class MappedFile;
    static constexpr std::intptr_t kClosed = ut::sys::kNoHandle;
    explicit HostFile(std::intptr_t handle) : m_handle(handle) {}
    std::intptr_t m_handle = kClosed;
};

// Makes the temporary copy `file` read-only (stored copies, so that nobody edits history by
// accident) or as writable as a new file of the user's is, gives it the modification time
// `modifiedNs` when one is given, and closes it, to be placed later. Windows has no call that
// flushes a whole file system, so there each file is flushed to disk here before it is closed;
// see flushFileSystem(). False when any of it fails (the file is removed then).
bool finishCopy(ut::sys::TemporaryFile& file, bool readOnly,
                boost::optional<std::int64_t> modifiedNs);
// Renames the finished copy `temp` over `target`, whose folder is there; on failure `temp` is
// removed and errno tells why.
bool placeCopy(const std::string& temp, const std::string& target);

// Renames the file `from` to `to`, replacing what is there (a read-only file too), atomically.
// Fails with EXDEV, leaving both as they were, when the two lie on different file systems.
bool replaceFile(const std::string& from, const std::string& to);
// Removes the file at `path`, a read-only one too; true also when nothing was there.
bool removeFile(const std::string& path);
// Makes the folder `path` and the folders above it that are missing; true when it is there.
bool makeFolders(const std::string& path);
// Removes the folder `path` when it is empty; false, with errno set, when it cannot.
bool removeEmptyFolder(const std::string& path);
// Renames the folder `from` to `to`, where nothing is; false, with errno set (EEXIST when
// something is there), leaving both as they were.
bool renameFolder(const std::string& from, const std::string& to);
// Why a system of `naming` could never hold a file at the absolute `path` (UTF-8): a name or the
// whole path longer than it takes. Empty when it could.
std::string lengthProblem(const std::string& path, const Naming& naming = hostNaming());
// Makes the folder `path`, whose parent is there; false, with errno set, when it cannot.
bool makeFolder(const std::string& path);
// Makes the folder `path` the current folder.
bool enterFolder(const std::string& path);
// Gives the file at `path` the modification time `modifiedNs`.
bool setModifiedTime(const std::string& path, std::int64_t modifiedNs);
// Flushes to disk everything written to the file system that holds `folder`: contents, times and
// renames. On Windows finishCopy() flushed each file and every rename was written through, so
// there is nothing left to do.
bool flushFileSystem(const std::string& folder);

// The whole of a file, mapped read-only into memory until this goes out of scope; where the system
// maps no file that others must remain able to replace (Windows), read into memory instead.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)),
          m_size(std::exchange(other.m_size, 0)),
          m_mapped(other.m_mapped) {}
    MappedFile& operator=(MappedFile&& other) noexcept {
        if (this != &other) {
            MappedFile gone(std::move(*this));  // lets go of what this held
            m_data = std::exchange(other.m_data, nullptr);
            m_size = std::exchange(other.m_size, 0);
            m_mapped = other.m_mapped;
        }
        return *this;
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // The regular file at `path`, never through a link, and its FileStat in `stat`; an empty
    // mapping when it cannot be mapped or is empty.
    static MappedFile map(const std::string& path, FileStat& stat);

    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    const char* m_data = nullptr;
    std::size_t m_size = 0;
    bool m_mapped = false;  // else read into memory of its own
};

}  // namespace client
