// Waiting on the socket of a server connection with a deadline, so that the kit never waits for a
// server without a limit: libpq's own waits have none once a connection is made.
#pragma once

#include <algorithm>
#include <chrono>

namespace client::postgres {

using Clock = std::chrono::steady_clock;

// What is left until `deadline`, in milliseconds, at most an hour: 0 once it has passed.
inline int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60 * 60 * 1000));
}

// Waits until `socket` may be read (with `forRead`) or written (with `forWrite`), or until the
// deadline: false at the deadline. A wait that fails counts as ready, so that libpq finds and
// reports the failure.
bool awaitSocket(int socket, bool forRead, bool forWrite, Clock::time_point deadline);

}  // namespace client::postgres
