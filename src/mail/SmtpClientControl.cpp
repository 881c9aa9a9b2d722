#include "mail/SmtpClientControl.h"

#include "base/TextRules.h"
#include "qt/EventWait.h"
#include "qt/Utf8.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSysInfo>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using MailFormat::Reply;

namespace {

QString seconds(int ms)
{
    return ms % 1000 == 0 ? QStringLiteral("%1 s").arg(ms / 1000) : QStringLiteral("%1 ms").arg(ms);
}

// The certificates to trust: the system's, or those of the file that
// SSL_CERT_FILE names, as OpenSSL's own tools take it.
QSslConfiguration tlsConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    const QString file = qEnvironmentVariable("SSL_CERT_FILE");
    if (!file.isEmpty())
        configuration.setCaCertificates(QSslCertificate::fromPath(file, QSsl::Pem));
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    return configuration;
}

// The first 64 KiB of a plain file, opened without blocking so that a FIFO
// put in its place cannot hold the mail. A private file (~/.netrc) is
// refused, as ftp and Python refuse it, when it is not the user's own or
// others may read it: one line on standard error says so.
std::optional<QByteArray> plainFile(const QString &path, bool privateFile = false)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat info { };
    const char *refusal = nullptr;
    std::optional<QByteArray> content;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        if (privateFile && info.st_uid != ::geteuid())
            refusal = "mail: ~/.netrc is not owned by you\n";
        else if (privateFile && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
            refusal = "mail: ~/.netrc is readable by others (chmod 600)\n";
        else
            content.emplace();
        char buffer[4096];
        for (ssize_t count; content && content->size() < 64 * 1024 && (count = ::read(fd, buffer, sizeof buffer)) > 0;)
            content->append(buffer, count);
    }
    ::close(fd);
    if (refusal)
        std::fputs(refusal, stderr);
    return content;
}

std::optional<MailFormat::Login> loginFromNetrc(const QString &host, const QString &user)
{
    const auto netrc = plainFile(QDir(qEnvironmentVariable("HOME")).filePath(QStringLiteral(".netrc")), true);
    return netrc ? MailFormat::netrcLogin(QString::fromUtf8(*netrc), host, user) : std::nullopt;
}

} // namespace

MailBounds MailBounds::current()
{
    MailBounds bounds;
#ifdef OSTREL_TEST_HOOKS
    bool ok = false;
    const int divisor = qEnvironmentVariableIntValue("OSTREL_TEST_MAIL_TIME_SCALE", &ok);
    if (ok && divisor > 1) {
        for (int *bound : { &bounds.greetingMs, &bounds.replyMs, &bounds.sendMs, &bounds.endReplyMs, &bounds.quitMs,
                 &bounds.wholeMs })
            *bound = std::max(1, *bound / divisor);
    }
#endif
    return bounds;
}

SmtpFailure::SmtpFailure(const QString &description)
    : std::runtime_error(description.toStdString())
{
}

SmtpClientControl::SmtpClientControl(QObject *parent)
    : QObject(parent)
{
    connect(&m_lookup, &HostLookup::finished, this, &SmtpClientControl::onLookupFinished);
    connect(&m_ownName, &HostLookup::finished, this, [this] {
        if (m_phase == Phase::Naming)
            hello();
    });
}

// Made at the first mail, so a run that sends none never loads TLS.
QTcpSocket &SmtpClientControl::socket()
{
    if (m_socket)
        return *m_socket;
    // Plain SMTP never loads TLS (a fifth of a run's CPU time).
    const bool tls = m_server && m_server->security != MailFormat::MailServer::Plain;
    m_socket.reset(tls ? new QSslSocket : new QTcpSocket);
    // The mail server is reached directly, never through a proxy.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    connect(m_socket.get(), &QTcpSocket::connected, this, &SmtpClientControl::onConnected);
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &SmtpClientControl::onReadyRead);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        breakConnection(SocketCodes::fromSocketError(error, Failed), m_socket->errorString(), false);
    });
    connect(m_socket.get(), &QTcpSocket::disconnected, this,
        [this] { breakConnection(SocketCodes::ConnectionReset, tr("The mail server closed the connection"), false); });
    if (!tls)
        return *m_socket;
    connect(ssl(), &QSslSocket::encrypted, this, [this] {
        m_encrypted = true;
        if (m_phase != Phase::Encrypting)
            return;
        // Only what the server says from here on counts.
        m_reader.clear();
        m_extensions.clear();
        if (m_greeted)
            hello();
        else
            m_phase = Phase::Greeting;
    });
    connect(ssl(), &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        noteError(QStringLiteral("TLS with %1 failed: %2").arg(m_server->host, errors.value(0).errorString()));
    });
    return *m_socket;
}

