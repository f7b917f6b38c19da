#pragma once
// How the program reaches the bus: the connection dialog edits a copy and
// hands it to the link.

#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace qim {

// The serial line speeds the modules run at, slowest first: the order the
// connection dialog lists them in.
enum class LineSpeed { Baud9600, Baud19200, Baud57600, Baud115200 };
constexpr std::array<int, 4> BaudRates{9600, 19200, 57600, 115200}; // by LineSpeed
constexpr int bitsPerSecond(LineSpeed s) {
    return BaudRates[static_cast<size_t>(s)];
}
// The speed of a rate in bit/s; nullopt for one the modules do not run at.
std::optional<LineSpeed> lineSpeedOf(qint64 rate);
// "9600, 19200, 57600 or 115200", as a refusal lists them.
QString lineSpeedList();

struct LinkSettings {
    enum class Transport { Serial, Tcp };

    Transport transport = Transport::Serial;
    int comPort = 2; // COMn, 1..32
    // A serial device opened as it is named, instead of what COMn resolves
    // to (a script's --port /dev/ttyUSB0); empty: COMn.
    QString device;
    LineSpeed speed = LineSpeed::Baud19200;
    int serialTimeoutMs = 1000;
    QString host = QStringLiteral("192.168.1.0");
    quint16 port = 502;
    int tcpTimeoutMs = 1000;
    int tcpConnectTimeoutMs = 3000;

    bool tcp() const { return transport == Transport::Tcp; }
    int baudRate() const { return bitsPerSecond(speed); }
    // "COM2" (or the named device) or the host: where the status bar says we are connected.
    QString place() const;

    bool operator==(const LinkSettings&) const = default;
};

} // namespace qim
