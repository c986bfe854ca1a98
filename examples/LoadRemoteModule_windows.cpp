// The shared history's commands need PostgreSQL's client library, which the Windows build does not
// carry yet: every one of them says so, and nothing else of rvk depends on them.
#include "RemoteModule.h"

#include "Console.h"

namespace host {

Expected<const RemoteModule*> remoteModule() {
    return hostError(
        "the shared-history commands are not part of this build of rvk for Windows: it is built "
        "without PostgreSQL's client library");
}

}  // namespace host