QSslSocket *SmtpClientControl::ssl() const { return qobject_cast<QSslSocket *>(m_socket.get()); }

// A connection still open (a mail that ended early) is closed before the
// members go, so no socket signal reaches a half-destroyed client.
SmtpClientControl::~SmtpClientControl()
{
    closeQuietly();
    if (m_socket)
        QObject::disconnect(m_socket.get(), nullptr, this, nullptr);
}

// The zero setting has no role here; it is accepted and ignored.
void SmtpClientControl::SetReserved1(qint16) { }

int SmtpClientControl::Reset()
{
    closeQuietly();
    return Accepted;
}

void SmtpClientControl::SetHostName(const QString &server)
{
    m_serverText = server;
    m_server = MailFormat::readMailServer(server);
}

int SmtpClientControl::Connect()
{
    closeQuietly();
    m_lastError.clear();
    if (!m_server) {
        noteError(tr("no usable mail server in \"%1\"").arg(m_serverText));
        postError(AddressNotAvailable, m_lastError);
        return AddressNotAvailable;
    }
    if (m_socket && !ssl() != (m_server->security == MailFormat::MailServer::Plain)) {
        QObject::disconnect(m_socket.get(), nullptr, this, nullptr);
        m_socket.reset();
    }
    m_bounds = MailBounds::current();
    m_whole = QDeadlineTimer(m_bounds.wholeMs, Qt::PreciseTimer);
    m_phase = Phase::LookingUp;
    // This machine's full name, if the resolver knows one by the time the server greets.
    if (!QSysInfo::machineHostName().contains(QLatin1Char('.')))
        m_ownName.start(QSysInfo::machineHostName());
    const QHostAddress literal(m_server->host);
    if (literal.isNull())
        m_lookup.start(m_server->host);
    else
        QMetaObject::invokeMethod(this, &SmtpClientControl::onLookupFinished, Qt::QueuedConnection);
    return Accepted;
}

void SmtpClientControl::onLookupFinished()
{
    if (m_phase != Phase::LookingUp)
        return;
    const QHostAddress literal(m_server->host);
    const QList<QHostAddress> addresses = literal.isNull() ? m_lookup.addresses() : QList<QHostAddress> { literal };
    if (addresses.isEmpty()) {
        noteError(tr("the mail server %1 was not found").arg(m_server->host));
        breakConnection(SocketCodes::HostNotFound, m_lastError, true);
        return;
    }
    m_phase = Phase::Connecting;
    if (m_server->security == MailFormat::MailServer::Tls) {
        socket();
        ssl()->setSslConfiguration(tlsConfiguration());
        ssl()->connectToHostEncrypted(addresses.first().toString(), m_server->port, m_server->host);
    } else {
        socket().connectToHost(addresses.first(), m_server->port);
    }
}

void SmtpClientControl::SetFrom(const QString &sender) { m_from = sender; }

int SmtpClientControl::BeginMessage()
{
    const auto sender = MailFormat::readAddress(m_from);
    if (m_phase != Phase::Ready || !sender) {
        noteError(tr("MAIL FROM:<%1> not sent").arg(m_from));
        return Failed;
    }
    const bool utf8 = m_utf8Wanted && offersSmtpUtf8();
    const QString line = QStringLiteral("MAIL FROM:<") + sender->text() + QLatin1Char('>');
    const auto reply
        = command((line + (utf8 ? QStringLiteral(" SMTPUTF8") : QString())).toUtf8(), m_bounds.replyMs, line);
    if (!reply)
        return Failed;
    if (!reply->positive()) {
        refuse(line, *reply);
        return reply->code;
    }
    m_phase = Phase::Mail;
    m_accepted = 0;
    return Accepted;
}

