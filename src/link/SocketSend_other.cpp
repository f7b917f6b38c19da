#include "SocketSend.h"

namespace qim {

// Everything goes the socket's buffered way here.
qsizetype SendNow(qintptr, const char*, qsizetype) {
    return 0;
}

SocketLook LookAtSocket(qintptr) {
    return SocketLook::Quiet;
}

} // namespace qim
