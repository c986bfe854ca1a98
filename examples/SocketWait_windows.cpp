#include "SocketWait.h"

#include <winsock2.h>

#include <algorithm>

namespace host {

bool awaitSocket(int socket, bool forRead, bool forWrite, Clock::time_point deadline) {
    if (socket < 0)
        return true;
    const auto s = static_cast<SOCKET>(socket);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        const int wait = static_cast<int>(std::min<long long>(left, 60 * 60 * 1000));
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

}  // namespace host