void SmtpClientControl::SetRecipient(const QString &entry)
{
    const auto address = MailFormat::readAddress(entry);
    const QString line = QStringLiteral("RCPT TO:<") + (address ? address->text() : entry) + QLatin1Char('>');
    QString why;
    if (m_phase != Phase::Mail)
        why = tr("no message has been begun");
    else if (!address)
        why = tr("not an address");
    else if (address->needsUtf8() && !offersSmtpUtf8())
        why = tr("the server does not offer SMTPUTF8");
    if (!why.isEmpty()) {
        noteError(line + tr(" not sent: ") + why);
        throw SmtpFailure(why);
    }
    const auto reply = command(line.toUtf8(), m_bounds.replyMs, line);
    if (!reply)
        throw SmtpFailure(m_lastError);
    if (!reply->positive()) {
        refuse(line, *reply);
        throw SmtpFailure(reply->text);
    }
    ++m_accepted;
}

// No DATA unless the server took at least one recipient.
bool SmtpClientControl::startData()
{
    if (m_phase == Phase::Data)
        return true;
    if (m_phase != Phase::Mail || m_accepted == 0) {
        noteError(tr("DATA not sent: no recipient was accepted"));
        return false;
    }
    const auto reply = command("DATA", m_bounds.replyMs, QStringLiteral("DATA"));
    if (!reply)
        return false;
    if (reply->code != 354) {
        refuse(QStringLiteral("DATA"), *reply);
        return false;
    }
    m_phase = Phase::Data;
    m_wire = {};
    return true;
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
    if (socket().write(MailFormat::toWire(QStringView(text).left(count), m_wire)) < 0 || !flush(m_bounds.sendMs))
        return Failed;
    return static_cast<int>(count);
}

int SmtpClientControl::EndMessage()
{
    if (!startData())
        return Failed;
    const auto reply = command(m_wire.atLineStart ? QByteArray(".") : QByteArray("\r\n."), m_bounds.endReplyMs,
        QStringLiteral("the end of the message"));
    if (m_phase == Phase::Data)
        m_phase = Phase::Ready;
    if (!reply)
        return Failed;
    if (!reply->positive())
        refuse(QStringLiteral("the message"), *reply);
    return reply->positive() ? Accepted : reply->code;
}

int SmtpClientControl::Quit()
{
    // In the middle of DATA a QUIT would only be more text; a window that
    // went away stops at once.
    const bool canQuit = m_greeted && !EventWait::abandoned() && m_socket
        && m_socket->state() == QAbstractSocket::ConnectedState && m_phase != Phase::Broken && m_phase != Phase::Data
        && m_phase != Phase::Encrypting;
    if (m_quitSent && m_socket && m_socket->state() != QAbstractSocket::UnconnectedState && !EventWait::abandoned()) {
        // A refused handshake already said QUIT; its reply (or the close) ends the wait.
        EventWait wait(stepDeadline(m_bounds.quitMs));
        wait.finishOn(m_socket.get(), &QIODevice::readyRead);
        wait.finishOn(m_socket.get(), &QAbstractSocket::disconnected);
        wait.exec();
    } else if (canQuit) {
        const auto phase = m_phase;
        m_phase = Phase::Ready; // any reply now answers the QUIT
        if (phase == Phase::Ready || phase == Phase::Mail)
            command("QUIT", m_bounds.quitMs, QStringLiteral("QUIT"));
        else
            sendLine("QUIT");
    }
    closeQuietly();
    return Accepted;
}

QString SmtpClientControl::ownName() const
{
    return m_ownName.isFinished() && !m_ownName.canonicalName().isEmpty() ? m_ownName.canonicalName()
                                                                          : QSysInfo::machineHostName();
}

QString SmtpClientControl::localAddress() const { return m_socket ? m_socket->localAddress().toString() : QString(); }

QString SmtpClientControl::localDomain() const { return MailFormat::mailDomain(ownName(), localAddress()); }

