#include "mail/SocketCodes.h"

namespace SocketCodes {

int fromSocketError(QAbstractSocket::SocketError error, int otherwise)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return ConnectionRefused;
    case QAbstractSocket::HostNotFoundError:
        return HostNotFound;
    case QAbstractSocket::SocketTimeoutError:
        return TimedOut;
    case QAbstractSocket::RemoteHostClosedError:
        return ConnectionReset;
    case QAbstractSocket::NetworkError:
        return NetworkUnreachable;
    case QAbstractSocket::SocketAddressNotAvailableError:
        return AddressNotAvailable;
    default:
        return otherwise;
    }
}

} // namespace SocketCodes
