// Loading the kit's PostgreSQL part, once, and checking that it is the one built with this kit.
#include <client/shared/LoadServerModule.h>

#include <client/Text.h>
#include <client/shared/ServerConnection.h>

namespace client {

namespace {

Expected<const RvkPgModule*> load() {
    std::string path;
    const auto entry = openServerModule(path);
    if (!entry.hasValue())
        return entry.error();
    const RvkPgModule* module = entry.value() != nullptr ? entry.value()() : nullptr;
    if (module == nullptr || module->version != RVK_PG_MODULE_VERSION)
        return hostError(quoteName(path) + " is not the PostgreSQL part of this kit");
    // Never unloaded: a connection may be open until the host ends.
    return module;
}

}  // namespace

Expected<const RvkPgModule*> serverModule() {
    // Loaded once for the process, whichever thread asks first.
    static const Expected<const RvkPgModule*> loaded = load();
    return loaded;
}

}  // namespace client
