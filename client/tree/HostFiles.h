// The host's own file calls: the few that rvk makes beside the library's platform layer, to copy
// files in and out of its stores, to look at a tracked file without following a link, and to map
// its stat cache. One source per system implements them (HostFiles_posix.cpp,
// HostFiles_windows.cpp); the rest of the host makes no system call of its own.
//
// Paths are UTF-8 on both systems; on Windows "/" and "\" both separate folders. A call that fails
// leaves errno telling why (on Windows, the nearest errno to the system's error), so that messages
// read alike everywhere: ENOENT for nothing there, ELOOP for a link where none may be, EXDEV for a
// rename between two file systems.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include <boost/optional.hpp>

namespace client {

// The characters that separate folders in a path: "/", and on Windows "\\" too.
extern const char kHostSeparators[];

// `path` with "/" for every separator of folders: the form in which patterns are matched and
// names checked, alike on every system.
std::string slashed(std::string path);

// True where folders take names as Windows does: no device names, no trailing dot or space, and
// letter case ignored (WindowsNames.h).
extern const bool kWindowsNaming;

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
// its separator: on Windows "\\" becomes "/", and a path with no drive ("\\plans") or a
// drive-relative one ("C:plans") is completed as the system completes it.
std::string absolutePath(const std::string& typed, const std::string& folder);
// The absolute path of the folder `path` with every link on it resolved, "/" as its separator;
// false when it cannot be resolved.
bool resolveFolder(const std::string& path, std::string& resolved);

// The text of errno, for messages.
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
    // A new file in `folder` whose name begins with `prefix` and is unique there, opened for
    // writing; its path goes to `path`. A closed file when none can be made.
    static HostFile createIn(const std::string& folder, const char* prefix, std::string& path);

    bool isOpen() const { return m_handle != kClosed; }
    // What the open file is, and its FileStat.
    PathKind kind(FileStat& stat) const;
    // Reads up to `size` bytes: how many were read, 0 at the end, -1 on failure. Goes on after an
    // interrupted read.
    std::ptrdiff_t read(char* buffer, std::size_t size);
    // Writes all `size` bytes, going on after interrupted and short writes; false on failure.
    bool writeAll(const char* data, std::size_t size);
    // Makes the file read-only (stored copies, so that nobody edits history by accident) or as
    // writable as a new file of the user's is, gives it the modification time `modifiedNs` when
    // one is given, and closes it. Windows has no call that flushes a whole file system, so there
    // each file is flushed to disk here before it is closed; see flushFileSystem(). False when any
    // of it fails.
    bool finish(bool readOnly, boost::optional<std::int64_t> modifiedNs);
    // Closes now, so that a failure of close (a delayed write error) can be seen.
    bool close();

private:
    static constexpr std::intptr_t kClosed = -1;
    explicit HostFile(std::intptr_t handle) : m_handle(handle) {}
    std::intptr_t m_handle = kClosed;
};

// Renames the file `from` to `to`, replacing what is there (a read-only file too), atomically.
// Fails with EXDEV, leaving both as they were, when the two lie on different file systems.
bool replaceFile(const std::string& from, const std::string& to);
// Removes the file at `path`, a read-only one too; true also when nothing was there.
bool removeFile(const std::string& path);
// Makes the folder `path` and the folders above it that are missing; true when it is there.
bool makeFolders(const std::string& path);
// Removes the folder `path` when it is empty; false, with errno set, when it cannot.
bool removeEmptyFolder(const std::string& path);
// Why this system could never hold a file at the absolute `path` (UTF-8): a name or the whole
// path longer than it takes. Empty when it could.
std::string lengthProblem(const std::string& path);
// Makes the folder `path`, whose parent is there; false, with errno set, when it cannot.
bool makeFolder(const std::string& path);
// Makes the folder `path` the current folder.
bool enterFolder(const std::string& path);
// Gives the file at `path` the modification time `modifiedNs`.
bool setModifiedTime(const std::string& path, std::int64_t modifiedNs);
// Flushes to disk everything written to the file system that holds `folder`: contents, times and
// renames. On Windows finish() flushed each file and every rename was written through, so there is
// nothing left to do.
bool flushFileSystem(const std::string& folder);

// The whole of a file, mapped read-only into memory until this goes out of scope.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}
    MappedFile& operator=(MappedFile&& other) noexcept {
        if (this != &other) {
            MappedFile gone(std::move(*this));  // lets go of what this held
            m_data = std::exchange(other.m_data, nullptr);
            m_size = std::exchange(other.m_size, 0);
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
};

}  // namespace client
