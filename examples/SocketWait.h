// Waiting on the socket of a server connection with a deadline, so that rvk never waits for a
// server without a limit: libpq's own waits have none once a connection is made.
#pragma once

#include <chrono>

namespace host {

using Clock = std::chrono::steady_clock;

// Waits until `socket` may be read (with `forRead`) or written (with `forWrite`), or until the
// deadline: false at the deadline. A wait that fails counts as ready, so that libpq finds and
// reports the failure.
bool awaitSocket(int socket, bool forRead, bool forWrite, Clock::time_point deadline);

}  // namespace host
