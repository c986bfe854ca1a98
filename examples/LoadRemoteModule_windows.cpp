// Loading the remote module (RemoteModule.h): rvk-remote.dll lies beside rvk.exe, with the server's
// client library, libpq.dll, which Windows finds there when it loads the module.
#include "RemoteModule.h"

#include <windows.h>

#include <string>

#include <platform/OdString.h>

#include "Console.h"

namespace rvk {

namespace {

// The module's path: rvk-remote.dll in the folder of the running program.
std::wstring modulePath() {
    std::wstring path(32768, L'\0');
    const DWORD size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(size < path.size() ? size : 0);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path + L"rvk-remote.dll";
}

std::string shown(const std::wstring& path) {
    const OdString text(path.c_str());
    return std::string(text.ansi_str(), text.ansiLength());
}

}  // namespace

Expected<RemoteModuleEntry> openRemoteModule(std::string& path) {
    const std::wstring file = modulePath();
    path = shown(file);
    // Its own folder is searched for the DLLs it needs (libpq.dll), not the current one.
    const HMODULE handle =
        LoadLibraryExW(file.c_str(), nullptr,
                       LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (handle == nullptr)
        return hostError("the shared-history commands cannot be loaded: " + quoteName(path) +
                         " cannot be loaded (Windows error " + std::to_string(GetLastError()) +
                         ")");
    return reinterpret_cast<RemoteModuleEntry>(
        reinterpret_cast<void*>(GetProcAddress(handle, "rvkRemoteModule")));
}

}  // namespace rvk
