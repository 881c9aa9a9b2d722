#pragma once

#include "probes/SocketCodes.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>

// A TCP client socket driven the way the probe drives it: set the remote end
// and a time limit, then one blocking connect. The outcome is the connect
// call's code and, on the next pass of event processing, exactly one
// notification: OnConnect, or OnError / OnTimeout.
class SocketControl : public QObject {
    Q_OBJECT
public:
    // Codes returned by Connect and carried by OnError (Windows Sockets numbering).
    enum Code : int {
        Connected = 0,
        AddressNotAvailable = SocketCodes::AddressNotAvailable,
        TimedOut = SocketCodes::TimedOut,
        HostNotFound = SocketCodes::HostNotFound,
        OtherFailure = -1,
    };

    explicit SocketControl(QObject *parent = nullptr);

    // True while a connection is open or still closing.
    bool IsConnected() const;
    void Disconnect();

    // Written as 0 before every connect; the control has no use for them.
    void SetReserved1(qint16 value);
    void SetReserved2(qint16 value);

    // A time limit of 0 or below would mean "wait forever"; the control
    // waits FallbackBound::milliseconds() instead.
    void SetTimeout(qint32 milliseconds);
    void SetHostName(const QString &hostName);
    void SetRemotePort(quint16 port);

    // Returns when the attempt has ended, the event loop running meanwhile;
    // 0 when the connection was established.
    int Connect();

signals:
    void OnConnect();
    void OnError(int errorCode, const QString &description, const QString &remote);
    void OnTimeout(int limitMs, const QString &remote);
    // The connection opened, began closing or closed: closing waits end on it.
    void StateChanged();

private:
    QString remote() const;

    QTcpSocket m_socket;
    qint32 m_timeoutMs = 0;
    QString m_hostName;
    quint16 m_remotePort = 0;
};