QString SmtpClientControl::defaultSender() const
{
    const QString mailName = QString::fromUtf8(plainFile(QStringLiteral("/etc/mailname")).value_or(QByteArray()));
    return MailFormat::defaultSender(m_login, mailName, ownName(), localAddress());
}

QString SmtpClientControl::notReady(int boundMs) const
{
    QString step;
    switch (m_phase) {
    case Phase::LookingUp:
        step = tr("the look-up of %1").arg(m_server->host);
        break;
    case Phase::Connecting:
        step = QStringLiteral("connect");
        break;
    case Phase::Greeting:
        step = QStringLiteral("greeting");
        break;
    case Phase::Naming:
        step = tr("this host's name");
        break;
    case Phase::Hello:
    case Phase::HelloFallback:
        step = QStringLiteral("EHLO");
        break;
    case Phase::StartTls:
    case Phase::Encrypting:
        step = QStringLiteral("TLS");
        break;
    case Phase::Auth:
        step = QStringLiteral("AUTH");
        break;
    default:
        return tr("%1 was not ready within %2")
            .arg(Utf8::to(TextRules::trimSpaces(Utf8::from(m_serverText))), seconds(boundMs));
    }
    return tr("%1 was not ready within %2 (waiting at %3)")
        .arg(Utf8::to(TextRules::trimSpaces(Utf8::from(m_serverText))), seconds(boundMs), step);
}

void SmtpClientControl::hello()
{
    m_phase = Phase::Hello;
    sendLine("EHLO " + localDomain().toUtf8());
}

void SmtpClientControl::onConnected()
{
    if (m_phase == Phase::Connecting)
        m_phase = m_server->security == MailFormat::MailServer::Tls ? Phase::Encrypting : Phase::Greeting;
}

void SmtpClientControl::onReadyRead()
{
    const QByteArray bytes = socket().readAll();
    if (m_phase == Phase::Broken && m_quitSent) {
        m_quitSent = false; // the QUIT of a refused handshake is answered
        return;
    }
    m_reader.add(std::string_view(bytes.constData(), size_t(bytes.size())));
    takeReplies();
}

// Reads what has come, up to the reply a call waits for: what follows it is
// read when the next command goes out, so a reason given is never lost to a
// broken line after it.
void SmtpClientControl::takeReplies()
{
    while (m_phase != Phase::Idle && m_phase != Phase::Broken && !(m_awaitingReply && m_reply)) {
        ReplyReader::Reply reply;
        const auto state = m_reader.next(reply);
        if (state == ReplyReader::State::Incomplete)
            return;
        if (state == ReplyReader::State::Unreadable) {
            noteError(tr("the answer of %1 cannot be read").arg(m_server->host));
            breakConnection(Failed, m_lastError, true);
            return;
        }
        onReply(Reply { reply.code, QString::fromStdString(reply.text) });
    }
}

void SmtpClientControl::onReply(const Reply &reply)
{
    switch (m_phase) {
    case Phase::Greeting:
        if (reply.code != 220)
            return refuse(tr("the greeting"), reply);
        m_greeted = true;
        // EHLO names this host once its own look-up is over, so the name never depends on timing.
        m_phase = Phase::Naming;
        if (m_ownName.isFinished())
            hello();
        return;
    case Phase::Hello:
        if (reply.positive()) {
            const QStringList lines = reply.text.split(QLatin1Char('\n'));
            for (qsizetype i = 1; i < lines.size(); ++i)
                m_extensions.insert(lines.at(i).section(QLatin1Char(' '), 0, 0).toUpper());
            for (const QString &mechanism : lines.filter(
                     QRegularExpression(QStringLiteral("^AUTH[ =]"), QRegularExpression::CaseInsensitiveOption)))
                for (const QString &name : mechanism.mid(5).split(QLatin1Char(' '), Qt::SkipEmptyParts))
                    m_extensions.insert(QStringLiteral("AUTH=") + name.toUpper());
            return afterHello();
        }
        // A server that knows no EHLO is greeted the old way, unless it must do TLS.
        if (reply.code == 421 || m_server->security != MailFormat::MailServer::Plain)
            return refuse(QStringLiteral("EHLO"), reply);
        m_phase = Phase::HelloFallback;
        sendLine("HELO " + localDomain().toUtf8());
        return;
    case Phase::HelloFallback:
        return reply.positive() ? becomeReady() : refuse(QStringLiteral("HELO"), reply);
    case Phase::StartTls:
        if (reply.code != 220)
            return refuse(QStringLiteral("STARTTLS"), reply);
        m_phase = Phase::Encrypting;
        m_reader.clear();
        ssl()->setSslConfiguration(tlsConfiguration());
        ssl()->setPeerVerifyName(m_server->host);
        ssl()->startClientEncryption();
        return;
    case Phase::Auth:
        if (reply.code == 235)
            return becomeReady();
        if (reply.code != 334 || m_loginLines.isEmpty())
            return refuse(QStringLiteral("AUTH"), reply);
        sendLine(m_loginLines.takeFirst());
        return;
    default:
        if (m_awaitingReply && !m_reply) {
            m_reply = reply;
            emit progressed();
        } else if (reply.code == 421) { // the server is closing the session on its own
            breakConnection(reply.code, reply.summary(), true);
        }
        return;
    }
}

