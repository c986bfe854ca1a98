// The remote module's table: the shared history's commands, as rvk calls them (RemoteModule.h).
#include "RemoteModule.h"

#include "SharedHistory.h"

#if defined(_WIN32)
#define RVK_MODULE_EXPORT __declspec(dllexport)
#else
#define RVK_MODULE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" RVK_MODULE_EXPORT const host::RemoteModule* rvkRemoteModule() {
    static const host::RemoteModule kModule = {
        host::kRemoteModuleVersion,
        host::remote,
        host::clone,
        host::push,
        host::pull,
        host::uncommit,
        host::lock,
        host::unlock,
        host::locks,
        host::noteLocksHeldByOthers,
    };
    return &kModule;
}
