#pragma once

#include "probes/SocketCodes.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTcpSocket>

// An FTP client that does one thing: connect to a server's control port and
// log on, within a time limit. The logon call returns when the attempt has
// ended and its code alone tells the outcome.
class FtpClientControl : public QObject {
    Q_OBJECT
public:
    // Codes of Login() other than the server's own refusal code.
    enum Code : int {
        LoggedOn = 0,
        TimedOut = SocketCodes::TimedOut,
        ConnectionRefused = SocketCodes::ConnectionRefused,
        HostNotFound = SocketCodes::HostNotFound,
        ProtocolError = -2,
        OtherFailure = -1,
    };

    // The longest reply line taken in, in bytes.
    static constexpr qsizetype kLongestLine = 64 * 1024;

    explicit FtpClientControl(QObject *parent = nullptr);

    // True while the control connection is open or still closing.
    bool IsConnected() const;
    // Says QUIT when a connection is open, then closes it.
    void Disconnect();

    // Seconds; 0 or below waits FallbackBound::milliseconds() instead.
    void SetTimeout(qint16 seconds);
    void SetHostName(const QString &hostName);
    void SetRemotePort(quint16 port);
    void SetUserName(const QString &userName);
    void SetPassword(const QString &password);

    // Connects and logs on, the event loop running meanwhile; 0 when the server accepted the logon, otherwise
    // the server's reply code or one of the codes above.
    int Login();

signals:
    // The connection opened, began closing or closed: closing waits end on it.
    void StateChanged();

private:
    // One complete reply, multi-line replies included; its code, or a negative
    // or network code when none came in time.
    int readReply(const QDeadlineTimer &deadline);
    int sendCommand(const QByteArray &command, const QDeadlineTimer &deadline);
    int failure(const QDeadlineTimer &deadline) const;

    QTcpSocket m_socket;
    QByteArray m_received;
    qint16 m_timeoutSeconds = 0;
    QString m_hostName;
    quint16 m_remotePort = 21;
    QString m_userName;
    QString m_password;
};