void SmtpClientControl::afterHello()
{
    if (m_server->security == MailFormat::MailServer::StartTls && !m_encrypted) {
        if (!m_extensions.contains(QStringLiteral("STARTTLS"))) {
            noteError(tr("%1 does not offer STARTTLS").arg(m_server->host));
            return refuse(QString(), Reply {});
        }
        m_phase = Phase::StartTls;
        sendLine("STARTTLS");
        return;
    }
    startLogin();
}

// A login only over TLS, with the password from ~/.netrc.
void SmtpClientControl::startLogin()
{
    const auto login = m_encrypted ? loginFromNetrc(m_server->host, m_server->user) : std::nullopt;
    if (!login) {
        if (!m_server->user.isEmpty()) {
            noteError(tr("no password for %1 at %2 in ~/.netrc").arg(m_server->user, m_server->host));
            return refuse(QString(), Reply {});
        }
        return becomeReady();
    }
    m_login = login->user;
    const QByteArray user = login->user.toUtf8();
    const QByteArray password = login->password.toUtf8();
    m_loginLines.clear();
    m_phase = Phase::Auth;
    if (m_extensions.contains(QStringLiteral("AUTH=PLAIN"))) {
        sendLine("AUTH PLAIN " + QByteArray('\0' + user + '\0' + password).toBase64());
    } else if (m_extensions.contains(QStringLiteral("AUTH=LOGIN"))) {
        m_loginLines = { user.toBase64(), password.toBase64() };
        sendLine("AUTH LOGIN");
    } else {
        noteError(tr("%1 offers no AUTH PLAIN or LOGIN").arg(m_server->host));
        refuse(QString(), Reply {});
    }
}

void SmtpClientControl::sendLine(const QByteArray &line)
{
    if (socket().state() != QAbstractSocket::ConnectedState)
        return;
    socket().write(line + "\r\n");
    // Out now, so a QUIT still leaves when the connection closes right after.
    socket().flush();
}

QDeadlineTimer SmtpClientControl::stepDeadline(int timeoutMs) const
{
    const QDeadlineTimer step(timeoutMs, Qt::PreciseTimer);
    return step.deadlineNSecs() < m_whole.deadlineNSecs() ? step : m_whole;
}

std::optional<Reply> SmtpClientControl::command(const QByteArray &line, int timeoutMs, const QString &shown)
{
    // What came after the last awaited reply: a broken line ends the session before anything is written.
    m_awaitingReply = false;
    takeReplies();
    if (m_phase == Phase::Idle || m_phase == Phase::Broken || socket().state() != QAbstractSocket::ConnectedState) {
        noteError(shown + tr(" not sent: no connection"));
        return std::nullopt;
    }
    m_reply.reset();
    m_awaitingReply = true;
    sendLine(line);
    const QDeadlineTimer deadline = stepDeadline(timeoutMs);
    // The reply may be in already; the wait ends on the next one or a break.
    while (!m_reply && m_phase != Phase::Broken && m_phase != Phase::Idle && !deadline.hasExpired()
        && !EventWait::abandoned()) {
        EventWait wait(deadline);
        wait.finishOn(this, &SmtpClientControl::progressed);
        wait.exec();
    }
    m_awaitingReply = false;
    if (m_reply)
        return std::exchange(m_reply, std::nullopt);
    if (EventWait::abandoned()) {
        closeQuietly();
    } else if (m_phase != Phase::Broken && m_phase != Phase::Idle) {
        const bool whole = m_whole.hasExpired();
        noteError(whole ? tr("%1: the mail took over %2").arg(shown, seconds(m_bounds.wholeMs))
                        : tr("%1: no answer within %2").arg(shown, seconds(timeoutMs)));
        breakConnection(SocketCodes::TimedOut, m_lastError, true);
    } else {
        noteError(shown + tr(": ") + socket().errorString());
    }
    return std::nullopt;
}

