#pragma once
// How the program reaches the bus: the connection dialog edits a copy and
// hands it to the link.

#include <QString>
#include <cstdint>

namespace qim {

struct LinkSettings {
    enum class Transport { Serial, Tcp };

    Transport transport = Transport::Serial;
    int comPort = 2; // COMn, 1..32
    // A serial device opened as it is named, instead of what COMn resolves
    // to (a script's --port /dev/ttyUSB0); empty: COMn.
    QString device;
    int baudIndex = 1; // 0 = 9600, 1 = 19200, 2 = 57600, 3 = 115200
    int serialTimeoutMs = 1000;
    QString host = QStringLiteral("192.168.1.0");
    quint16 port = 502;
    int tcpTimeoutMs = 1000;
    int tcpConnectTimeoutMs = 3000;

    bool tcp() const { return transport == Transport::Tcp; }
    // The line speed of baudIndex; 0 for an index outside 0..3.
    int baudRate() const;
    // "COM2" (or the named device) or the host: where the status bar says we are connected.
    QString place() const;

    bool operator==(const LinkSettings&) const = default;
};

} // namespace qim
