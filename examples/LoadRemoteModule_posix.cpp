// Loading the remote module (RemoteModule.h) on POSIX systems: it lies in the library folder of
// rvk's own prefix, found from the program's path, as the program's run path finds the libraries.
#include "RemoteModule.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

#include "Console.h"

#ifndef RVK_REMOTE_MODULE
#error "RVK_REMOTE_MODULE: the module's path from rvk's folder, set by the build"
#endif

namespace rvk {

namespace {

// The module's path: RVK_REMOTE_MODULE from the folder of the running program.
std::string modulePath() {
    char self[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = size > 0 ? std::string(self, static_cast<std::size_t>(size)) : ".";
    path.erase(path.find_last_of('/') + 1);
    return path + RVK_REMOTE_MODULE;
}

}  // namespace

Expected<RemoteModuleEntry> openRemoteModule(std::string& path) {
    path = modulePath();
    // Bound at once, so that a module that does not fit fails here and not in mid-command.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return hostError(std::string("the shared-history commands cannot be loaded: ") +
                         ::dlerror());
    return reinterpret_cast<RemoteModuleEntry>(::dlsym(handle, "rvkRemoteModule"));
}

}  // namespace rvk
