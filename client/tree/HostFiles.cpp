// The kit's file calls, for every system, made of the platform's primitives.
#include <client/tree/HostFiles.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>
#include <new>

#include <platform/FileName.h>
#include <platform/OdString.h>

#include <client/Text.h>

namespace client {

namespace sys = ut::sys;

namespace {

OdString fromUtf8(const std::string& path) {
    return OdString(path.data(), path.size(), kCodePageUtf8);
}

sys::Path systemPath(const std::string& path) {
    return sys::Path::fromUtf8(path);
}

PathKind kindOf(sys::Kind kind) {
    switch (kind) {
        case sys::Kind::file:
            return PathKind::file;
        case sys::Kind::folder:
            return PathKind::folder;
        case sys::Kind::link:
            return PathKind::link;
        case sys::Kind::other:
            return PathKind::other;
        case sys::Kind::none:
            break;
    }
    return PathKind::none;
}

FileStat fileStatOf(const sys::Info& info) {
    FileStat out;
    out.size = info.size;
    out.modifiedNs = info.modifiedNs;
    out.inode = info.inode;
    out.changedNs = info.changedNs;
    return out;
}

// The number of UTF-16 units of the UTF-8 text `text`: one a byte that begins a sequence, two for
// the four-byte sequences, which need a surrogate pair.
std::size_t utf16Units(std::string_view text) {
    std::size_t units = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte & 0xC0) != 0x80)
            units += byte >= 0xF0 ? 2 : 1;
    }
    return units;
}

}  // namespace

// Linux's PATH_MAX and NAME_MAX, in bytes; Windows takes 32,767 UTF-16 units through the "\\?\"
// form, the prefix included, and 255 in a name.
const Naming Naming::posix{"/", false, 4095, 255, false};
const Naming Naming::windows{"/\\", true, 32767, 255, true};

const Naming& hostNaming() {
    // The platform's separators tell which system this is.
    static const Naming& rules =
        ut::FileName::isPathSeparator(L'\\') ? Naming::windows : Naming::posix;
    return rules;
}

const char* const kHostSeparators = hostNaming().separators;

