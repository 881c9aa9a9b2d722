#pragma once

#include "probes/SocketCodes.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <optional>
#include <stdexcept>

// A failure raised by the SMTP client where a call has no result to carry it
// (adding a recipient).
class SmtpFailure : public std::runtime_error
{
public:
    SmtpFailure(int code, const QString &description);
    int code() const { return m_code; }

private:
    int m_code;
};

// An SMTP client (RFC 5321) driven the way the mail sender drives it: set the
// server, connect, and wait for OnConnected or OnError, which arrive through
// the event loop once the greeting and the EHLO (or HELO) exchange are over.
// Then blocking calls, each with a bounded wait: sender and begin message
// (MAIL FROM), recipients (RCPT TO), writes (DATA, the text in pieces with
// CR LF line ends and dot-stuffing), end message, quit.
//
// Bounds, so that a stalled server ends the mail instead of hanging it:
//   kHandshakeMs  connecting, greeting and EHLO/HELO together
//   kReplyMs      the reply to MAIL FROM, RCPT TO or DATA
//   kSendMs       one written piece leaving the socket
//   kEndReplyMs   the server's verdict on the whole message (it may run filters)
//   kQuitMs       the reply to QUIT (its result is not used)
// A bound that runs out closes the connection, so every later call fails at
// once and OnError is posted.
class SmtpClientControl : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultPort = 25;
    static constexpr int kLargestPiece = 2048;
    static constexpr int kHandshakeMs = 30000;
    static constexpr int kReplyMs = 30000;
    static constexpr int kSendMs = 30000;
    static constexpr int kEndReplyMs = 60000;
    static constexpr int kQuitMs = 5000;

    // Results of the blocking calls besides the server's own reply codes
    // (a refused sender or message returns the server's code, e.g. 550).
    // OnError carries one of the others or the server's code.
    enum Code : int {
        Accepted = 0,
        Failed = -1,   // no usable connection, no answer in time, unreadable answer
        AddressNotAvailable = SocketCodes::AddressNotAvailable,
        ConnectionRefused = SocketCodes::ConnectionRefused,
    };

    explicit SmtpClientControl(QObject *parent = nullptr);
    ~SmtpClientControl() override;

    // Written as 0 before connecting and before sending; no use here.
    void SetReserved1(qint16 value);

    // The preparation call: ends whatever an earlier mail left open.
    int Reset();

    // "host" or "host:port" ("[v6 address]:port" for IPv6); port 25 when none is given.
    void SetHostName(const QString &server);

    // Starts connecting and returns at once: 0 when the attempt began.
    // The outcome arrives later as OnConnected or OnError.
    int Connect();

    void SetFrom(const QString &sender);
    // MAIL FROM: 0 when the server accepted the sender, else its reply code, or Failed.
    int BeginMessage();
    // RCPT TO for one address; raises SmtpFailure when it was not accepted.
    void SetRecipient(const QString &address);
    // Takes at most min(limit, 2048) characters from the front of the text
    // and returns how many it took; Failed when they could not be sent.
    int Write(const QString &text, int limit);
    // 0 when the server accepted the message, else its reply code, or Failed.
    int EndMessage();
    int Quit();

signals:
    void OnConnected();
    void OnError(int errorCode, const QString &description, const QString &server);

private:
    enum class Phase { Idle, Connecting, Greeting, Hello, HelloFallback, Ready, Mail, Data, Broken };
    struct Reply {
        int code = 0;
        QString text;
        bool positive() const { return code >= 200 && code < 300; }
    };

    void onConnected();
    void onReadyRead();
    void onSocketError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void onReply(const Reply &reply);

    void sendLine(const QByteArray &line);
    std::optional<Reply> command(const QByteArray &line, int timeoutMs);
    std::optional<Reply> awaitReply(int timeoutMs);
    bool flush(int timeoutMs);
    bool startData();
    QByteArray toWire(QStringView piece);
    QString helloName() const;

    void becomeReady();
    void breakConnection(int code, const QString &description, bool closeSocket);
    void closeQuietly();
    void postConnected();
    void postError(int code, const QString &description);

    QTcpSocket m_socket;
    QTimer m_handshakeTimer;
    Phase m_phase = Phase::Idle;
    quint64 m_session = 0;   // notifications of an ended session are dropped

    QString m_server;
    QString m_host;
    std::optional<quint16> m_port;
    QString m_from;

    QByteArray m_input;
    QString m_partialText;   // lines of a multi-line reply so far
    bool m_awaitingReply = false;
    std::optional<Reply> m_reply;

    // Line state of the message text, kept from one written piece to the next.
    bool m_atLineStart = true;
    bool m_afterCr = false;
};
