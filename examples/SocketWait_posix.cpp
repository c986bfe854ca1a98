#include "SocketWait.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace host {

bool awaitSocket(int socket, bool forRead, bool forWrite, Clock::time_point deadline) {
    if (socket < 0)
        return true;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        const int wait = static_cast<int>(std::min<long long>(left, 60 * 60 * 1000));
        pollfd p{socket, static_cast<short>((forRead ? POLLIN : 0) | (forWrite ? POLLOUT : 0)), 0};
        const int n = ::poll(&p, 1, wait);
        if (n > 0 || (n < 0 && errno != EINTR))
            return true;
    }
}

}  // namespace host
