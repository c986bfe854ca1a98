// What TextFile asks of Windows: whether a file is there, folders for a new one, and the atomic
// replacement of a file's content.
#include <platform/TextFile.h>

#include <chrono>
#include <cstddef>
#include <cwchar>
#include <string>
#include <vector>

#include <platform/FileName.h>
#include <platform/internal/WidePath.h>
#include <platform/internal/WriteCalls.h>

namespace ut {

namespace {

bool writeAll(HANDLE handle, const char* data, std::size_t size) {
    while (size > 0) {
        if (sys::shouldFail(sys::Call::kWrite))
            return false;
        constexpr std::size_t kMaxChunk = 1u << 30;  // WriteFile counts in 32 bits
        const auto chunk = static_cast<DWORD>(size < kMaxChunk ? size : kMaxChunk);
        DWORD n = 0;
        if (WriteFile(handle, data, chunk, &n, nullptr) == 0) {
            win::setErrnoFromLastError();
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Splits a path made for the system (separators "\") into its folder with its final separator
// (empty when there is none) and its last component.
void splitPath(const std::wstring& path, std::wstring& folder, std::wstring& name) {
    const auto slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) {
        folder.clear();
        name = path;
    } else {
        folder = path.substr(0, slash + 1);
        name = path.substr(slash + 1);
    }
}

// The temporary file of an atomic write of `name` is "." + name + kTempInfix + "<pid>-<hex>".
constexpr const wchar_t kTempInfix[] = L".tmp-";

// Creates a new temporary file next to the target; INVALID_HANDLE_VALUE when the folder does not
// allow it.
HANDLE createTemporary(const std::wstring& folder, const std::wstring& name,
                       std::wstring& tempPath) {
    const auto seed = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        wchar_t suffix[64];
        std::swprintf(suffix, 64, L"%ls%lu-%llx", kTempInfix, GetCurrentProcessId(),
                      seed + attempt * 7919ULL);
        tempPath = folder + L"." + name + suffix;
        if (sys::shouldFail(sys::Call::kOpen))
            return INVALID_HANDLE_VALUE;
        const HANDLE handle = CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            if (handle == INVALID_HANDLE_VALUE)
                win::setErrnoFromLastError();
            return handle;
        }
    }
    return INVALID_HANDLE_VALUE;
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
    const HANDLE handle = CreateFileW(from.c_str(), DELETE | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

// Replaces `to` with `from`, and returns only once the rename is on disk: the POSIX-semantics
// rename where the system has it, else MoveFileExW, which fails while a reader holds `to` open.
DWORD replaceFile(const std::wstring& from, const std::wstring& to) {
    const DWORD error = renameWithPosixSemantics(from, to);
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FUNCTION &&
        error != ERROR_NOT_SUPPORTED)
        return error;
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ==
        0)
        return GetLastError();
    return ERROR_SUCCESS;
}

}  // namespace

bool writeFileAtomically(const OdString& path, const char* bytes, std::size_t size) {
    if (path.isEmpty())
        return false;
    const std::wstring target = win::widePath(path);
    std::wstring folder, name, tempPath;
    splitPath(target, folder, name);
    if (name.empty())
        return false;

    const HANDLE handle = createTemporary(folder, name, tempPath);
    if (handle == INVALID_HANDLE_VALUE)
        return false;

    bool ok = writeAll(handle, bytes, size);
    if (ok && sys::shouldFail(sys::Call::kFsync)) {
        ok = false;
    } else if (ok && FlushFileBuffers(handle) == 0) {
        win::setErrnoFromLastError();
        ok = false;
    }
    int error = ok ? 0 : errno;
    const bool closeFails = sys::shouldFail(sys::Call::kClose);
    if ((CloseHandle(handle) == 0 || closeFails) && ok) {
        ok = false;
        error = closeFails ? errno : win::errnoOf(GetLastError());
    }
    // Replaces the target even while others read it (readers open with FILE_SHARE_DELETE).
    if (ok) {
        if (sys::shouldFail(sys::Call::kRename)) {
            ok = false;
            error = errno;
        } else if (const DWORD renameError = replaceFile(tempPath, target);
                   renameError != ERROR_SUCCESS) {
            ok = false;
            error = win::errnoOf(renameError);
        }
    }
    if (!ok) {
        DeleteFileW(tempPath.c_str());
        errno = error;  // the caller may tell the user why
        return false;
    }
    return true;
}

int removeAbandonedTemporaries(const OdString& path) {
    std::wstring folder, name;
    splitPath(win::widePath(path), folder, name);
    if (name.empty())
        return 0;
    const std::wstring prefix = L"." + name + kTempInfix;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileExW((folder + prefix + L"*").c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    int removed = 0;
    do {
        // The system's match ignores case; the temporaries' names are ours exactly.
        if (std::wcsncmp(data.cFileName, prefix.c_str(), prefix.size()) == 0 &&
            DeleteFileW((folder + data.cFileName).c_str()) != 0)
            ++removed;
    } while (FindNextFileW(find, &data) != 0);
    FindClose(find);
    return removed;
}

bool TextFile::exists() const {
    if (m_path.isEmpty())
        return false;
    const DWORD attributes = GetFileAttributesW(win::widePath(m_path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool TextFile::create() {
    m_lines.clear();
    m_next = 0;
    // Make the folders a new file needs; one that exists already is fine.
    const std::wstring path(m_path.c_str(), static_cast<std::size_t>(m_path.getLength()));
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (!FileName::isPathSeparator(path[i]) || path[i - 1] == L':')
            continue;
        if (!sys::shouldFail(sys::Call::kMkdir))
            CreateDirectoryW(win::widePath(OdString(path.substr(0, i).c_str())).c_str(), nullptr);
    }
    return !exists();
}

}  // namespace ut
