#include <client/postgres/SocketWait.h>

#include <poll.h>

#include <cerrno>

namespace client::postgres {

bool awaitSocket(int socket, bool forRead, bool forWrite, Clock::time_point deadline) {
    if (socket < 0)
        return true;
    for (;;) {
        const int wait = millisecondsLeft(deadline);
        if (wait == 0)
            return false;
        pollfd p{socket, static_cast<short>((forRead ? POLLIN : 0) | (forWrite ? POLLOUT : 0)), 0};
        const int n = ::poll(&p, 1, wait);
        if (n > 0 || (n < 0 && errno != EINTR))
            return true;
    }
}

}  // namespace client::postgres