bool SmtpClientControl::flush(int timeoutMs)
{
    const QDeadlineTimer deadline = stepDeadline(timeoutMs);
    // Writes what the system takes now; waits only for the rest.
    for (;;) {
        const bool wrote = socket().flush();
        if (socket().bytesToWrite() == 0 && (!ssl() || ssl()->encryptedBytesToWrite() == 0))
            break;
        if (wrote)
            continue;
        if (m_phase == Phase::Broken || socket().state() != QAbstractSocket::ConnectedState)
            return false;
        if (EventWait::abandoned()) {
            closeQuietly();
            return false;
        }
        if (deadline.hasExpired()) {
            noteError(tr("the message: not taken within %1").arg(seconds(timeoutMs)));
            breakConnection(SocketCodes::TimedOut, m_lastError, true);
            return false;
        }
        EventWait wait(deadline);
        wait.finishOn(&socket(), &QIODevice::bytesWritten);
        if (ssl())
            wait.finishOn(ssl(), &QSslSocket::encryptedBytesWritten);
        wait.finishOn(this, &SmtpClientControl::progressed);
        wait.exec();
    }
    return m_phase != Phase::Broken && socket().state() == QAbstractSocket::ConnectedState;
}

void SmtpClientControl::becomeReady()
{
    m_phase = Phase::Ready;
    postConnected();
}

// The server said no (or we cannot go on with it): the reason is kept, the
// session is ended politely with QUIT, and OnError is posted.
void SmtpClientControl::refuse(const QString &step, const Reply &reply)
{
    if (!step.isEmpty())
        noteError(step + tr(" refused: ") + reply.summary());
    if (m_phase == Phase::Ready || m_phase == Phase::Mail || m_phase == Phase::Data)
        return; // a call's own refusal: the caller goes on or quits
    if (m_greeted) {
        sendLine("QUIT");
        m_quitSent = true;
    }
    breakConnection(reply.code ? reply.code : Failed, m_lastError, false);
}

void SmtpClientControl::breakConnection(int code, const QString &description, bool closeSocket)
{
    if (m_phase == Phase::Idle || m_phase == Phase::Broken)
        return;
    noteError(m_server ? tr("%1 (%2:%3)").arg(description, m_server->host).arg(m_server->port) : description);
    m_phase = Phase::Broken;
    m_lookup.cancel();
    m_awaitingReply = false;
    postError(code, description);
    emit progressed();
    if (closeSocket && m_socket)
        m_socket->abort();
}

void SmtpClientControl::noteError(const QString &text)
{
    if (m_lastError.isEmpty())
        m_lastError = text;
}

// Ends the connection without any notification; what was posted for the
// session that ends here is dropped as well.
void SmtpClientControl::closeQuietly()
{
    m_phase = Phase::Idle;
    ++m_session;
    m_lookup.cancel();
    if (m_socket)
        m_socket->abort();
    m_reader.clear();
    m_awaitingReply = false;
    m_reply.reset();
    m_greeted = false;
    m_quitSent = false;
    m_encrypted = false;
    m_login.clear();
    m_extensions.clear();
    m_loginLines.clear();
    m_accepted = 0;
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
    const QString server = m_serverText;
    QMetaObject::invokeMethod(
        this,
        [this, session, code, description, server] {
            if (session == m_session)
                emit OnError(code, description, server);
        },
        Qt::QueuedConnection);
}
