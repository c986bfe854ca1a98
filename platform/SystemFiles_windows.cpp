// The primitives of SystemFiles.h on Windows, each behind the fault seam: wide calls throughout,
// long paths through the "\\?\" form, reparse points never followed unless asked.
#include <platform/SystemFiles.h>

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cwchar>
#include <string>
#include <vector>

#include <platform/internal/FaultSeam.h>

namespace ut::sys {

namespace {

// Paths this long or longer go through the "\\?\" form: CreateDirectoryW's limit (MAX_PATH less
// room for an 8.3 name) is the lowest of the calls we make.
constexpr std::size_t kLongPath = MAX_PATH - 12;

// UTF-16 text with "/" turned into "\", in the "\\?\" form when it is long, so that no length
// limit applies (that form takes no "/", ".", ".." nor relative path, so the long path is made
// full first).
std::wstring systemForm(std::wstring out) {
    for (auto& c : out) {
        if (c == L'/')
            c = L'\\';
    }
    if (out.size() < kLongPath || out.compare(0, 4, L"\\\\?\\") == 0)
        return out;
    const DWORD needed = GetFullPathNameW(out.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return out;
    std::wstring full(needed, L'\0');
    const DWORD written = GetFullPathNameW(out.c_str(), needed, full.data(), nullptr);
    if (written == 0 || written >= needed)
        return out;
    full.resize(written);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\... -> \\?\UNC\server\share\...
    return L"\\\\?\\" + full;
}

// Sets errno from the calling thread's last Windows error.
void setErrno() {
    errno = errnoOfSystemError(GetLastError());
}

// `done`, the answer of a Windows call, as true or false, errno set when false.
bool succeeded(BOOL done) {
    if (!done)
        setErrno();
    return done != 0;
}

HANDLE handleOf(Handle file) {
    return reinterpret_cast<HANDLE>(file);
}

constexpr std::int64_t kEpochDifference = 116444736000000000;  // 1601 to 1970 in 100 ns units

// Nanoseconds since 1970 of a FILETIME (100 ns units since 1601).
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

Kind kindOf(DWORD attributes, Follow follow) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && follow == Follow::no)
        return Kind::link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return Kind::folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return Kind::other;
    return Kind::file;
}

std::int64_t sizeOf(DWORD high, DWORD low) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Runs `call` on `path`; when it is refused because the file there is read-only, runs it again
// with that attribute taken away, and gives it back when the second try fails too.
template <class Attempt>
bool evenReadOnly(const std::wstring& path, Attempt&& attempt) {
    if (attempt())
        return true;
    if (GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
        !SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (attempt())
        return true;
    const DWORD error = GetLastError();
    SetFileAttributesW(path.c_str(), attributes);
    SetLastError(error);
    return false;
}

// FileRenameInfoEx and its flags (Windows 10 1709 and later), spelled here because MinGW's headers
// show them only to builds that require that version; the library runs on older systems too.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;

// FILE_RENAME_INFO as FileRenameInfoEx reads it: flags where the older class has a BOOLEAN.
struct RenameInfoEx {
    DWORD flags;
    HANDLE rootDirectory;
    DWORD fileNameLength;
    WCHAR fileName[1];
};

// Renames `from` over `to` the way POSIX does: a reader that holds `to` open (with
// FILE_SHARE_DELETE) keeps the file it opened while the name moves to the new one. Returns
// ERROR_SUCCESS, or why not; ERROR_INVALID_PARAMETER, ERROR_INVALID_FUNCTION or
// ERROR_NOT_SUPPORTED when the system or its file system lacks the rename class.
DWORD renameWithPosixSemantics(const std::wstring& from, const std::wstring& to) {
    const HANDLE handle = CreateFileW(from.c_str(), DELETE | GENERIC_WRITE, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    const std::size_t nameBytes = to.size() * sizeof(WCHAR);
    const std::size_t size = offsetof(RenameInfoEx, fileName) + nameBytes + sizeof(WCHAR);
    std::vector<unsigned long long> buffer((size + sizeof(unsigned long long) - 1) /
                                           sizeof(unsigned long long));
    auto* info = reinterpret_cast<RenameInfoEx*>(buffer.data());
    info->flags = kRenameReplaceIfExists | kRenamePosixSemantics;
    info->rootDirectory = nullptr;
    info->fileNameLength = static_cast<DWORD>(nameBytes);
    std::wmemcpy(info->fileName, to.c_str(), to.size() + 1);
    DWORD error = ERROR_SUCCESS;
    if (SetFileInformationByHandle(handle, kFileRenameInfoEx, info, static_cast<DWORD>(size)) == 0)
        error = GetLastError();
    // The file's metadata, its new name with it, reach the disk before the rename counts as done.
    else if (FlushFileBuffers(handle) == 0)
        error = GetLastError();
    CloseHandle(handle);
    return error;
}

// The POSIX-semantics rename where the system has it, else MoveFileExW, which fails while a
// reader holds `to` open. Sets the last error on failure.
bool renameOver(const std::wstring& from, const std::wstring& to) {
    const DWORD error = renameWithPosixSemantics(from, to);
    if (error == ERROR_SUCCESS)
        return true;
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION &&
        error != ERROR_NOT_SUPPORTED) {
        SetLastError(error);
        return false;
    }
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace

Path::Path(const OdString& path)
    : m_text(systemForm(std::wstring(path.c_str(), static_cast<std::size_t>(path.getLength())))) {}

Path Path::fromUtf8(std::string_view utf8) {
    return Path(OdString(utf8.data(), utf8.size(), kCodePageUtf8));
}

OdString nameOf(const PathUnit* name, std::size_t length) {
    return OdString(name, static_cast<int>(length));
}

int errnoOfSystemError(unsigned long code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        // Another program holds the file open without sharing it, or locks part of it: a CAD
        // application holds the drawing it shows.
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_SAME_DEVICE:
            return EXDEV;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_CANT_ACCESS_FILE:
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY:
            return ENOTEMPTY;
        default:
            return EIO;
    }
}

Handle openForReading(const Path& path, Follow follow) {
    if (shouldFail(Call::kOpen))
        return kNoHandle;
    // Backup semantics, so that a folder opens too and lookAt() tells; a reparse point is opened
    // as itself unless it is to be followed.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN |
                        (follow == Follow::no ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const HANDLE h =
        CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setErrno();
        return kNoHandle;
    }
    const auto file = reinterpret_cast<Handle>(h);
    if (follow == Follow::no && lookAt(file).kind == Kind::link) {
        CloseHandle(h);
        errno = ELOOP;
        return kNoHandle;
    }
    return file;
}

Handle createNew(const Path& path) {
    if (shouldFail(Call::kOpen))
        return kNoHandle;
    const HANDLE h =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setErrno();
        return kNoHandle;
    }
    return reinterpret_cast<Handle>(h);
}

std::ptrdiff_t read(Handle file, void* buffer, std::size_t size) {
    if (shouldFail(Call::kRead))
        return -1;
    DWORD got = 0;
    const auto asked = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!ReadFile(handleOf(file), buffer, asked, &got, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        setErrno();
        return -1;
    }
    return static_cast<std::ptrdiff_t>(got);
}

std::ptrdiff_t write(Handle file, const void* data, std::size_t size) {
    if (shouldFail(Call::kWrite))
        return -1;
    DWORD written = 0;
    const auto asked = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!WriteFile(handleOf(file), data, asked, &written, nullptr)) {
        setErrno();
        return -1;
    }
    return static_cast<std::ptrdiff_t>(written);
}

