#include "actions/SmtpClientControl.h"

#include "probes/TextRules.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSysInfo>
#include <algorithm>
#include <utility>

namespace {

// Longest reply (all lines of a multi-line reply together) taken from a server.
constexpr qsizetype kLongestReply = 64 * 1024;

// An envelope address may hold no line break or other control character:
// it goes into a command line of its own.
bool isEnvelopeAddress(const QString &address)
{
    return std::none_of(address.cbegin(), address.cend(),
                        [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

} // namespace

SmtpFailure::SmtpFailure(int code, const QString &description)
    : std::runtime_error(description.toStdString())
    , m_code(code)
{
}

SmtpClientControl::SmtpClientControl(QObject *parent)
    : QObject(parent)
{
    // The mail server is reached directly, never through a proxy.
    m_socket.setProxy(QNetworkProxy::NoProxy);
    m_handshakeTimer.setSingleShot(true);
    connect(&m_socket, &QTcpSocket::connected, this, &SmtpClientControl::onConnected);
    connect(&m_socket, &QTcpSocket::readyRead, this, &SmtpClientControl::onReadyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &SmtpClientControl::onSocketError);
    connect(&m_socket, &QTcpSocket::disconnected, this, &SmtpClientControl::onDisconnected);
    connect(&m_handshakeTimer, &QTimer::timeout, this, [this] {
        breakConnection(SocketCodes::TimedOut, tr("The mail server did not greet within %1 s").arg(kHandshakeMs / 1000), true);
    });
}

// A connection still open (a mail that ended early) is closed before the
// members go, so no socket signal reaches a half-destroyed client.
SmtpClientControl::~SmtpClientControl()
{
    closeQuietly();
    QObject::disconnect(&m_socket, nullptr, this, nullptr);
}

// The zero setting has no role here; it is accepted and ignored.
void SmtpClientControl::SetReserved1(qint16) {}

int SmtpClientControl::Reset()
{
    closeQuietly();
    return Accepted;
}

void SmtpClientControl::SetHostName(const QString &server)
{
    m_server = server;
    const QString text = TextRules::trimSpaces(server);
    m_host.clear();
    m_port.reset();
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return;
        const QString rest = text.mid(close + 1);
        m_host = text.mid(1, close - 1);
        if (rest.isEmpty())
            m_port = kDefaultPort;
        else if (rest.startsWith(QLatin1Char(':')))
            m_port = TextRules::toPortNumber(rest.mid(1));
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        m_host = text.left(colon);
        m_port = TextRules::toPortNumber(text.mid(colon + 1));
    } else {
        // A bare IPv6 address has several colons and no port.
        m_host = text;
        m_port = kDefaultPort;
    }
}

int SmtpClientControl::Connect()
{
    closeQuietly();
    if (m_host.isEmpty() || !m_port || *m_port == 0) {
        postError(AddressNotAvailable, tr("No usable mail server in \"%1\"").arg(m_server));
        return AddressNotAvailable;
    }
    // Set before connecting: a refusal can be reported from inside connectToHost.
    m_phase = Phase::Connecting;
    m_handshakeTimer.start(kHandshakeMs);
    m_socket.connectToHost(m_host, *m_port);
    return Accepted;
}

void SmtpClientControl::SetFrom(const QString &sender)
{
    m_from = sender;
}

int SmtpClientControl::BeginMessage()
{
    if (m_phase != Phase::Ready || !isEnvelopeAddress(m_from))
        return Failed;
    const auto reply = command("MAIL FROM:<" + m_from.toUtf8() + '>', kReplyMs);
    if (!reply)
        return Failed;
    if (!reply->positive())
        return reply->code;
    m_phase = Phase::Mail;
    return Accepted;
}

void SmtpClientControl::SetRecipient(const QString &address)
{
    if (m_phase != Phase::Mail)
        throw SmtpFailure(Failed, QStringLiteral("no message has been begun"));
    if (address.isEmpty() || !isEnvelopeAddress(address))
        throw SmtpFailure(Failed, QStringLiteral("not a recipient address: ") + address);
    const auto reply = command("RCPT TO:<" + address.toUtf8() + '>', kReplyMs);
    if (!reply)
        throw SmtpFailure(Failed, QStringLiteral("no answer to the recipient ") + address);
    if (!reply->positive())
        throw SmtpFailure(reply->code, reply->text);
}

bool SmtpClientControl::startData()
{
    if (m_phase == Phase::Data)
        return true;
    if (m_phase != Phase::Mail)
        return false;
    const auto reply = command("DATA", kReplyMs);
    if (!reply || reply->code != 354)
        return false;
    m_phase = Phase::Data;
    m_atLineStart = true;
    m_afterCr = false;
    return true;
}

// CR, LF and CR LF all become CR LF, and a "." that begins a line is
// doubled; the state carries over from one piece to the next, so a line
// break or a dot split across two writes is handled alike.
QByteArray SmtpClientControl::toWire(QStringView piece)
{
    QString wire;
    wire.reserve(piece.size() + piece.size() / 8 + 2);
    for (const QChar c : piece) {
        if (c == QLatin1Char('\n') && m_afterCr) {
            m_afterCr = false;
            continue;
        }
        m_afterCr = c == QLatin1Char('\r');
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            wire += QStringLiteral("\r\n");
            m_atLineStart = true;
            continue;
        }
        if (m_atLineStart && c == QLatin1Char('.'))
            wire += QLatin1Char('.');
        wire += c;
        m_atLineStart = false;
    }
    return wire.toUtf8();
}

int SmtpClientControl::Write(const QString &text, int limit)
{
    if (!startData())
        return Failed;
    qsizetype count = qMin<qsizetype>(qMin(limit, kLargestPiece), text.size());
    if (count <= 0)
        return 0;
    // Never part the two halves of a character outside the basic plane.
    if (count > 1 && count < text.size() && text.at(count - 1).isHighSurrogate())
        --count;
    if (m_socket.write(toWire(QStringView(text).left(count))) < 0 || !flush(kSendMs))
        return Failed;
    return static_cast<int>(count);
}

int SmtpClientControl::EndMessage()
{
    if (!startData())
        return Failed;
    const auto reply = command(m_atLineStart ? QByteArray(".") : QByteArray("\r\n."), kEndReplyMs);
    if (m_phase == Phase::Data)
        m_phase = Phase::Ready;
    if (!reply)
        return Failed;
    return reply->positive() ? Accepted : reply->code;
}

int SmtpClientControl::Quit()
{
    if (m_phase != Phase::Idle && m_phase != Phase::Broken && m_phase != Phase::Connecting)
        command("QUIT", kQuitMs);
    closeQuietly();
    return Accepted;
}

void SmtpClientControl::onConnected()
{
    if (m_phase == Phase::Connecting)
        m_phase = Phase::Greeting;
}

void SmtpClientControl::onReadyRead()
{
    m_input += m_socket.readAll();
    for (;;) {
        if (m_phase == Phase::Idle || m_phase == Phase::Broken)
            return;
        const qsizetype end = m_input.indexOf('\n');
        if (end < 0)
            break;
        QByteArray line = m_input.left(end);
        m_input.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);

        // "ddd text" ends a reply, "ddd-text" continues it.
        const auto digit = [](char c) { return c >= '0' && c <= '9'; };
        const bool shaped = line.size() >= 3 && std::all_of(line.cbegin(), line.cbegin() + 3, digit)
            && (line.size() == 3 || line.at(3) == ' ' || line.at(3) == '-');
        if (!shaped) {
            breakConnection(Failed, tr("The mail server's answer cannot be read"), true);
            return;
        }
        if (!m_partialText.isEmpty())
            m_partialText += QLatin1Char('\n');
        m_partialText += QString::fromUtf8(line.mid(4));
        if (m_partialText.size() > kLongestReply) {
            breakConnection(Failed, tr("The mail server's answer is too long"), true);
            return;
        }
        if (line.size() > 3 && line.at(3) == '-')
            continue;
        Reply reply{line.left(3).toInt(), m_partialText};
        m_partialText.clear();
        onReply(reply);
    }
    if (m_input.size() > kLongestReply)
        breakConnection(Failed, tr("The mail server's answer is too long"), true);
}

