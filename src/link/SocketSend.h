#pragma once
// Sends bytes straight to a connected socket's descriptor. A request is a few
// dozen bytes, which an idle connection takes whole; sending it past the
// socket's buffered write spares the write notifier that write arms and
// disarms around every request, each a wake-up of the event loop.

#include <QtGlobal>

namespace qim {

// How many bytes the socket took: 0 on any error, when it would block, and
// on systems without a file of their own for this. The caller writes the
// rest the buffered way, which also reports any error.
qsizetype sendNow(qintptr socket, const char* data, qsizetype size);

// Whether a kept connection can carry the next request: the peer's close or
// bytes nobody asked for may wait in the kernel before the event loop has
// told the socket. Systems without a file of their own say Quiet; a close
// missed here still ends the transaction as a close.
enum class SocketLook { Quiet, Closed, Unasked };
SocketLook lookAtSocket(qintptr socket);

} // namespace qim
