#pragma once
// Error numbers the link shows in its messages. Each table is the one place
// where a Qt error becomes a number.

#include <QAbstractSocket>
#include <QSerialPort>

namespace qim::Errors {

// Serial port errors. The "port not available" class all share 8002 and get
// the port-unavailable message; every other error is " Communication Error "
// and its number.
//
//   QSerialPort error              number  class
//   DeviceNotFoundError            8002    not available
//   PermissionError                8002    not available
//   OpenError                      8002    not available (already open elsewhere)
//   ResourceError                  8002    not available (device vanished, adapter pulled)
//   WriteError                     8010
//   ReadError                      8011
//   UnsupportedOperationError      8012
//   TimeoutError                   8013
//   NotOpenError                   8014
//   UnknownError and anything else 8099
// Any error after the port's device has disappeared (a USB adapter pulled, a
// pty closed) is 8002, whatever the driver reported (a read error, mostly).
constexpr int PortNotAvailable = 8002;
int serialErrorNumber(QSerialPort::SerialPortError e);
// The message of the "not available" class.
QString portUnavailableMessage();

// Socket errors, numbered as the Windows socket layer numbers them, which is
// what engineers meet in every other Modbus tool's logs.
//
//   QAbstractSocket error          number
//   ConnectionRefusedError         10061
//   RemoteHostClosedError          10054
//   HostNotFoundError              11001
//   SocketAccessError              10013
//   SocketResourceError            10055
//   SocketTimeoutError             10060
//   DatagramTooLargeError          10040
//   NetworkError                   10050
//   AddressInUseError              10048
//   SocketAddressNotAvailableError 10049
//   UnsupportedSocketOperationError 10045
//   UnfinishedSocketOperationError 10036
//   anything else                  10000
int socketErrorNumber(QAbstractSocket::SocketError e);

// Errors that only mean "the server could not be reached": a connection
// attempt ends as if its time had run out.
bool isUnreachable(QAbstractSocket::SocketError e);

// Connect failures that say this machine ran out of something (descriptors,
// local ports, buffers), not that the server is missing. Qt 6.4 on Linux
// reports EMFILE, ENFILE and ENOBUFS as SocketResourceError and
// EADDRNOTAVAIL (no ephemeral port left) as UnknownSocketError.
bool isLocalShortage(QAbstractSocket::SocketError e);

// A failed transaction's status in words, as every message about one says
// it: "link not available" (252), "no reply" or "wrong length" (253, told
// apart by noReply), "CRC error" (254), else "exception code N".
QString statusReason(int16_t status, bool noReply);

// The standard name of a Modbus exception code ("Illegal Data Address");
// empty for a code without one.
QString exceptionName(int code);

} // namespace qim::Errors
