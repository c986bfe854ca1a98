#include <client/postgres/SocketWait.h>

#include <winsock2.h>


namespace client::postgres {

bool awaitSocket(int socket, bool forRead, bool forWrite, Clock::time_point deadline) {
    if (socket < 0)
        return true;
    const auto s = static_cast<SOCKET>(socket);
    for (;;) {
        const int wait = millisecondsLeft(deadline);
        if (wait == 0)
            return false;
        fd_set readable, writable, failed;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        if (forRead)
            FD_SET(s, &readable);
        if (forWrite)
            FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval limit{wait / 1000, (wait % 1000) * 1000};
        if (::select(0, &readable, &writable, &failed, &limit) != 0)
            return true;
    }
}

}  // namespace client::postgres
