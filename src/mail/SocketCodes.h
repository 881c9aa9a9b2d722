#pragma once

#include <QAbstractSocket>

// Failure codes of the network components, in Windows Sockets numbering, so
// that a code means the same whichever component reports it.
namespace SocketCodes {

enum : int {
    AddressNotAvailable = 10049,
    NetworkUnreachable = 10051,
    ConnectionReset = 10054,
    TimedOut = 10060,
    ConnectionRefused = 10061,
    HostNotFound = 11001,
};

// The code of a socket error; `otherwise` for an error that has none.
int fromSocketError(QAbstractSocket::SocketError error, int otherwise);

} // namespace SocketCodes