void SmtpClientControl::onReply(const Reply &reply)
{
    switch (m_phase) {
    case Phase::Greeting:
        if (reply.code == 220) {
            m_phase = Phase::Hello;
            sendLine("EHLO " + helloName().toUtf8());
        } else {
            breakConnection(reply.code, reply.text, true);
        }
        return;
    case Phase::Hello:
        if (reply.positive()) {
            becomeReady();
        } else if (reply.code == 421) {
            breakConnection(reply.code, reply.text, true);
        } else {
            // A server that knows no EHLO is greeted the old way.
            m_phase = Phase::HelloFallback;
            sendLine("HELO " + helloName().toUtf8());
        }
        return;
    case Phase::HelloFallback:
        if (reply.positive())
            becomeReady();
        else
            breakConnection(reply.code, reply.text, true);
        return;
    default:
        if (m_awaitingReply && !m_reply)
            m_reply = reply;
        else if (reply.code == 421)   // the server is closing the session on its own
            breakConnection(reply.code, reply.text, true);
        return;
    }
}

void SmtpClientControl::onSocketError(QAbstractSocket::SocketError error)
{
    breakConnection(SocketCodes::fromSocketError(error, Failed), m_socket.errorString(), false);
}

void SmtpClientControl::onDisconnected()
{
    breakConnection(SocketCodes::ConnectionReset, tr("The mail server closed the connection"), false);
}

