#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// A real SMTP server (aiosmtpd, run by smtp_server.py) on a free loopback
// port, recording every connection and message it gets. It stops with the
// object, or by itself when the test process goes away.
class SmtpServer
{
public:
    struct Options {
        bool rejectSender = false;
        QStringList rejectRecipients;
        bool dropInData = false;
        bool noEhlo = false;
        bool multilineGreeting = false;
        QString host = QStringLiteral("127.0.0.1");
        quint16 port = 0;   // 0: a free port
    };

    struct Attachment {
        QString fileName;
        QByteArray content;
    };

    struct Message {
        QString mailFrom;
        QStringList rcptTos;
        QString data;                               // as received, dot-stuffing removed
        QList<QPair<QString, QString>> headers;     // names and decoded values, in order
        QList<QPair<QString, QString>> rawHeaders;  // names and values as sent, unfolded
        QString body;                               // the text part, decoded
        QList<Attachment> attachments;
        QString parseError;

        QStringList headerNames() const;
        // The decoded values of every header of this name.
        QStringList header(const QString &name) const;
        // The values as sent, unfolded.
        QStringList rawHeader(const QString &name) const;
    };

    SmtpServer();
    explicit SmtpServer(const Options &options);
    ~SmtpServer();
    SmtpServer(const SmtpServer &) = delete;
    SmtpServer &operator=(const SmtpServer &) = delete;

    // False when the server could not be started (its error output is in `failure`).
    bool isRunning() const { return m_port != 0; }
    QString failure() const { return m_failure; }
    quint16 port() const { return m_port; }
    // "host:port", as the mail server field takes it.
    QString address() const;

    QList<Message> messages() const;
    int connections() const;

private:
    QList<QByteArray> recordLines() const;

    Options m_options;
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_failure;
};
