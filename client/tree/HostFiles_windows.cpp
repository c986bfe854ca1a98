#include <client/tree/HostFiles.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <utility>

#include <platform/OdString.h>

#include <client/Text.h>

namespace client {

namespace {

// Paths this long or longer go through the "\\?\" form, which lifts MAX_PATH's limit;
// CreateDirectoryW's own limit is the lowest of the calls made here.
constexpr std::size_t kLongPath = MAX_PATH - 12;

// The UTF-16 path a Windows call is given for the UTF-8 `path`: "/" turned into "\", and in the
// "\\?\" form when it is long, which takes neither "/" nor a relative path.
std::wstring wide(const std::string& path) {
    const OdString text(path.data(), path.size(), kCodePageUtf8);
    std::wstring out(text.c_str(), static_cast<std::size_t>(text.getLength()));
    for (wchar_t& c : out) {
        if (c == L'/')
            c = L'\\';
    }
    if (out.size() < kLongPath || out.compare(0, 4, L"\\\\?\\") == 0)
        return out;
    const DWORD needed = GetFullPathNameW(out.c_str(), 0, nullptr, nullptr);
    std::wstring full(needed, L'\0');
    const DWORD written = needed == 0 ? 0 : GetFullPathNameW(out.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed)
        return out;
    full.resize(written);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// The UTF-8 text of a UTF-16 path, with "/" for "\".
std::string narrow(const wchar_t* path, std::size_t length) {
    const OdString text(std::wstring(path, length).c_str());
    std::string out(text.ansi_str(), text.ansiLength());
    for (char& c : out) {
        if (c == '\\')
            c = '/';
    }
    return out;
}

// Sets errno to the nearest of the calling thread's last Windows error.
void setErrno() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_INVALID_NAME:
            errno = ENOENT;
            break;
        case ERROR_ACCESS_DENIED:
            errno = EACCES;
            break;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            errno = EBUSY;  // see lastSystemError()
            break;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            errno = EEXIST;
            break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            errno = ENOSPC;
            break;
        case ERROR_NOT_SAME_DEVICE:
            errno = EXDEV;
            break;
        case ERROR_FILENAME_EXCED_RANGE:
            errno = ENAMETOOLONG;
            break;
        case ERROR_CANT_RESOLVE_FILENAME:
            errno = ELOOP;
            break;
        case ERROR_DIRECTORY:
            errno = ENOTDIR;
            break;
        default:
            errno = EIO;
    }
}

constexpr std::int64_t kEpochDifference = 116444736000000000;  // 1601 to 1970 in 100 ns units

// Nanoseconds since 1970, as ut::DateTime counts, of a FILETIME (100 ns units since 1601).
std::int64_t nanoseconds(const FILETIME& t) {
    const auto units = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    return (units - kEpochDifference) * 100;
}

LARGE_INTEGER fileTimeOf(std::int64_t ns) {
    LARGE_INTEGER t;
    t.QuadPart = ns / 100 + kEpochDifference;
    return t;
}

PathKind kindOf(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return PathKind::link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathKind::folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return PathKind::other;
    return PathKind::file;
}

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Runs `call` on `path`; when it is refused because the file there is read-only, runs it again
// with that attribute taken away, and gives it back when the second try fails too.
template <class Call>
bool evenReadOnly(const std::wstring& path, Call&& call) {
    if (call())
        return true;
    if (GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
        !SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (call())
        return true;
    const DWORD error = GetLastError();
    SetFileAttributesW(path.c_str(), attributes);
    SetLastError(error);
    return false;
}

}  // namespace

const char kHostSeparators[] = "/\\";
const bool kWindowsNaming = true;

std::string slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

PathKind lookAt(const std::string& path, FileStat* stat) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) {
        setErrno();
        return PathKind::none;
    }
    if (stat != nullptr) {
        stat->size = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
        stat->modifiedNs = nanoseconds(data.ftLastWriteTime);
        stat->inode = 0;
        stat->changedNs = nanoseconds(data.ftCreationTime);
    }
    return kindOf(data.dwFileAttributes);
}

bool statFile(const std::string& path, FileStat& out) {
    return lookAt(path, &out) == PathKind::file;
}

bool currentFolderPath(std::string& path) {
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    std::wstring buffer(needed, L'\0');
    const DWORD written = needed == 0 ? 0 : GetCurrentDirectoryW(needed, buffer.data());
    if (written == 0 || written >= needed) {
        setErrno();
        return false;
    }
    const OdString text(buffer.substr(0, written).c_str());
    path.assign(text.ansi_str(), text.ansiLength());
    return true;
}

