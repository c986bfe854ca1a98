// What TextFile asks of a POSIX system: whether a file is there, folders for a new one, and the
// atomic replacement of a file's content.
#include <platform/TextFile.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <platform/internal/WriteCalls_posix.h>

namespace ut {

namespace {

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = sys::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Splits a narrow path into its folder ("." when there is none) and its last component.
void splitPath(const std::string& path, std::string& folder, std::string& name) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        name = path;
    } else {
        folder = slash == 0 ? "/" : path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

// The temporary file of an atomic write of `name` is "." + name + kTempInfix + "<pid>-<hex>".
constexpr const char kTempInfix[] = ".tmp-";

// Creates a new hidden temporary file next to the target; -1 when the folder does not allow it.
int createTemporary(const std::string& folder, const std::string& name, std::string& tempPath) {
    const auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, "%s%d-%llx", kTempInfix, static_cast<int>(::getpid()),
                      seed + attempt * 7919ULL);
        tempPath = (folder == "/" ? std::string() : folder) + "/." + name + suffix;
        // 0666 before the umask, as for any file the user creates.
        const int fd = sys::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

}  // namespace

bool writeFileAtomically(const OdString& path, const char* bytes, std::size_t size) {
    const std::string target = path.ansi_str();
    if (target.empty())
        return false;
    std::string folder, name, tempPath;
    splitPath(target, folder, name);
    if (name.empty())
        return false;

    const int fd = createTemporary(folder, name, tempPath);
    if (fd < 0)
        return false;

    // Keep the permissions of the file being replaced.
    struct stat old;
    if (::stat(target.c_str(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);

    bool ok = writeAll(fd, bytes, size) && sys::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (sys::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && sys::rename(tempPath.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(tempPath.c_str());
        errno = error;  // the caller may tell the user why
        return false;
    }
    // Make the rename itself durable; the new content is in place whatever this answers.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

int removeAbandonedTemporaries(const OdString& path) {
    std::string folder, name;
    splitPath(path.ansi_str(), folder, name);
    if (name.empty())
        return 0;
    const std::string prefix = "." + name + kTempInfix;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0 &&
            ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

bool TextFile::exists() const {
    struct stat st;
    return !m_path.isEmpty() && ::stat(m_path.ansi_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool TextFile::create() {
    m_lines.clear();
    m_next = 0;
    // Make the folders a new file needs; one that exists already is fine.
    const std::string path = m_path.ansi_str();
    for (auto slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        sys::mkdir(path.substr(0, slash).c_str(), 0777);
    }
    return !exists();
}

}  // namespace ut
