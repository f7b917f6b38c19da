#include "SocketSend.h"

namespace qim {

// Everything goes the socket's buffered way here.
qsizetype sendNow(qintptr, const char*, qsizetype) {
    return 0;
}

SocketLook lookAtSocket(qintptr) {
    return SocketLook::Quiet;
}

} // namespace qim