void SmtpClientControl::sendLine(const QByteArray &line)
{
    m_socket.write(line + "\r\n");
}

std::optional<SmtpClientControl::Reply> SmtpClientControl::command(const QByteArray &line, int timeoutMs)
{
    if (m_phase == Phase::Idle || m_phase == Phase::Broken || m_socket.state() != QAbstractSocket::ConnectedState)
        return std::nullopt;
    m_reply.reset();
    m_awaitingReply = true;
    sendLine(line);
    auto reply = awaitReply(timeoutMs);
    m_awaitingReply = false;
    return reply;
}

// Blocks without the event loop, as the callers' write loop expects;
// waiting for input also sends what is still buffered.
std::optional<SmtpClientControl::Reply> SmtpClientControl::awaitReply(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_reply) {
        if (m_phase == Phase::Idle || m_phase == Phase::Broken
            || m_socket.state() != QAbstractSocket::ConnectedState)
            return std::nullopt;
        if (m_socket.bytesAvailable() > 0) {
            onReadyRead();
            continue;
        }
        if (deadline.hasExpired()) {
            breakConnection(SocketCodes::TimedOut, tr("The mail server did not answer in time"), true);
            return std::nullopt;
        }
        m_socket.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    return std::exchange(m_reply, std::nullopt);
}

bool SmtpClientControl::flush(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (m_socket.bytesToWrite() > 0) {
        if (m_phase == Phase::Broken || m_socket.state() != QAbstractSocket::ConnectedState)
            return false;
        if (deadline.hasExpired()) {
            breakConnection(SocketCodes::TimedOut, tr("The mail server did not take the message in time"), true);
            return false;
        }
        m_socket.waitForBytesWritten(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    return m_phase != Phase::Broken && m_socket.state() == QAbstractSocket::ConnectedState;
}

// A host name when this machine has a full one, else its address as a literal.
QString SmtpClientControl::helloName() const
{
    static const QRegularExpression fullName(QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+$"));
    const QString name = QSysInfo::machineHostName();
    if (fullName.match(name).hasMatch())
        return name;
    QHostAddress local = m_socket.localAddress();
    local.setScopeId(QString());
    if (local.protocol() == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("[IPv6:") + local.toString() + QLatin1Char(']');
    return QLatin1Char('[') + local.toString() + QLatin1Char(']');
}

void SmtpClientControl::becomeReady()
{
    m_handshakeTimer.stop();
    m_phase = Phase::Ready;
    postConnected();
}

void SmtpClientControl::breakConnection(int code, const QString &description, bool closeSocket)
{
    if (m_phase == Phase::Idle || m_phase == Phase::Broken)
        return;
    m_phase = Phase::Broken;
    m_handshakeTimer.stop();
    m_awaitingReply = false;
    postError(code, description);
    if (closeSocket)
        m_socket.abort();
}

// Ends the connection without any notification; what was posted for the
// session that ends here is dropped as well.
void SmtpClientControl::closeQuietly()
{
    m_phase = Phase::Idle;
    ++m_session;
    m_handshakeTimer.stop();
    m_socket.abort();
    m_input.clear();
    m_partialText.clear();
    m_awaitingReply = false;
    m_reply.reset();
}

// Notifications are posted, so they reach the owner on its next pass of
// event processing, never from inside a call.
void SmtpClientControl::postConnected()
{
    const quint64 session = m_session;
    QMetaObject::invokeMethod(
        this,
        [this, session] {
            if (session == m_session)
                emit OnConnected();
        },
        Qt::QueuedConnection);
}

void SmtpClientControl::postError(int code, const QString &description)
{
    const quint64 session = m_session;
    const QString server = m_server;
    QMetaObject::invokeMethod(
        this,
        [this, session, code, description, server] {
            if (session == m_session)
                emit OnError(code, description, server);
        },
        Qt::QueuedConnection);
}
