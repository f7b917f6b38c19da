#include "Errors.h"

#include "Reply.h"

namespace qim::Errors {

QString portUnavailableMessage() {
    return QStringLiteral(" The Comm Port you have selected is not available in your computer or "
                          "being used by another program.");
}

int serialErrorNumber(QSerialPort::SerialPortError e) {
    switch (e) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
    case QSerialPort::ResourceError:
        return PortNotAvailable;
    case QSerialPort::WriteError:
        return 8010;
    case QSerialPort::ReadError:
        return 8011;
    case QSerialPort::UnsupportedOperationError:
        return 8012;
    case QSerialPort::TimeoutError:
        return 8013;
    case QSerialPort::NotOpenError:
        return 8014;
    default:
        return 8099;
    }
}

int socketErrorNumber(QAbstractSocket::SocketError e) {
    switch (e) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::DatagramTooLargeError:
        return 10040;
    case QAbstractSocket::NetworkError:
        return 10050;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045;
    case QAbstractSocket::UnfinishedSocketOperationError:
        return 10036;
    default:
        return 10000;
    }
}

bool isUnreachable(QAbstractSocket::SocketError e) {
    switch (e) {
    case QAbstractSocket::ConnectionRefusedError:
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::NetworkError:
    case QAbstractSocket::SocketAddressNotAvailableError:
    case QAbstractSocket::RemoteHostClosedError:
        return true;
    default:
        return false;
    }
}

bool isLocalShortage(QAbstractSocket::SocketError e) {
    switch (e) {
    case QAbstractSocket::SocketResourceError:
    case QAbstractSocket::AddressInUseError:
    case QAbstractSocket::UnknownSocketError:
        return true;
    default:
        return false;
    }
}

QString statusReason(int16_t status, bool noReply) {
    switch (status) {
    case Status::LinkDown:
        return QStringLiteral("link not available");
    case Status::WrongLength:
        return noReply ? QStringLiteral("no reply") : QStringLiteral("wrong length");
    case Status::CrcError:
        return QStringLiteral("CRC error");
    default:
        return QStringLiteral("exception code %1").arg(status);
    }
}

QString exceptionName(int code) {
    static const char* const names[] = {nullptr,
                                        "Illegal Function",
                                        "Illegal Data Address",
                                        "Illegal Data Value",
                                        "Server Device Failure",
                                        "Acknowledge",
                                        "Server Device Busy",
                                        "Negative Acknowledge",
                                        "Memory Parity Error",
                                        nullptr,
                                        "Gateway Path Unavailable",
                                        "Gateway Target Device Failed to Respond"};
    const bool listed = code >= 0 && code < int(std::size(names)) && names[code];
    return listed ? QString::fromLatin1(names[code]) : QString();
}

} // namespace qim::Errors
