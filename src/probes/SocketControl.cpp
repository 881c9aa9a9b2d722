#include "probes/SocketControl.h"

#include "probes/TextRules.h"

#include <QNetworkProxy>

SocketControl::SocketControl(QObject *parent)
    : QObject(parent)
{
    // A port check talks to the device itself, never through a proxy.
    m_socket.setProxy(QNetworkProxy::NoProxy);
}

bool SocketControl::IsConnected() const
{
    const auto state = m_socket.state();
    return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::ClosingState;
}

void SocketControl::Disconnect()
{
    m_socket.disconnectFromHost();
}

void SocketControl::SetReserved1(qint16) {}

void SocketControl::SetReserved2(qint16) {}

void SocketControl::SetTimeout(qint32 milliseconds)
{
    m_timeoutMs = milliseconds;
}

void SocketControl::SetHostName(const QString &hostName)
{
    m_hostName = hostName;
}

void SocketControl::SetRemotePort(quint16 port)
{
    m_remotePort = port;
}

QString SocketControl::remote() const
{
    return m_hostName + QLatin1Char(':') + QString::number(m_remotePort);
}

int SocketControl::Connect()
{
    m_socket.abort();
    const QString target = remote();

    // Notifications are posted, so they reach the owner on its next pass of
    // event processing, never from inside this call.
    const auto fail = [this, &target](int code, const QString &description) {
        QMetaObject::invokeMethod(
            this, [this, code, description, target] { emit OnError(code, description, target); },
            Qt::QueuedConnection);
        return code;
    };

    if (m_remotePort == 0)
        return fail(AddressNotAvailable, tr("Port 0 cannot be connected to"));

    const int limit = m_timeoutMs > 0 ? m_timeoutMs : kFallbackTimeoutMs;
    // A device name typed with blanks around it names the same device.
    m_socket.connectToHost(TextRules::trimSpaces(m_hostName), m_remotePort);
    if (m_socket.waitForConnected(limit)) {
        QMetaObject::invokeMethod(this, &SocketControl::OnConnect, Qt::QueuedConnection);
        return Connected;
    }

    const auto error = m_socket.error();
    const QString description = m_socket.errorString();
    m_socket.abort();
    if (error == QAbstractSocket::SocketTimeoutError) {
        QMetaObject::invokeMethod(
            this, [this, limit, target] { emit OnTimeout(limit, target); }, Qt::QueuedConnection);
        return TimedOut;
    }
    return fail(SocketCodes::fromSocketError(error, OtherFailure), description);
}
