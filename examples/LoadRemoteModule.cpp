// Loading the remote module (RemoteModule.h), once, and checking that it is the one built with
// this rvk; the system's part is in LoadRemoteModule_posix.cpp and LoadRemoteModule_windows.cpp.
#include "RemoteModule.h"

#include <string>

#include "Console.h"

namespace rvk {

namespace {

Expected<const RemoteModule*> load() {
    std::string path;
    const auto entry = openRemoteModule(path);
    if (!entry.hasValue())
        return entry.error();
    const RemoteModule* module = entry.value() != nullptr ? entry.value()() : nullptr;
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

}  // namespace rvk
