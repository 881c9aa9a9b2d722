#pragma once

#include "PythonPeer.h"

#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

// A real SMTP server (aiosmtpd, or exim with "--exim", run by smtp_server.py)
// on a loopback port, recording connections, DATA and QUIT commands and
// messages. It refuses a message with any header defect, a sender without a
// domain or no Message-ID. It stops with the object.
class SmtpServer {
public:
    struct Message {
        QString mailFrom;
        QStringList rcptTos;
        QList<QPair<QString, QString>> headers; // names and decoded values, in order
        QStringList to; // the To header's addresses as a mail reader reads them
        QString body; // the text part, decoded
        QString parseError; // every defect the server found, "" for none

        QStringList header(const QString &name) const;
    };

    // `flags`: smtp_server.py's options, e.g. "--tls starttls --login user:password".
    explicit SmtpServer(const QString &flags = QString());

    bool isRunning() const { return m_peer.isReady(); }
    QString failure() const { return m_peer.errorText(); }
    quint16 port() const { return m_peer.port(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    // The test's own CA, which signed the server's certificate (unless "--wrong-ca").
    QString caFile() const { return m_folder.filePath(QStringLiteral("ca.pem")); }

    QList<Message> messages() const;
    // How often "connect", "data" (the DATA command) or "quit" came.
    int count(const QString &event) const;

private:
    QList<QJsonObject> records(const QString &event) const;

    QTemporaryDir m_folder;
    PythonPeer m_peer;
};
