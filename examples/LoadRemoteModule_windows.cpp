// Loading the remote module (RemoteModule.h): rvk-remote.dll lies beside rvk.exe, with the server's
// client library, libpq.dll, which Windows finds there when it loads the module.
#include "RemoteModule.h"

#include <windows.h>

#include <string>

#include <platform/OdString.h>

#include "Console.h"

namespace host {

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

Expected<const RemoteModule*> load() {
    const std::wstring path = modulePath();
    // Its own folder is searched for the DLLs it needs (libpq.dll), not the current one.
    const HMODULE handle =
        LoadLibraryExW(path.c_str(), nullptr,
                       LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (handle == nullptr)
        return hostError("the shared-history commands cannot be loaded: " + quoteName(shown(path)) +
                         " cannot be loaded (Windows error " + std::to_string(GetLastError()) +
                         ")");
    using Entry = const RemoteModule* (*)();
    const auto entry =
        reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(handle, "rvkRemoteModule")));
    const RemoteModule* module = entry != nullptr ? entry() : nullptr;
    if (module == nullptr || module->version != kRemoteModuleVersion)
        return hostError(quoteName(shown(path)) + " is not the remote module of this rvk");
    // Never unloaded: its code runs until the command ends.
    return module;
}

}  // namespace

Expected<const RemoteModule*> remoteModule() {
    static const Expected<const RemoteModule*> loaded = load();
    return loaded;
}

}  // namespace host
