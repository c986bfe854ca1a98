// The primitives of SystemFiles.h on a POSIX system, each behind the fault seam.
#include <platform/SystemFiles.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include <platform/internal/FaultSeam.h>

namespace ut::sys {

namespace {

int fdOf(Handle file) {
    return static_cast<int>(file);
}

std::int64_t nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

timespec timespecOf(std::int64_t ns) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(ns / 1000000000);
    t.tv_nsec = static_cast<long>(ns % 1000000000);
    if (t.tv_nsec < 0) {
        t.tv_nsec += 1000000000;
        --t.tv_sec;
    }
    return t;
}

Kind kindOf(mode_t mode) {
    if (S_ISREG(mode))
        return Kind::file;
    if (S_ISDIR(mode))
        return Kind::folder;
    if (S_ISLNK(mode))
        return Kind::link;
    return Kind::other;
}

Info infoOf(const struct stat& st) {
    Info info;
    info.kind = kindOf(st.st_mode);
    info.size = static_cast<std::int64_t>(st.st_size);
    info.accessedNs = nanoseconds(st.st_atim);
    info.modifiedNs = nanoseconds(st.st_mtim);
    info.changedNs = nanoseconds(st.st_ctim);
    info.inode = st.st_ino;
    return info;
}

// `call`'s answer, the call made again while a signal interrupts it.
template <class SystemCall>
auto retried(SystemCall&& call) {
    for (;;) {
        const auto answer = call();
        if (answer >= 0 || errno != EINTR)
            return answer;
    }
}

// New files of the user's are as writable as the umask lets them be.
mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

Path::Path(const OdString& path) : m_text(path.ansi_str(), path.ansiLength()) {}

Path Path::fromUtf8(std::string_view utf8) {
    Path path;
    path.m_text.assign(utf8.data(), utf8.size());
    return path;
}

OdString nameOf(const PathUnit* name, std::size_t length) {
    return OdString(name, length, kCodePageUtf8);
}

Handle openForReading(const Path& path, Follow follow) {
    if (shouldFail(Call::kOpen))
        return kNoHandle;
    // Non-blocking, so a FIFO in a file's place reads as empty instead of waiting for a writer;
    // regular files ignore the flag.
    const int flags =
        O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (follow == Follow::no ? O_NOFOLLOW : 0);
    const int fd = retried([&] { return ::open(path.c_str(), flags); });
    // Tell the kernel the file is read once from start to end, which doubles its read-ahead.
    if (fd >= 0)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

Handle createNew(const Path& path) {
    if (shouldFail(Call::kOpen))
        return kNoHandle;
    // 0666 before the umask, as for any file the user creates.
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
}

std::ptrdiff_t read(Handle file, void* buffer, std::size_t size) {
    if (shouldFail(Call::kRead))
        return -1;
    return retried([&] { return ::read(fdOf(file), buffer, size); });
}

std::ptrdiff_t write(Handle file, const void* data, std::size_t size) {
    if (shouldFail(Call::kWrite))
        return -1;
    return retried([&] { return ::write(fdOf(file), data, size); });
}

bool flush(Handle file) {
    return !shouldFail(Call::kFlush) && ::fsync(fdOf(file)) == 0;
}

bool close(Handle file) {
    // A failing close still releases the descriptor, as the kernel's does.
    if (shouldFail(Call::kClose)) {
        const int error = errno;
        ::close(fdOf(file));
        errno = error;
        return false;
    }
    return ::close(fdOf(file)) == 0;
}

Info lookAt(Handle file) {
    struct stat st {};
    if (shouldFail(Call::kLookAt) || ::fstat(fdOf(file), &st) != 0)
        return Info();
    return infoOf(st);
}

Info lookAt(const Path& path, Follow follow) {
    struct stat st {};
    if (shouldFail(Call::kLookAt))
        return Info();
    const int rc = follow == Follow::yes ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    return rc == 0 ? infoOf(st) : Info();
}

bool copyAccess(Handle file, const Path& like) {
    struct stat st {};
    if (shouldFail(Call::kAccess) || ::stat(like.c_str(), &st) != 0)
        return false;
    return ::fchmod(fdOf(file), st.st_mode & 07777) == 0;
}

bool setAccess(Handle file, bool readOnly, const std::int64_t* modifiedNs) {
    if (shouldFail(Call::kAccess) || ::fchmod(fdOf(file), readOnly ? 0444 : newFileMode()) != 0)
        return false;
    if (modifiedNs == nullptr)
        return true;
    const timespec times[2] = {{0, UTIME_OMIT}, timespecOf(*modifiedNs)};
    return ::futimens(fdOf(file), times) == 0;
}

bool setReadOnly(const Path& path, bool readOnly) {
    if (shouldFail(Call::kAccess))
        return false;
    // Opened, not named, for the change: a link put in the file's place meanwhile is refused
    // rather than followed.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool done = ::fstat(fd, &st) == 0;
    if (done) {
        const mode_t now = st.st_mode & 07777;
        const mode_t wanted = readOnly ? now & ~mode_t{0222} : now | (newFileMode() & 0222) | 0200;
        done = wanted == now || ::fchmod(fd, wanted) == 0;
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return done;
}

bool setModifiedTime(const Path& path, std::int64_t modifiedNs) {
    const timespec times[2] = {{0, UTIME_OMIT}, timespecOf(modifiedNs)};
    return !shouldFail(Call::kAccess) &&
           ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool replace(const Path& from, const Path& to) {
    return !shouldFail(Call::kRename, to) && ::rename(from.c_str(), to.c_str()) == 0;
}

bool remove(const Path& path) {
    return !shouldFail(Call::kRemove, path) && ::unlink(path.c_str()) == 0;
}

bool renameFolder(const Path& from, const Path& to) {
    if (shouldFail(Call::kRename))
        return false;
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    // A file system without the flag answers EINVAL: there the look below has to do.
    if (errno != EINVAL)
        return false;
#endif
    // rename() would replace an empty folder at `to`; one made between this look and the rename
    // is the one case it cannot tell.
    struct stat there;
    if (::lstat(to.c_str(), &there) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool makeFolder(const Path& path) {
    return !shouldFail(Call::kMkdir) && ::mkdir(path.c_str(), 0777) == 0;
}

bool removeFolder(const Path& path) {
    return !shouldFail(Call::kRemove) && ::rmdir(path.c_str()) == 0;
}

namespace {

// Room for a few hundred entries per system call. On the stack rather than in the heap: opendir()
// allocates a 32 KiB buffer for every folder, which a walk of thousands of folders pays for again
// and again.
constexpr std::size_t kListingBuffer = 16384;

// The entry's kind, asking the file system only when the listing could not tell.
Kind kindOf(int folder, const dirent64& entry) {
    switch (entry.d_type) {
        case DT_REG:
            return Kind::file;
        case DT_DIR:
            return Kind::folder;
        case DT_LNK:
            return Kind::link;
        case DT_UNKNOWN: {
            struct stat st {};
            if (::fstatat(folder, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return Kind::none;
            return kindOf(st.st_mode);
        }
        default:
            return Kind::other;
    }
}

}  // namespace

bool listFolder(const Path& path, ListVisitor visit, void* context) {
    if (shouldFail(Call::kList))
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    alignas(dirent64) char buffer[kListingBuffer];
    ssize_t filled;
    while ((filled = ::getdents64(fd, buffer, sizeof buffer)) > 0) {
        for (ssize_t offset = 0; offset < filled;) {
            const auto& entry = *reinterpret_cast<const dirent64*>(buffer + offset);
            offset += entry.d_reclen;
            const char* const name = entry.d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            visit(context, name, std::char_traits<char>::length(name), kindOf(fd, entry));
        }
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return filled == 0;
}

namespace {

// Opens the folder `path` and flushes it with `flushOpen`, keeping its errno.
bool flushThrough(const Path& path, int (*flushOpen)(int)) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool flushed = !shouldFail(Call::kFlush) && flushOpen(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return flushed;
}

}  // namespace

bool flushFolder(const Path& path) {
    return flushThrough(path, ::fsync);
}

bool flushFileSystem(const Path& path) {
    return flushThrough(path, ::syncfs);
}

bool flushUnlessFileSystemIs(Handle) {
    return true;  // flushFileSystem() takes it with everything else
}

bool currentFolder(OdString& path) {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return false;
        buffer.resize(buffer.size() * 2);
    }
    path = OdString(buffer.data(), kCodePageUtf8);
    return true;
}

bool enterFolder(const Path& path) {
    return ::chdir(path.c_str()) == 0;
}

bool resolveFolder(const Path& path, OdString& resolved) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr)
        return false;
    resolved = OdString(buffer, kCodePageUtf8);
    return true;
}

bool fullPath(const OdString& path, OdString& full) {
    if (!path.isEmpty() && path[0] == L'/') {
        full = path;
        return true;
    }
    if (!currentFolder(full))
        return false;
    full += L"/";
    full += path;
    return true;
}

const char* map(Handle file, std::size_t size) {
    if (size == 0)
        return nullptr;
    // Read ahead: no page of ours to fill later, one fault at a time.
    void* addr = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fdOf(file), 0);
    return addr == MAP_FAILED ? nullptr : static_cast<const char*>(addr);
}

void unmap(const char* data, std::size_t size) {
    ::munmap(const_cast<char*>(data), size);
}

bool errorStreamIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

unsigned long processId() {
    return static_cast<unsigned long>(::getpid());
}

int errnoOfSystemError(unsigned long code) {
    return static_cast<int>(code);
}

}  // namespace ut::sys
