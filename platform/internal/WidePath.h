// The path a Windows file call is given for an OdString path: its UTF-16 text with "/" turned into
// "\", in the "\\?\" form when it is longer than MAX_PATH allows, so that no length limit applies
// (that form takes no "/", ".", ".." nor relative path, so the long path is made full first).
// Only the Windows sources include it. Internal: not installed.
#pragma once

#include <windows.h>

#include <string>

#include <platform/OdString.h>

namespace ut::win {

// Paths this long or longer go through the "\\?\" form: CreateDirectoryW's limit (MAX_PATH less
// room for an 8.3 name) is the lowest of the calls we make.
constexpr std::size_t kLongPath = MAX_PATH - 12;

inline std::wstring widePath(const OdString& path) {
    std::wstring out(path.c_str(), static_cast<std::size_t>(path.getLength()));
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

// The errno nearest to a Windows error, for callers that tell users why.
inline int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_CANT_ACCESS_FILE:
        case ERROR_CANT_RESOLVE_FILENAME:
            return ELOOP;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        default:
            return EIO;
    }
}

// Sets errno from the calling thread's last Windows error.
inline void setErrnoFromLastError() {
    errno = errnoOf(GetLastError());
}

// Nanoseconds since the Unix epoch, the ticks of ut::DateTime, of a FILETIME (100 ns units since
// 1601).
inline std::int64_t ticksOf(const FILETIME& t) {
    constexpr std::int64_t kEpochDifference = 116444736000000000;  // 1601 to 1970 in 100 ns units
    const auto units = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    return (units - kEpochDifference) * 100;
}

}  // namespace ut::win
