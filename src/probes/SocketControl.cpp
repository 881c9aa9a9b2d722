#include "probes/SocketControl.h"

#include "probes/EventWait.h"
#include "probes/FallbackBound.h"
#include "probes/HostLookup.h"

#include <QNetworkProxy>

SocketControl::SocketControl(QObject *parent)
    : QObject(parent)
{
    // A port check talks to the device itself, never through a proxy.
    m_socket.setProxy(QNetworkProxy::NoProxy);
    connect(&m_socket, &QAbstractSocket::stateChanged, this, &SocketControl::StateChanged);
}

bool SocketControl::IsConnected() const
{
    const auto state = m_socket.state();
    return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::ClosingState;
}

void SocketControl::Disconnect() { m_socket.disconnectFromHost(); }

void SocketControl::SetReserved1(qint16) { }

void SocketControl::SetReserved2(qint16) { }

void SocketControl::SetTimeout(qint32 milliseconds) { m_timeoutMs = milliseconds; }

void SocketControl::SetHostName(const QString &hostName) { m_hostName = hostName; }

void SocketControl::SetRemotePort(quint16 port) { m_remotePort = port; }

QString SocketControl::remote() const { return m_hostName + QLatin1Char(':') + QString::number(m_remotePort); }

int SocketControl::Connect()
{
    m_socket.abort();
    const QString target = remote();

    // Notifications are posted, so they reach the owner on its next pass of
    // event processing, never from inside this call.
    const auto fail = [this, &target](int code, const QString &description) {
        QMetaObject::invokeMethod(
            this, [this, code, description, target] { emit OnError(code, description, target); }, Qt::QueuedConnection);
        return code;
    };

    if (m_remotePort == 0)
        return fail(AddressNotAvailable, tr("Port 0 cannot be connected to"));

    const int limit = m_timeoutMs > 0 ? m_timeoutMs : FallbackBound::milliseconds();
    const QDeadlineTimer deadline(limit, Qt::PreciseTimer);
    const auto timedOut = [this, limit, &target] {
        QMetaObject::invokeMethod(
            this, [this, limit, target] { emit OnTimeout(limit, target); }, Qt::QueuedConnection);
        return int(TimedOut);
    };

    // The name is resolved here, within the time limit, so that the socket
    // gets an address and starts no look-up of its own.
    const auto address = HostLookup::deviceAddress(m_hostName, deadline);
    if (EventWait::abandoned())
        return OtherFailure;
    if (!address)
        return deadline.hasExpired() ? timedOut() : fail(HostNotFound, tr("Host not found"));

    m_socket.connectToHost(*address, m_remotePort);
    EventWait wait(deadline);
    wait.finishOn(&m_socket, &QAbstractSocket::connected);
    wait.stopOn(&m_socket, &QAbstractSocket::errorOccurred);
    if (m_socket.state() == QAbstractSocket::ConnectedState || wait.exec()) {
        QMetaObject::invokeMethod(this, &SocketControl::OnConnect, Qt::QueuedConnection);
        return Connected;
    }

    const auto error = m_socket.error();
    const QString description = m_socket.errorString();
    const bool failed
        = m_socket.state() != QAbstractSocket::ConnectingState && m_socket.state() != QAbstractSocket::HostLookupState;
    m_socket.abort();
    if (EventWait::abandoned())
        return OtherFailure;
    if (!failed)
        return timedOut();
    return fail(SocketCodes::fromSocketError(error, OtherFailure), description);
}