std::string absolutePath(const std::string& typed, const std::string& folder) {
    std::string path = typed;
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if ((drive && path.size() >= 3 && path[2] == '/') || path.rfind("//", 0) == 0)
        return path;  // C:/plans, //server/share/plans
    std::string base = folder;
    for (char& c : base) {
        if (c == '\\')
            c = '/';
    }
    if (drive) {
        // "C:plans": from the current folder of drive C, which the system keeps apart.
        if (base.size() < 2 || std::toupper(static_cast<unsigned char>(base[0])) !=
                                   std::toupper(static_cast<unsigned char>(path[0]))) {
            wchar_t driveOnly[] = {static_cast<wchar_t>(path[0]), L':', L'\0'};
            wchar_t full[MAX_PATH];
            const DWORD written = GetFullPathNameW(driveOnly, MAX_PATH, full, nullptr);
            base = written > 0 && written < MAX_PATH ? narrow(full, written)
                                                     : std::string(path, 0, 2) + "/";
        }
        return base + "/" + path.substr(2);
    }
    if (!path.empty() && path[0] == '/')  // "/plans": on the current folder's drive
        return base.substr(0, base.size() >= 2 && base[1] == ':' ? 2 : 0) + path;
    return base + "/" + path;
}

bool resolveFolder(const std::string& path, std::string& resolved) {
    const HANDLE h = CreateFileW(wide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setErrno();
        return false;
    }
    std::wstring final(32768, L'\0');  // the longest path Windows has
    const DWORD written = GetFinalPathNameByHandleW(h, final.data(), static_cast<DWORD>(final.size()),
                                                    FILE_NAME_NORMALIZED);
    CloseHandle(h);
    if (written == 0 || written >= final.size()) {
        setErrno();
        return false;
    }
    final.resize(written);
    if (final.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        final = L"\\\\" + final.substr(8);
    else if (final.compare(0, 4, L"\\\\?\\") == 0)
        final = final.substr(4);
    resolved = narrow(final.c_str(), final.size());
    return true;
}

std::string lastSystemError() {
    // Another program holds the file open: a CAD application holds a drawing while it is open.
    if (errno == EBUSY)
        return "it is open in another program; close it there and try again";
    return std::strerror(errno);
}

HostFile::~HostFile() {
    if (isOpen())
        CloseHandle(handleOf(m_handle));
}

HostFile HostFile::openForReading(const std::string& path) {
    // Others may read, write, rename and remove the file meanwhile, as on POSIX systems; a reparse
    // point is opened as itself, and refused; a folder opens too, and kind() tells.
    const HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                 OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS |
                                     FILE_FLAG_SEQUENTIAL_SCAN,
                                 nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setErrno();
        return HostFile();
    }
    HostFile file(reinterpret_cast<std::intptr_t>(h));
    FileStat ignored;
    if (file.kind(ignored) == PathKind::link) {
        errno = ELOOP;
        return HostFile();
    }
    return file;
}

HostFile HostFile::createIn(const std::string& folder, const char* prefix, std::string& path) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = folder + "/" + prefix;
        for (int i = 0; i < 8; ++i)
            path += kLetters[pick(random)];
        const HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            return HostFile(reinterpret_cast<std::intptr_t>(h));
        if (GetLastError() != ERROR_FILE_EXISTS) {
            setErrno();
            return HostFile();
        }
    }
    errno = EEXIST;
    return HostFile();
}

PathKind HostFile::kind(FileStat& stat) const {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handleOf(m_handle), &info)) {
        setErrno();
        return PathKind::none;
    }
    stat.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                          info.nFileSizeLow);
    stat.modifiedNs = nanoseconds(info.ftLastWriteTime);
    stat.inode = 0;
    stat.changedNs = nanoseconds(info.ftCreationTime);
    return kindOf(info.dwFileAttributes);
}

