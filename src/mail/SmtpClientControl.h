#pragma once

#include "base/ReplyReader.h"
#include "mail/HostLookup.h"
#include "mail/MailFormat.h"
#include "mail/SocketCodes.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QSet>
#include <QSslSocket>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <stdexcept>

// A failure raised by the SMTP client where a call has no result to carry it
// (adding a recipient).
class SmtpFailure : public std::runtime_error {
public:
    explicit SmtpFailure(const QString &description);
};

// The time bounds of one mail. Tests shorten them all at once through
// OSTREL_TEST_MAIL_TIME_SCALE (a divisor), so no test waits them out.
struct MailBounds {
    int greetingMs = 10000; // look-up, connection, greeting, this host's name, EHLO, TLS, login (the sender's wait)
    int replyMs = 30000; // the reply to MAIL FROM, RCPT TO or DATA
    int sendMs = 30000; // one written piece leaving the socket
    int endReplyMs = 60000; // the verdict on the whole message (the server may run filters)
    int quitMs = 5000;
    int wholeMs = 120000; // connect to QUIT, however slow the server
    static MailBounds current();
};

// An SMTP client (RFC 5321) driven the way the mail sender drives it: set the
// server, connect, and wait for OnConnected or OnError, which arrive through
// the event loop once the greeting, EHLO (or HELO), STARTTLS and the login
// are over. Then calls that wait for their reply with the event loop running:
// sender and begin message (MAIL FROM), recipients (RCPT TO), writes (DATA,
// the text in pieces), end message, quit. A bound that runs out closes the
// connection, so every later call fails at once and OnError is posted.
class SmtpClientControl : public QObject {
    Q_OBJECT
public:
    static constexpr int kLargestPiece = 2048;

    // Results of the calls besides the server's own reply codes (a refused
    // sender or message returns the server's code, e.g. 550).
    enum Code : int {
        Accepted = 0,
        Failed = -1, // no usable connection, no answer in time, unreadable answer
        AddressNotAvailable = SocketCodes::AddressNotAvailable,
        ConnectionRefused = SocketCodes::ConnectionRefused,
    };

    explicit SmtpClientControl(QObject *parent = nullptr);
    ~SmtpClientControl() override;

    // Written as 0 before connecting and before sending; no use here.
    void SetReserved1(qint16 value);

    // The preparation call: ends whatever an earlier mail left open.
    int Reset();

    // The mail server field (MailFormat::readMailServer).
    void SetHostName(const QString &server);

    // Starts connecting and returns at once: 0 when the attempt began.
    // The outcome arrives later as OnConnected or OnError.
    int Connect();

    void SetFrom(const QString &sender);
    // Asks for SMTPUTF8 in MAIL FROM, where the server offers it.
    void SetSmtpUtf8(bool wanted) { m_utf8Wanted = wanted; }
    // MAIL FROM: 0 when the server accepted the sender, else its reply code, or Failed.
    int BeginMessage();
    // RCPT TO for one address; raises SmtpFailure when it was not accepted.
    void SetRecipient(const QString &address);
    // Takes at most min(limit, 2048) characters from the front of the text
    // and returns how many it took; Failed when they could not be sent.
    int Write(const QString &text, int limit);
    // 0 when the server accepted the message, else its reply code, or Failed.
    int EndMessage();
    // QUIT when the server has greeted and the session can still carry it.
    int Quit();

    bool offersSmtpUtf8() const { return m_extensions.contains(QStringLiteral("SMTPUTF8")); }
    // The sender when the user sets none, once the client is ready (MailFormat::defaultSender).
    QString defaultSender() const;
    // Why the client is not ready when the sender's wait ends: the step still waiting.
    QString notReady(int boundMs) const;
    // The first failure of this session: the step and the server's reply.
    QString lastError() const { return m_lastError; }

signals:
    void OnConnected();
    void OnError(int errorCode, const QString &description, const QString &server);
    // A reply arrived or the connection broke: a waiting call looks again.
    void progressed();

private:
    enum class Phase {
        Idle,
        LookingUp,
        Connecting,
        Greeting,
        Naming, // greeted, this host's own name still being looked up
        Hello,
        HelloFallback,
        StartTls,
        Encrypting,
        Auth,
        Ready,
        Mail,
        Data,
        Broken
    };

    void onLookupFinished();
    void onConnected();
    void onReadyRead();
    void takeReplies();
    void onReply(const MailFormat::Reply &reply);
    void hello();
    void afterHello();
    QString ownName() const;
    QString localAddress() const;
    QString localDomain() const; // this end of the connection as a mail domain (the EHLO name)
    void startLogin();

    void sendLine(const QByteArray &line);
    std::optional<MailFormat::Reply> command(const QByteArray &line, int timeoutMs, const QString &shown);
    bool flush(int timeoutMs);
    bool startData();
    QDeadlineTimer stepDeadline(int timeoutMs) const;

    void becomeReady();
    void refuse(const QString &step, const MailFormat::Reply &reply);
    void breakConnection(int code, const QString &description, bool closeSocket);
    void noteError(const QString &text);
    void closeQuietly();
    void postConnected();
    void postError(int code, const QString &description);

    QTcpSocket &socket();
    QSslSocket *ssl() const; // the socket when the server's form asks for TLS

    std::unique_ptr<QTcpSocket> m_socket;
    HostLookup m_lookup;
    HostLookup m_ownName;
    MailBounds m_bounds;
    QDeadlineTimer m_whole;
    Phase m_phase = Phase::Idle;
    quint64 m_session = 0; // notifications of an ended session are dropped

    QString m_serverText;
    std::optional<MailFormat::MailServer> m_server;
    QString m_from;
    bool m_utf8Wanted = false;
    bool m_greeted = false;
    bool m_quitSent = false;
    bool m_encrypted = false;
    QSet<QString> m_extensions;
    QList<QByteArray> m_loginLines; // the answers still to give to 334
    QString m_login;
    int m_accepted = 0;
    QString m_lastError;

    ReplyReader m_reader { ReplyReader::Protocol::Smtp };
    bool m_awaitingReply = false;
    std::optional<MailFormat::Reply> m_reply;

    // Line state of the message text, kept from one written piece to the next.
    MailFormat::WireState m_wire;
};
