// Loading the kit's PostgreSQL part on POSIX systems: it lies in the folder of the kit's own
// library, found from the address of the kit's code, wherever the host and the kit were put.
#include <client/shared/LoadServerModule.h>

#include <dlfcn.h>

#include <string>

#include <client/Text.h>

#ifndef RVK_SERVER_MODULE
#error "RVK_SERVER_MODULE: the module's file name, set by the build"
#endif

namespace client {

namespace {

// The folder of the binary this code is in (librvkclient, or a program linked with its objects).
std::string ownFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ownFolder), &info) == 0 || info.dli_fname == nullptr)
        return "./";
    std::string path = info.dli_fname;
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

}  // namespace

Expected<RvkPgModuleEntry> openServerModule(std::string& path) {
    path = ownFolder() + RVK_SERVER_MODULE;
    // Bound at once, so that a module that does not fit fails here and not in mid-operation.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return hostError(std::string("the shared history cannot be reached: ") + ::dlerror());
    return reinterpret_cast<RvkPgModuleEntry>(::dlsym(handle, RVK_PG_MODULE_ENTRY));
}

}  // namespace client