bool flush(Handle file) {
    if (shouldFail(Call::kFlush))
        return false;
    return succeeded(FlushFileBuffers(handleOf(file)));
}

bool close(Handle file) {
    if (shouldFail(Call::kClose)) {
        const int error = errno;
        CloseHandle(handleOf(file));
        errno = error;
        return false;
    }
    return succeeded(CloseHandle(handleOf(file)));
}

Info lookAt(Handle file) {
    BY_HANDLE_FILE_INFORMATION data;
    if (shouldFail(Call::kLookAt))
        return Info();
    if (!GetFileInformationByHandle(handleOf(file), &data)) {
        setErrno();
        return Info();
    }
    Info info;
    info.kind = kindOf(data.dwFileAttributes, Follow::no);
    info.size = sizeOf(data.nFileSizeHigh, data.nFileSizeLow);
    info.accessedNs = nanoseconds(data.ftLastAccessTime);
    info.modifiedNs = nanoseconds(data.ftLastWriteTime);
    info.changedNs = nanoseconds(data.ftCreationTime);
    return info;
}

Info lookAt(const Path& path, Follow follow) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (shouldFail(Call::kLookAt))
        return Info();
    // The attributes of the name itself: a link or junction is not followed, and when the look
    // follows it, it counts as what its attributes say (a folder link is a folder).
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        setErrno();
        return Info();
    }
    Info info;
    info.kind = kindOf(data.dwFileAttributes, follow);
    info.size = sizeOf(data.nFileSizeHigh, data.nFileSizeLow);
    info.accessedNs = nanoseconds(data.ftLastAccessTime);
    info.modifiedNs = nanoseconds(data.ftLastWriteTime);
    info.changedNs = nanoseconds(data.ftCreationTime);
    return info;
}

