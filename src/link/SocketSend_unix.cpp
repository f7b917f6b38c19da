#include "SocketSend.h"

#include <cerrno>
#include <sys/socket.h>

namespace qim {

qsizetype sendNow(qintptr socket, const char* data, qsizetype size) {
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

SocketLook lookAtSocket(qintptr socket) {
    if (socket < 0)
        return SocketLook::Closed;
    char byte = 0;
    const ssize_t n = ::recv(static_cast<int>(socket), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0)
        return SocketLook::Unasked;
    if (n == 0)
        return SocketLook::Closed;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? SocketLook::Quiet
                                                                     : SocketLook::Closed;
}

} // namespace qim
