// Loading the remote module (RemoteModule.h): it lies in the library folder of rvk's own prefix,
// found from the program's path, as the program's run path finds the libraries.
#include "RemoteModule.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <string>

#include "Console.h"

#ifndef RVK_REMOTE_MODULE
#error "RVK_REMOTE_MODULE: the module's path from rvk's folder, set by the build"
#endif

namespace host {

namespace {

// The module's path: RVK_REMOTE_MODULE from the folder of the running program.
std::string modulePath() {
    char self[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = size > 0 ? std::string(self, static_cast<std::size_t>(size)) : ".";
    path.erase(path.find_last_of('/') + 1);
    return path + RVK_REMOTE_MODULE;
}

Expected<const RemoteModule*> load() {
    const std::string path = modulePath();
    // Bound at once, so that a module that does not fit fails here and not in mid-command.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        return hostError(std::string("the shared-history commands cannot be loaded: ") +
                         ::dlerror());
    using Entry = const RemoteModule* (*)();
    const auto entry = reinterpret_cast<Entry>(::dlsym(handle, "rvkRemoteModule"));
    const RemoteModule* module = entry != nullptr ? entry() : nullptr;
    if (module == nullptr || module->version != kRemoteModuleVersion)
        return hostError(quoteName(path) + " is not the remote module of this rvk");
    // Never unloaded: its code runs until the command ends.
    return module;
}

}  // namespace

Expected<const RemoteModule*> remoteModule() {
    static const Expected<const RemoteModule*> loaded = load();
    return loaded;
}

}  // namespace host
