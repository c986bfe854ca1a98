#include <common/Cache.h>

#include <utility>

#include <common/internal/Messages.h>
#include <common/internal/StateFile.h>
#include <platform/OdError.h>

namespace common {

Expected<Cache> Cache::get(const RootPath& root, bool createIfMissing, const IoInterface& io) {
    const ut::FileName file(root.statePath());
    if (file.exists(ut::FileName::kAnyObject)) {
        try {
            Expected<State> state = readState(file.getFullPath());
            if (!state.hasValue())
                return state.error();
            return Cache(root, std::move(state).value(), io);
        } catch (const OdError& error) {
            return ErrorMessage{error.description(), 0};
        }
    }
    if (createIfMissing) {
        Cache fresh(root, io);
        io.report(writeState(fresh.state, fresh.stateFile.getFullPath()));
        return fresh;
    }
    return translatedError("No state file found at %ls", file.getFullPath());
}

Cache::Cache(const RootPath& root, State state, const IoInterface& io)
    : pendingWrite(false), state(std::move(state)), stateFile(root.statePath()), io(&io) {}

Cache::Cache(const RootPath& root, const IoInterface& io)
    : pendingWrite(true), state(), stateFile(root.statePath()), io(&io) {}

Cache::Cache(const Cache& other) = default;

Cache::Cache(Cache&& other)
    : pendingWrite(other.pendingWrite),
      state(std::move(other.state)),
      stateFile(other.stateFile),
      io(other.io) {
    // The source's state is gone: it must never write its emptied state over the file.
    other.pendingWrite = false;
}

Cache::~Cache() {
    if (!pendingWrite)
        return;
    try {
        io->report(writeState(state, stateFile.getFullPath()));
    } catch (...) {
        // Only the path itself can fail here (out of memory); a destructor has nowhere to send it.
    }
}

Transaction Cache::getTransaction() {
    return Transaction(*this);
}

Transaction::Transaction(Cache& cache) : cache(&cache), snapshot(cache.state), committed(false) {}

Transaction::Transaction(const Transaction& other) = default;

Transaction::~Transaction() {
    if (committed)
        return;
    cache->pendingWrite = true;
    std::swap(cache->state, snapshot);
}

}  // namespace common