bool copyAccess(Handle, const Path& like) {
    // Windows keeps access in lists that a new file inherits from its folder, as the replaced file
    // did: nothing to copy.
    return !shouldFail(Call::kAccess) &&
           GetFileAttributesW(like.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool setAccess(Handle file, bool readOnly, const std::int64_t* modifiedNs) {
    if (shouldFail(Call::kAccess))
        return false;
    FILE_BASIC_INFO basic{};  // a time of zero leaves that time as it is
    if (modifiedNs != nullptr)
        basic.LastWriteTime = fileTimeOf(*modifiedNs);
    basic.FileAttributes = readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    return succeeded(
        SetFileInformationByHandle(handleOf(file), FileBasicInfo, &basic, sizeof basic));
}

bool setReadOnly(const Path& path, bool readOnly) {
    if (shouldFail(Call::kAccess))
        return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return succeeded(FALSE);
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        errno = ELOOP;
        return false;
    }
    DWORD wanted = readOnly ? attributes | FILE_ATTRIBUTE_READONLY
                            : attributes & ~DWORD{FILE_ATTRIBUTE_READONLY};
    if (wanted == attributes)
        return true;
    if (wanted == 0)
        wanted = FILE_ATTRIBUTE_NORMAL;
    return succeeded(SetFileAttributesW(path.c_str(), wanted));
}

bool setModifiedTime(const Path& path, std::int64_t modifiedNs) {
    if (shouldFail(Call::kAccess))
        return false;
    const HANDLE h =
        CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
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

bool replace(const Path& from, const Path& to) {
    if (shouldFail(Call::kRename, to))
        return false;
    const std::wstring& target = to.text();
    if (evenReadOnly(target, [&] { return renameOver(from.text(), target); }))
        return true;
    const DWORD error = GetLastError();
    // A file that is open cannot be replaced, unless every program that has it open shares its
    // deletion. Told apart from a refused permission by opening it alone, since closing it in the
    // other program is what helps.
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

bool remove(const Path& path) {
    if (shouldFail(Call::kRemove, path))
        return false;
    return succeeded(evenReadOnly(path.text(), [&] { return DeleteFileW(path.c_str()) != 0; }));
}

bool renameFolder(const Path& from, const Path& to) {
    if (shouldFail(Call::kRename))
        return false;
    // Without MOVEFILE_REPLACE_EXISTING, whatever is at `to` stays, and the rename fails.
    return succeeded(MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH));
}

bool makeFolder(const Path& path) {
    if (shouldFail(Call::kMkdir))
        return false;
    return succeeded(CreateDirectoryW(path.c_str(), nullptr));
}

bool removeFolder(const Path& path) {
    if (shouldFail(Call::kRemove))
        return false;
    return succeeded(RemoveDirectoryW(path.c_str()));
}

bool listFolder(const Path& path, ListVisitor visit, void* context) {
    if (shouldFail(Call::kList))
        return false;
    std::wstring pattern = path.text();
    if (!pattern.empty() && pattern.back() != L'\\')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data;
    // Basic information (no short names) fetched in large batches: the listing's one pass.
    const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        setErrno();
        return false;
    }
    do {
        const wchar_t* const name = data.cFileName;
        if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0)))
            continue;
        visit(context, name, std::wcslen(name), kindOf(data.dwFileAttributes, Follow::no));
    } while (FindNextFileW(find, &data) != 0);
    const DWORD error = GetLastError();
    FindClose(find);
    if (error == ERROR_NO_MORE_FILES)
        return true;
    SetLastError(error);
    setErrno();
    return false;
}

bool flushFolder(const Path&) {
    return true;  // every rename was written through
}

bool flushFileSystem(const Path&) {
    return true;  // every file was flushed before its rename, which was written through
}

bool flushUnlessFileSystemIs(Handle file) {
    return flush(file);
}

bool currentFolder(OdString& path) {
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    std::wstring buffer(needed, L'\0');
    const DWORD written = needed == 0 ? 0 : GetCurrentDirectoryW(needed, buffer.data());
    if (written == 0 || written >= needed) {
        setErrno();
        return false;
    }
    path = OdString(buffer.c_str(), static_cast<int>(written));
    return true;
}

bool enterFolder(const Path& path) {
    return succeeded(SetCurrentDirectoryW(path.c_str()));
}

bool resolveFolder(const Path& path, OdString& resolved) {
    const HANDLE h = CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        setErrno();
        return false;
    }
    std::wstring final(32768, L'\0');  // the longest path Windows has
    const DWORD written = GetFinalPathNameByHandleW(
        h, final.data(), static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
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
    resolved = OdString(final.c_str(), static_cast<int>(final.size()));
    return true;
}

bool fullPath(const OdString& path, OdString& full) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring buffer(needed, L'\0');
    const DWORD written =
        needed == 0 ? 0 : GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
    if (written == 0 || written >= needed) {
        setErrno();
        return false;
    }
    full = OdString(buffer.c_str(), static_cast<int>(written));
    return true;
}

// A file that another process has mapped cannot be replaced, nor could a process replace the one
// it mapped itself: files are read into memory here instead.
const char* map(Handle, std::size_t) {
    errno = ENOTSUP;
    return nullptr;
}

void unmap(const char*, std::size_t) {}

bool errorStreamIsTerminal() {
    // Progress is drawn with the terminal's escapes, which a console takes once asked to.
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return err != INVALID_HANDLE_VALUE && GetConsoleMode(err, &mode) &&
           SetConsoleMode(err, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

unsigned long processId() {
    return GetCurrentProcessId();
}

}  // namespace ut::sys
