#include <client/tree/HostFiles.h>

#include <client/Text.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include <client/tree/PosixStat.h>

namespace client {

namespace {

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

PathKind kindOf(mode_t mode) {
    if (S_ISREG(mode))
        return PathKind::file;
    if (S_ISDIR(mode))
        return PathKind::folder;
    if (S_ISLNK(mode))
        return PathKind::link;
    return PathKind::other;
}

FileStat fileStatOf(const struct stat& info) {
    FileStat out;
    out.size = static_cast<std::int64_t>(info.st_size);
    out.modifiedNs = nanoseconds(info.st_mtim);
    out.inode = info.st_ino;
    out.changedNs = nanoseconds(info.st_ctim);
    return out;
}

int fdOf(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// New files of the user's are as writable as the umask lets them be.
mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

const char kHostSeparators[] = "/";
const bool kWindowsNaming = false;

std::string slashed(std::string path) {
    return path;
}

bool statFileAt(int folder, const char* path, FileStat& out) {
    struct stat info {};
    if (::fstatat(folder, path, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
        return false;
    out = fileStatOf(info);
    return true;
}

PathKind lookAtIn(int folder, const char* path) {
    struct stat info {};
    if (::fstatat(folder, path, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return PathKind::none;
    return kindOf(info.st_mode);
}

PathKind lookAt(const std::string& path, FileStat* stat) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return PathKind::none;
    if (stat != nullptr)
        *stat = fileStatOf(info);
    return kindOf(info.st_mode);
}

bool statFile(const std::string& path, FileStat& out) {
    return statFileAt(AT_FDCWD, path.c_str(), out);
}

bool currentFolderPath(std::string& path) {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return false;
        buffer.resize(buffer.size() * 2);
    }
    path = buffer.data();
    return true;
}

std::string absolutePath(const std::string& typed, const std::string& folder) {
    return typed.rfind('/', 0) == 0 ? typed : folder + "/" + typed;
}

bool resolveFolder(const std::string& path, std::string& resolved) {
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr)
        return false;
    resolved = buffer;
    return true;
}

std::string lastSystemError() {
    return std::strerror(errno);
}

HostFile::~HostFile() {
    if (isOpen())
        ::close(fdOf(m_handle));
}

HostFile HostFile::openForReading(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    return fd >= 0 ? HostFile(fd) : HostFile();
}

HostFile HostFile::createIn(const std::string& folder, const char* prefix, std::string& path) {
    path = folder + "/" + prefix + "XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    return fd >= 0 ? HostFile(fd) : HostFile();
}

PathKind HostFile::kind(FileStat& stat) const {
    struct stat info {};
    if (::fstat(fdOf(m_handle), &info) != 0)
        return PathKind::none;
    stat = fileStatOf(info);
    return kindOf(info.st_mode);
}

std::ptrdiff_t HostFile::read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fdOf(m_handle), buffer, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

bool HostFile::writeAll(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fdOf(m_handle), data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool HostFile::finish(bool readOnly, boost::optional<std::int64_t> modifiedNs) {
    const int fd = fdOf(m_handle);
    bool done = ::fchmod(fd, readOnly ? 0444 : newFileMode()) == 0;
    if (done && modifiedNs) {
        const timespec times[2] = {{0, UTIME_OMIT}, timespecOf(*modifiedNs)};
        done = ::futimens(fd, times) == 0;
    }
    const int error = errno;
    const bool closed = close();
    if (!done)
        errno = error;
    return done && closed;
}

bool HostFile::close() {
    const int fd = fdOf(std::exchange(m_handle, kClosed));
    return ::close(fd) == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool removeEmptyFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0;
}

std::string lengthProblem(const std::string& path) {
    // Every call here takes the whole path, so the system's limit on one argument is the limit.
    if (path.size() >= PATH_MAX)
        return "its path is longer than the " + std::to_string(PATH_MAX - 1) +
               " bytes this system takes";
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end - start > NAME_MAX)
            return "a name in it is longer than the " + std::to_string(NAME_MAX) +
                   " bytes this system takes";
        start = end + 1;
    }
    return {};
}

bool makeFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (ec)
        errno = ec.value();
    return !ec;
}

bool makeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool enterFolder(const std::string& path) {
    return ::chdir(path.c_str()) == 0;
}

bool setModifiedTime(const std::string& path, std::int64_t modifiedNs) {
    const timespec times[2] = {{0, UTIME_OMIT}, timespecOf(modifiedNs)};
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool flushFileSystem(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool flushed = ::syncfs(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return flushed;
}

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

MappedFile::~MappedFile() {
    if (m_data != nullptr)
        ::munmap(const_cast<char*>(m_data), m_size);
}

MappedFile MappedFile::map(const std::string& path, FileStat& stat) {
    MappedFile mapped;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return mapped;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        stat = fileStatOf(info);
        // Read ahead: no page of ours to fill later, one fault at a time.
        void* addr = ::mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ,
                            MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (addr != MAP_FAILED) {
            mapped.m_data = static_cast<const char*>(addr);
            mapped.m_size = static_cast<std::size_t>(info.st_size);
        }
    }
    ::close(fd);
    return mapped;
}

}  // namespace client
