// The system's part of loading the kit's PostgreSQL part (LoadServerModule_posix.cpp,
// _windows.cpp).
#pragma once

#include <string>

#include <common/Expected.h>

#include <client/shared/ServerModule.h>

namespace client {

// Loads the module from beside the kit's own library, for good, and finds its entry, null when
// the module has none. `path` is where it was looked for, for messages; an error saying why it
// could not be loaded.
Expected<RvkPgModuleEntry> openServerModule(std::string& path);

}  // namespace client