std::string slashed(std::string path, const Naming& naming) {
    if (naming.windowsNames)
        std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

PathKind lookAt(const std::string& path, FileStat* stat) {
    const sys::Info info = sys::lookAt(systemPath(path), sys::Follow::no);
    if (stat != nullptr && info.kind != sys::Kind::none)
        *stat = fileStatOf(info);
    return kindOf(info.kind);
}

bool statFile(const std::string& path, FileStat& out) {
    return lookAt(path, &out) == PathKind::file;
}

bool currentFolderPath(std::string& path) {
    OdString folder;
    if (!sys::currentFolder(folder))
        return false;
    path = utf8(folder);
    return true;
}

std::string absolutePath(const std::string& typed, const std::string& folder,
                         const Naming& naming) {
    if (!naming.windowsNames)
        return typed.rfind('/', 0) == 0 ? typed : folder + "/" + typed;
    const std::string path = slashed(typed, naming);
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if ((drive && path.size() >= 3 && path[2] == '/') || path.rfind("//", 0) == 0)
        return path;  // C:/plans, //server/share/plans
    std::string base = slashed(folder, naming);
    if (drive) {
        // "C:plans": from the current folder of drive C, which the system keeps apart.
        if (base.size() < 2 || std::toupper(static_cast<unsigned char>(base[0])) !=
                                   std::toupper(static_cast<unsigned char>(path[0]))) {
            OdString full;
            base = sys::fullPath(fromUtf8(path.substr(0, 2)), full) ? slashed(utf8(full), naming)
                                                                    : path.substr(0, 2) + "/";
            if (!base.empty() && base.back() == '/')
                base.pop_back();
        }
        return base + "/" + path.substr(2);
    }
    if (!path.empty() && path[0] == '/')  // "/plans": on the current folder's drive
        return base.substr(0, base.size() >= 2 && base[1] == ':' ? 2 : 0) + path;
    return base + "/" + path;
}

bool resolveFolder(const std::string& path, std::string& resolved) {
    OdString full;
    if (!sys::resolveFolder(systemPath(path), full))
        return false;
    resolved = slashed(utf8(full));
    return true;
}

std::string lastSystemError() {
    return sys::errorText(errno);
}

HostFile::~HostFile() {
    if (isOpen())
        sys::close(m_handle);
}

HostFile HostFile::openForReading(const std::string& path) {
    const sys::Handle file = sys::openForReading(systemPath(path), sys::Follow::no);
    return file != sys::kNoHandle ? HostFile(file) : HostFile();
}

PathKind HostFile::kind(FileStat& stat) const {
    const sys::Info info = sys::lookAt(m_handle);
    if (info.kind != sys::Kind::none)
        stat = fileStatOf(info);
    return kindOf(info.kind);
}

std::ptrdiff_t HostFile::read(char* buffer, std::size_t size) {
    return sys::read(m_handle, buffer, size);
}

bool HostFile::close() {
    return sys::close(std::exchange(m_handle, kClosed));
}

bool finishCopy(sys::TemporaryFile& file, bool readOnly, boost::optional<std::int64_t> modifiedNs) {
    const bool done = sys::setAccess(file.handle(), readOnly, modifiedNs.get_ptr()) &&
                      sys::flushUnlessFileSystemIs(file.handle());
    const int error = errno;
    const bool closed = file.close();
    if (!done)
        errno = error;
    return done && closed;
}

bool placeCopy(const std::string& temp, const std::string& target) {
    return sys::placeFile(fromUtf8(temp), fromUtf8(target), false);
}

bool replaceFile(const std::string& from, const std::string& to) {
    return sys::replace(systemPath(from), systemPath(to));
}

bool removeFile(const std::string& path) {
    return sys::remove(systemPath(path)) || errno == ENOENT;
}

bool makeFolders(const std::string& path) {
    return sys::makeFolders(fromUtf8(path));
}

bool removeEmptyFolder(const std::string& path) {
    return sys::removeFolder(systemPath(path));
}

bool renameFolder(const std::string& from, const std::string& to) {
    return sys::renameFolder(systemPath(from), systemPath(to));
}

std::string lengthProblem(const std::string& path, const Naming& naming) {
    // Every call takes the whole path, so the system's limit on one argument is the limit; long
    // Windows paths take the "\\?\" form, which counts.
    const auto length = [&](std::string_view text) {
        return naming.utf16 ? utf16Units(text) : text.size();
    };
    // 32767 as "32,767".
    const auto shown = [](std::size_t n) {
        std::string text = std::to_string(n);
        for (std::size_t at = text.size(); at > 3; at -= 3)
            text.insert(at - 3, ",");
        return text;
    };
    const char* const units = naming.utf16 ? " characters" : " bytes";
    const char* const system = naming.windowsNames ? " Windows takes" : " this system takes";
    const std::size_t prefix = naming.windowsNames ? 4 : 0;
    if (length(path) + prefix > naming.longestPath)
        return "its path is longer than the " + shown(naming.longestPath) + units + system;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find_first_of(naming.separators, start), path.size());
        if (length(std::string_view(path).substr(start, end - start)) > naming.longestName)
            return "a name in it is longer than the " + shown(naming.longestName) + units + system;
        start = end + 1;
    }
    return {};
}

bool makeFolder(const std::string& path) {
    return sys::makeFolder(systemPath(path));
}

bool enterFolder(const std::string& path) {
    return sys::enterFolder(systemPath(path));
}

bool setModifiedTime(const std::string& path, std::int64_t modifiedNs) {
    return sys::setModifiedTime(systemPath(path), modifiedNs);
}

bool flushFileSystem(const std::string& folder) {
    return sys::flushFileSystem(systemPath(folder));
}

bool stderrIsTerminal() {
    return sys::errorStreamIsTerminal();
}

MappedFile::~MappedFile() {
    if (m_mapped)
        sys::unmap(m_data, m_size);
    else
        delete[] m_data;
}

MappedFile MappedFile::map(const std::string& path, FileStat& stat) {
    MappedFile mapped;
    const sys::Handle handle = sys::openForReading(systemPath(path), sys::Follow::no);
    if (handle == sys::kNoHandle)
        return mapped;
    HostFile file(handle);
    if (file.kind(stat) != PathKind::file || stat.size <= 0)
        return mapped;
    const auto size = static_cast<std::size_t>(stat.size);
    if (const char* data = sys::map(handle, size)) {
        mapped.m_data = data;
        mapped.m_size = size;
        mapped.m_mapped = true;
        return mapped;
    }
    std::unique_ptr<char[]> bytes(new (std::nothrow) char[size]);
    if (!bytes)
        return mapped;
    std::size_t at = 0;
    while (at < size) {
        const std::ptrdiff_t got = file.read(bytes.get() + at, size - at);
        if (got <= 0)
            return mapped;
        at += static_cast<std::size_t>(got);
    }
    mapped.m_data = bytes.release();
    mapped.m_size = size;
    return mapped;
}

}  // namespace client
