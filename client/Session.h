// What every operation of the host kit gets from its host besides its arguments: where the user
// stands, how long to wait for the repository lock, and where the operation's outcome on the
// state file, its notes and its progress go.
//
// The kit runs on the caller's thread, inside the call. Status looks at files from a few threads
// of its own, all ended before it returns; nothing else outlives a call.
#pragma once

#include <chrono>
#include <cstdint>

#include <client/Export.h>
#include <common/Expected.h>
#include <common/IoInterface.h>
#include <platform/OdString.h>

namespace client {

// How far a long operation has come in its current step: `done` of `total` files, and the bytes
// of the files done so far where the step counts them (0 otherwise).
struct Progress {
    // "checking", "storing", "restoring", "exporting", "verifying", "sending", "receiving"
    const char* step;
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    std::uint64_t bytes = 0;
    // The step moves bytes (to or from a server): a host shows them beside the files.
    bool transfer = false;
};

// What an operation tells its host while it runs. Both have defaults that drop what they get.
class RVKCLIENT_API Reporter {
public:
    virtual ~Reporter();
    // Something the user should know that does not fail the operation: a tracked file left out
    // of a listing, a wait for the repository lock, a note from the server.
    virtual void note(const ErrorMessage& note);
    // The operation advanced. False cancels it: it stops before its next file, leaving what a
    // kill at that moment would leave (the repository consistent, the work completed by running
    // the operation again), and fails with cancelledError().
    virtual bool progress(const Progress& progress);
};

// The lock an operation holds on its repository for its whole run: none (it only computes
// paths), shared (it only reads: several may run together), exclusive (it changes anything).
enum class LockMode { none, shared, exclusive };

// What every operation gets.
struct Session {
    // The host's, given to the library's Cache: it hears the outcome of every write of the state
    // file. It must outlive the call.
    const common::IoInterface& io;
    Reporter& reporter;
    // The folder the user stands in, absolute: the repository is the one that contains it, and
    // the paths an operation takes count from it (or are absolute).
    OdString folder;
    // How long an operation waits for another one to release the repository's lock.
    std::chrono::milliseconds lockTimeout = std::chrono::seconds(30);
};

// The process's current folder, absolute: what a host that runs in a terminal gives as
// Session::folder.
RVKCLIENT_API Expected<OdString> currentFolder();

// The code of the error an operation fails with when its Reporter cancelled it; every other
// error of the kit has code 0, as the library's have.
constexpr std::int32_t kCancelled = 1;
// That error.
RVKCLIENT_API ErrorMessage cancelledError();
// The code of the error an operation fails with when the state file could not be written; the
// host's IoInterface heard that outcome already, with the library's message, which this error
// repeats.
constexpr std::int32_t kStateNotWritten = 2;

}  // namespace client
