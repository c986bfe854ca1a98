// Loading the kit's PostgreSQL part on Windows: rvkclient-pg.dll lies beside the kit's own DLL,
// with the server's client library, libpq.dll, which Windows finds there when it loads the module.
#include <client/shared/LoadServerModule.h>

#include <windows.h>

#include <string>

#include <platform/OdString.h>

#include <client/Text.h>

namespace client {

namespace {

// The folder of the binary this code is in (librvkclient.dll, or a program linked with its
// objects).
std::wstring ownFolder() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ownFolder), &self);
    std::wstring path(32768, L'\0');
    const DWORD size = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
    path.resize(size < path.size() ? size : 0);
    path.erase(path.find_last_of(L"\\/") + 1);
    return path;
}

}  // namespace

Expected<RvkPgModuleEntry> openServerModule(std::string& path) {
    const std::wstring file = ownFolder() + L"rvkclient-pg.dll";
    path = utf8(OdString(file.c_str()));
    // Its own folder is searched for the DLLs it needs (libpq.dll), not the current one.
    const HMODULE handle =
        LoadLibraryExW(file.c_str(), nullptr,
                       LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (handle == nullptr)
        return hostError("the shared history cannot be reached: " + quoteName(path) +
                         " cannot be loaded (Windows error " + std::to_string(GetLastError()) +
                         ")");
    return reinterpret_cast<RvkPgModuleEntry>(
        reinterpret_cast<void*>(GetProcAddress(handle, RVK_PG_MODULE_ENTRY)));
}

}  // namespace client
