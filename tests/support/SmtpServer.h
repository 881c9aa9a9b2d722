#pragma once

#include "PythonPeer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QTemporaryDir>

// A real SMTP server (aiosmtpd, or exim, run by smtp_server.py) on a loopback
// port, recording every connection, command of note and message it gets. It
// refuses a message with any header defect, a sender without a domain or no
// Message-ID. It stops with the object.
class SmtpServer
{
public:
    struct Options {
        bool rejectSender = false;
        QStringList rejectRecipients;   // answered "550 5.1.1 unknown user"
        bool dropInData = false;
        bool noEhlo = false;
        bool smtputf8 = false;
        int delayMs = 0;                // before each reply after EHLO's
        QString tls;                    // "", "starttls" or "implicit"; the CA is in caFile()
        bool wrongCa = false;           // a certificate the CA in caFile() did not sign
        QString login;                  // "user:password" the server demands (over TLS)
        bool exim = false;              // exim delivering into a file instead of aiosmtpd
        QString host = QStringLiteral("127.0.0.1");
        quint16 port = 0;   // 0: a free port
    };

    using Headers = QList<QPair<QString, QString>>;
    struct Message {
        QString mailFrom;
        QStringList rcptTos;
        QString data;         // as received, dot-stuffing removed
        Headers headers;      // names and decoded values, in order
        Headers rawHeaders;   // names and values as sent, unfolded
        QStringList to;       // the To header's addresses as a mail reader reads them
        QString body;         // the text part, decoded
        QList<QPair<QString, QByteArray>> attachments;   // file names and contents
        QString parseError;   // every defect the server found, "" for none

        QStringList headerNames() const;
        QStringList header(const QString &name) const { return valuesOf(headers, name); }
        QStringList rawHeader(const QString &name) const { return valuesOf(rawHeaders, name); }
        static QStringList valuesOf(const Headers &headers, const QString &name);
    };

    SmtpServer();
    explicit SmtpServer(const Options &options);

    // False when the server could not be started (why is in `failure`).
    bool isRunning() const { return m_peer.isReady(); }
    QString failure() const { return m_peer.errorText(); }
    quint16 port() const { return m_peer.port(); }
    // "host:port" ("[v6 address]:port"), as the mail server field takes it.
    QString address() const;
    QString caFile() const { return m_folder.filePath(QStringLiteral("ca.pem")); }

    QList<Message> messages() const;
    // How often "connect", "data" (the DATA command) or "quit" came.
    int count(const QString &event) const { return static_cast<int>(records(event).size()); }
    int connections() const { return count(QStringLiteral("connect")); }

private:
    QList<QJsonObject> records(const QString &event) const;

    Options m_options;
    QTemporaryDir m_folder;
    PythonPeer m_peer;
};
