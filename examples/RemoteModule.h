// The commands of a shared history live in a module of their own, "rvk-remote.so", that rvk loads
// only when one of them runs, or when status finds a remote to ask for locks. Linked into rvk, the
// server's client library and what it brings (TLS, Kerberos, LDAP: 24 more shared objects, bound
// at once) more than doubled the start-up that every command pays, status on a clean tree first:
// `rvk help` took 6.2 ms instead of 2.8.
//
// The module is built with rvk, from the same sources and compiler, so the table below is passed
// as it is; its version only tells a module of another build from ours.
#pragma once

#include <string>
#include <vector>

#include <common/Expected.h>

#include "Commands.h"

namespace rvk {

struct RemoteModule {
    using Command = int (*)(const std::vector<std::string>& args, const Session& session);
    int version;
    Command remote, clone, push, pull, uncommit, lock, unlock, locks;
    // Notes on stderr the locks that roles other than that of `conninfo` hold.
    void (*noteLocksOfOthers)(const std::string& conninfo);
};

// Changes whenever the table does.
constexpr int kRemoteModuleVersion = 2;

// The module, loaded on the first call (LoadRemoteModule.cpp); an error saying where it was looked
// for and why it could not be loaded otherwise.
Expected<const RemoteModule*> remoteModule();

// The module's one exported function, which gives its table.
using RemoteModuleEntry = const RemoteModule* (*)();
// The system's part of loading the module (LoadRemoteModule_posix.cpp, _windows.cpp): loads it
// from beside rvk, for good, and finds its entry, null when the module has none. `path` is where
// it was looked for, for messages; an error saying why it could not be loaded.
Expected<RemoteModuleEntry> openRemoteModule(std::string& path);

// A command of the module, for rvk's command table: loads the module and runs `entry`.
template <RemoteModule::Command RemoteModule::*entry>
int remoteCommand(const std::vector<std::string>& args, const Session& session) {
    const RemoteModule* module = orFail(remoteModule());
    return (module->*entry)(args, session);
}

}  // namespace rvk

// The module's one exported symbol (RemoteModule.cpp).
extern "C" const rvk::RemoteModule* rvkRemoteModule();
