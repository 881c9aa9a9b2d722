#pragma once

#include "PythonPeer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QTemporaryDir>

// A real SMTP server (aiosmtpd, or exim with "--exim", run by smtp_server.py)
// on a loopback port, recording connections, DATA and QUIT commands and
// messages. It refuses a message with any header defect, a sender without a
// domain or no Message-ID. It stops with the object.
class SmtpServer
{
public:
    using Pairs = QList<QPair<QString, QString>>;
    struct Message {
        QString mailFrom;
        QStringList rcptTos;
        QString data;         // as received, dot-stuffing removed
        Pairs headers;        // names and decoded values, in order
        QStringList to;       // the To header's addresses as a mail reader reads them
        QString body;         // the text part, decoded
        Pairs attachments;    // file names and base64 contents
        QString parseError;   // every defect the server found, "" for none

        QStringList header(const QString &name) const;
    };

    // `flags`: smtp_server.py's options, e.g. "--tls starttls --login user:password".
    explicit SmtpServer(const QString &flags = QString());

    // False when the server could not be started (why is in `failure`).
    bool isRunning() const { return m_peer.isReady(); }
    QString failure() const { return m_peer.errorText(); }
    quint16 port() const { return m_peer.port(); }
    // "127.0.0.1:port", as the mail server field takes it.
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    // The test's own CA, which signed the server's certificate (unless "--wrong-ca").
    QString caFile() const { return m_folder.filePath(QStringLiteral("ca.pem")); }

    QList<Message> messages() const;
    // How often "connect", "data" (the DATA command) or "quit" came.
    int count(const QString &event) const { return static_cast<int>(records(event).size()); }
    int connections() const { return count(QStringLiteral("connect")); }

private:
    QList<QJsonObject> records(const QString &event) const;

    QTemporaryDir m_folder;
    PythonPeer m_peer;
};