std::ptrdiff_t HostFile::read(char* buffer, std::size_t size) {
    DWORD got = 0;
    const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!ReadFile(handleOf(m_handle), buffer, asked, &got, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        setErrno();
        return -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

bool HostFile::writeAll(const char* data, std::size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!WriteFile(handleOf(m_handle), data, asked, &written, nullptr) || written == 0) {
            setErrno();
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool HostFile::finish(bool readOnly, boost::optional<std::int64_t> modifiedNs) {
    const HANDLE h = handleOf(m_handle);
    // Zero leaves a time as it is.
    FILE_BASIC_INFO basic{};
    if (modifiedNs)
        basic.LastWriteTime = fileTimeOf(*modifiedNs);
    basic.FileAttributes = readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    bool done = SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) &&
                FlushFileBuffers(h);
    if (!done)
        setErrno();
    const int error = errno;
    const bool closed = close();
    if (!done)
        errno = error;
    return done && closed;
}

bool HostFile::close() {
    const HANDLE h = handleOf(std::exchange(m_handle, kClosed));
    if (CloseHandle(h))
        return true;
    setErrno();
    return false;
}

bool replaceFile(const std::string& from, const std::string& to) {
    const std::wstring source = wide(from);
    const std::wstring target = wide(to);
    const bool moved = evenReadOnly(target, [&] {
        return MoveFileExW(source.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    });
    if (moved)
        return true;
    const DWORD error = GetLastError();
    // A file that is open cannot be replaced, unless every program that has it open shares its
    // deletion and the file system renames as POSIX systems do. Told apart from a refused
    // permission by opening it alone, since closing it in the other program is what helps.
    if (error == ERROR_ACCESS_DENIED) {
        const HANDLE probe =
            CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        const DWORD why = probe == INVALID_HANDLE_VALUE ? GetLastError() : error;
        if (probe != INVALID_HANDLE_VALUE)
            CloseHandle(probe);
        SetLastError(why == ERROR_SHARING_VIOLATION ? why : error);
    }
    setErrno();
    return false;
}

bool removeFile(const std::string& path) {
    const std::wstring target = wide(path);
    if (evenReadOnly(target, [&] { return DeleteFileW(target.c_str()) != 0; }))
        return true;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return true;
    setErrno();
    return false;
}

bool makeFolders(const std::string& path) {
    const PathKind there = lookAt(path);
    if (there == PathKind::folder)
        return true;
    if (there != PathKind::none) {
        errno = ENOTDIR;
        return false;
    }
    const std::size_t slash = path.find_last_of(kHostSeparators);
    // The folder above first, unless this is a drive's or a share's root, which cannot be made.
    if (slash != std::string::npos && slash > 0 && path[slash - 1] != ':' &&
        !makeFolders(path.substr(0, slash)))
        return false;
    if (CreateDirectoryW(wide(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
        return true;
    setErrno();
    return false;
}

bool removeEmptyFolder(const std::string& path) {
    if (RemoveDirectoryW(wide(path).c_str()))
        return true;
    setErrno();
    return false;
}

std::string lengthProblem(const std::string& path) {
    // Through the "\\?\" form a path may have 32,767 UTF-16 units, the prefix included; a
    // name, 255 of them.
    const std::wstring units = wide(path);
    if (units.size() > 32767)
        return "its path is longer than the 32,767 characters Windows takes";
    std::size_t start = 0;
    while (start <= units.size()) {
        const std::size_t end = std::min(units.find(L'\\', start), units.size());
        if (end - start > 255)
            return "a name in it is longer than the 255 characters Windows takes";
        start = end + 1;
    }
    return {};
}

bool makeFolder(const std::string& path) {
    if (CreateDirectoryW(wide(path).c_str(), nullptr))
        return true;
    setErrno();
    return false;
}

bool enterFolder(const std::string& path) {
    if (SetCurrentDirectoryW(wide(path).c_str()))
        return true;
    setErrno();
    return false;
}

bool setModifiedTime(const std::string& path, std::int64_t modifiedNs) {
    const HANDLE h = CreateFileW(wide(path).c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                                 OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setErrno();
        return false;
    }
    const LARGE_INTEGER t = fileTimeOf(modifiedNs);
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(t.QuadPart & 0xFFFFFFFF);
    written.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(t.QuadPart) >> 32);
    const bool set = SetFileTime(h, nullptr, nullptr, &written) != 0;
    if (!set)
        setErrno();
    CloseHandle(h);
    return set;
}

bool flushFileSystem(const std::string&) {
    return true;
}

bool stderrIsTerminal() {
    // Progress is drawn with the terminal's escapes, which a console takes once asked to.
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return err != INVALID_HANDLE_VALUE && GetConsoleMode(err, &mode) &&
           SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

// A cache file that another status has mapped could not be replaced, nor could status replace
// the one it read itself: on Windows the file is read into memory instead of mapped.
MappedFile::~MappedFile() {
    delete[] m_data;
}

MappedFile MappedFile::map(const std::string& path, FileStat& stat) {
    MappedFile mapped;
    HostFile file = HostFile::openForReading(path);
    if (!file.isOpen() || file.kind(stat) != PathKind::file || stat.size <= 0)
        return mapped;
    const auto size = static_cast<std::size_t>(stat.size);
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
