// The remote module's table: the shared history's commands, as rvk calls them (RemoteModule.h).
#include "RemoteModule.h"

#include "SharedHistory.h"

#if defined(_WIN32)
#define RVK_MODULE_EXPORT __declspec(dllexport)
#else
#define RVK_MODULE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" RVK_MODULE_EXPORT const rvk::RemoteModule* rvkRemoteModule() {
    static const rvk::RemoteModule kModule = {
        rvk::kRemoteModuleVersion,
        rvk::remote,
        rvk::clone,
        rvk::push,
        rvk::pull,
        rvk::uncommit,
        rvk::lock,
        rvk::unlock,
        rvk::locks,
        rvk::noteLocksHeldByOthers,
    };
    return &kModule;
}
