#include "probes/FtpClientControl.h"

#include "probes/EventWait.h"
#include "probes/FallbackBound.h"
#include "probes/HostLookup.h"

#include <QNetworkProxy>

FtpClientControl::FtpClientControl(QObject *parent)
    : QObject(parent)
{
    m_socket.setProxy(QNetworkProxy::NoProxy);
    connect(&m_socket, &QAbstractSocket::stateChanged, this, &FtpClientControl::StateChanged);
}

bool FtpClientControl::IsConnected() const
{
    const auto state = m_socket.state();
    return state == QAbstractSocket::ConnectedState || state == QAbstractSocket::ClosingState;
}

void FtpClientControl::Disconnect()
{
    if (m_socket.state() == QAbstractSocket::ConnectedState)
        m_socket.write("QUIT\r\n");
    // Anything not yet sent goes out first; the socket then closes by itself.
    m_socket.disconnectFromHost();
    m_received.clear();
}

void FtpClientControl::SetTimeout(qint16 seconds) { m_timeoutSeconds = seconds; }

void FtpClientControl::SetHostName(const QString &hostName) { m_hostName = hostName; }

void FtpClientControl::SetRemotePort(quint16 port) { m_remotePort = port; }

void FtpClientControl::SetUserName(const QString &userName) { m_userName = userName; }

void FtpClientControl::SetPassword(const QString &password) { m_password = password; }

int FtpClientControl::failure(const QDeadlineTimer &deadline) const
{
    if (EventWait::abandoned())
        return OtherFailure;
    if (deadline.hasExpired())
        return TimedOut;
    return SocketCodes::fromSocketError(m_socket.error(), OtherFailure);
}

int FtpClientControl::readReply(const QDeadlineTimer &deadline)
{
    QByteArray code; // set by the first line; a multi-line reply ends at "code "
    for (;;) {
        const qsizetype end = m_received.indexOf('\n');
        if (end < 0) {
            // A server that keeps talking, in lines or without any, is held
            // to the time limit and to a line length no FTP reply comes near.
            if (EventWait::abandoned())
                return OtherFailure;
            if (deadline.hasExpired())
                return TimedOut;
            if (m_received.size() > kLongestLine)
                return ProtocolError;
            if (m_socket.bytesAvailable() > 0) {
                m_received += m_socket.readAll();
                continue;
            }
            if (m_socket.state() != QAbstractSocket::ConnectedState)
                return failure(deadline);
            EventWait wait(deadline);
            wait.finishOn(&m_socket, &QIODevice::readyRead);
            wait.stopOn(&m_socket, &QAbstractSocket::errorOccurred);
            wait.stopOn(&m_socket, &QAbstractSocket::disconnected);
            if (!wait.exec() && m_socket.bytesAvailable() == 0)
                return failure(deadline);
            continue;
        }
        QByteArray line = m_received.left(end);
        if (line.endsWith('\r'))
            line.chop(1);
        m_received.remove(0, end + 1);
        if (code.isEmpty()) {
            const auto digit = [&line](int i) { return line.at(i) >= '0' && line.at(i) <= '9'; };
            // Reply codes start at 100; anything else is no FTP server.
            if (line.size() < 3 || line.at(0) < '1' || !digit(0) || !digit(1) || !digit(2))
                return ProtocolError;
            code = line.left(3);
            if (line.size() == 3 || line.at(3) != '-')
                return code.toInt();
        } else if (line.startsWith(code) && (line.size() == 3 || line.at(3) == ' ')) {
            return code.toInt();
        }
    }
}

int FtpClientControl::sendCommand(const QByteArray &command, const QDeadlineTimer &deadline)
{
    m_socket.write(command + "\r\n");
    return readReply(deadline);
}

int FtpClientControl::Login()
{
    m_socket.abort();
    m_received.clear();
    const int limitMs = m_timeoutSeconds > 0 ? m_timeoutSeconds * 1000 : FallbackBound::milliseconds();
    const QDeadlineTimer deadline(limitMs, Qt::PreciseTimer);

    // The name is resolved here, within the time limit, so that the socket
    // gets an address and starts no look-up of its own.
    const auto address = HostLookup::deviceAddress(m_hostName, deadline);
    if (!address)
        return deadline.hasExpired() ? TimedOut : HostNotFound;
    m_socket.connectToHost(*address, m_remotePort);
    EventWait wait(deadline);
    wait.finishOn(&m_socket, &QAbstractSocket::connected);
    wait.stopOn(&m_socket, &QAbstractSocket::errorOccurred);
    if (m_socket.state() != QAbstractSocket::ConnectedState && !wait.exec())
        return failure(deadline);

    int reply = readReply(deadline);
    // "120 ready in n minutes" comes before the real greeting.
    while (reply == 120)
        reply = readReply(deadline);
    if (reply != 220)
        return reply;

    // Texts sent to the server stay on one line: a CR or LF in a user name or
    // password would start a second command.
    const auto oneLine = [](const QString &text) {
        QByteArray bytes = text.toUtf8();
        bytes.replace('\r', "").replace('\n', "");
        return bytes;
    };
    reply = sendCommand("USER " + oneLine(m_userName), deadline);
    if (reply == 331)
        reply = sendCommand("PASS " + oneLine(m_password), deadline);
    return reply == 230 ? LoggedOn : reply;
}
