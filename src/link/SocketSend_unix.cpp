#include "SocketSend.h"

#include <sys/socket.h>

namespace qim {

qsizetype SendNow(qintptr socket, const char* data, qsizetype size) {
    if (socket < 0)
        return 0;
#ifdef MSG_NOSIGNAL
    const int flags = MSG_NOSIGNAL; // a peer that has gone must not raise SIGPIPE
#else
    const int flags = 0; // macOS: Qt sets SO_NOSIGPIPE on its sockets
#endif
    const ssize_t n = ::send(static_cast<int>(socket), data, static_cast<size_t>(size), flags);
    return n > 0 ? static_cast<qsizetype>(n) : 0;
}

} // namespace qim
