#include <platform/Dir.h>

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ut {

namespace {

enum class Kind { kFile, kFolder, kNone };

// The entry's kind, asking the file system only when the listing could not tell.
Kind kindOf(int dirFd, const dirent& entry) {
    switch (entry.d_type) {
        case DT_REG:
            return Kind::kFile;
        case DT_DIR:
            return Kind::kFolder;
        case DT_LNK: {
            // A link counts as a file when it leads to one; links to folders are never entered.
            struct stat st;
            if (fstatat(dirFd, entry.d_name, &st, 0) == 0 && S_ISREG(st.st_mode))
                return Kind::kFile;
            return Kind::kNone;
        }
        case DT_UNKNOWN: {
            struct stat st;
            if (fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return Kind::kNone;
            if (S_ISREG(st.st_mode))
                return Kind::kFile;
            if (S_ISDIR(st.st_mode))
                return Kind::kFolder;
            if (S_ISLNK(st.st_mode) && fstatat(dirFd, entry.d_name, &st, 0) == 0 &&
                S_ISREG(st.st_mode)) {
                return Kind::kFile;
            }
            return Kind::kNone;
        }
        default:
            return Kind::kNone;
    }
}

std::vector<OdString> toStrings(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end());
    std::vector<OdString> out;
    out.reserve(names.size());
    for (const auto& n : names)
        out.emplace_back(n.data(), n.size(), kCodePageUtf8);
    return out;
}

}  // namespace

Dir::Dir(const OdString& path) : m_path(path) {}
Dir::~Dir() = default;

bool Dir::exists(const OdString& path) {
    if (path.isEmpty())
        return false;
    struct stat st;
    return ::stat(path.ansi_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Dir::create(const OdString& path) {
    return !path.isEmpty() && ::mkdir(path.ansi_str(), 0777) == 0;
}

void Dir::readOnce() {
    if (m_read)
        return;
    m_read = true;
    DIR* dir = m_path.isEmpty() ? nullptr : ::opendir(m_path.ansi_str());
    if (!dir)
        return;
    const int fd = ::dirfd(dir);
    std::vector<std::string> files;
    std::vector<std::string> folders;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;  // ".", ".." and hidden names
        switch (kindOf(fd, *entry)) {
            case Kind::kFile:
                files.emplace_back(entry->d_name);
                break;
            case Kind::kFolder:
                folders.emplace_back(entry->d_name);
                break;
            case Kind::kNone:
                break;
        }
    }
    ::closedir(dir);
    m_files = toStrings(files);
    m_folders = toStrings(folders);
}

bool Dir::getFirst(OdString* name, const OdString& filespec, int flags) {
    readOnce();
    m_current = (flags & kFiles) ? &m_files : (flags & kFolders) ? &m_folders : nullptr;
    m_next = 0;
    m_filespec = filespec.isEmpty() ? std::string() : std::string(filespec.ansi_str());
    return getNext(name);
}

bool Dir::getNext(OdString* name) {
    if (m_current) {
        while (m_next < m_current->size()) {
            const OdString& candidate = (*m_current)[m_next++];
            if (m_filespec.empty() ||
                ::fnmatch(m_filespec.c_str(), candidate.ansi_str(), FNM_PERIOD) == 0) {
                if (name)
                    *name = candidate;
                return true;
            }
        }
    }
    if (name)
        *name = OdString::kEmpty;
    return false;
}

}  // namespace ut
