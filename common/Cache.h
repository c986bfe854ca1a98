// Cache and Transaction: the host's handle on a repository's state.
//
// A Cache holds the state of one repository, loaded from its state file by get(). It writes the
// state back when it ends, once, and only if the state was handed out for change (write()), a
// Transaction over it ended without commit, or the state was made fresh. Each write's outcome goes
// to the host's IoInterface::report. A Transaction copies the state when it begins and, unless
// committed, puts that copy back when it ends, so a sequence of changes stays whole or is undone:
//
//     auto cache = Cache::get(root, false, io);
//     if (!cache.hasValue()) { show(cache.error()); return; }
//     {
//         Transaction t = cache.value().getTransaction();
//         cache.value().write().stagedFiles.push_back(file);
//         t.commit();
//     }   // the Cache writes rvk.state when it ends
#pragma once

#include <common/Expected.h>
#include <common/Export.h>
#include <common/IoInterface.h>
#include <common/RootPath.h>
#include <common/State.h>
#include <platform/FileName.h>

namespace common {

class Transaction;

class RVK_EXPORT Cache {
public:
    // Loads the state of the repository at `root`. When the state file exists it is read whatever
    // `createIfMissing` says; its errors come back as the ErrorMessage (a file that is not JSON
    // gives "Unable to parse json, please check if syntax is valid"). When it is missing and
    // `createIfMissing` is set, a default state is written at once (outcome to io.report) and the
    // Cache writes it again when it ends; otherwise "No state file found at %ls". `io` must outlive
    // the Cache and all its copies.
    static Expected<Cache> get(const RootPath& root, bool createIfMissing, const IoInterface& io);

    // Each copy writes its own state back when it ends, if it has to.
    Cache(const Cache& other);
    // The new Cache takes over the state and the duty to write it; the source writes nothing.
    Cache(Cache&& other);
    Cache& operator=(const Cache&) = delete;
    Cache& operator=(Cache&&) = delete;
    // Writes the state back if it has to, reporting the outcome; never throws.
    ~Cache();

    // The state, for reading only. No file is touched.
    const State& read() const { return state; }
    // The state, for change; the Cache will write it back when it ends. No file is touched now.
    State& write() {
        pendingWrite = true;
        return state;
    }
    Transaction getTransaction();

private:
    friend class Transaction;

    Cache(const RootPath& root, State state, const IoInterface& io);
    Cache(const RootPath& root, const IoInterface& io);

    bool pendingWrite;
    State state;
    ut::FileName stateFile;
    const IoInterface* io;
};

class RVK_EXPORT Transaction {
public:
    // Copies the state of `cache`, which must outlive the Transaction.
    explicit Transaction(Cache& cache);
    Transaction(const Transaction& other);
    Transaction& operator=(const Transaction&) = delete;
    // Unless committed, gives the Cache back the state it had when the Transaction began (and the
    // duty to write it, even when nothing changed).
    ~Transaction();

    // Keeps the changes when the Transaction ends. May be called any number of times.
    void commit() { committed = true; }

private:
    Cache* cache;
    State snapshot;
    bool committed;
};

}  // namespace common
