#pragma once

#include "PythonPeer.h"

#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

// An SMTP peer on a loopback port, run by smtp_server.py: a real server
// (aiosmtpd) recording connections, DATA and QUIT commands and messages, and
// refusing a message with any header defect, a sender without a domain or no
// Message-ID; with "--raw" a scripted listener, with "--exim" Debian's stock
// exim, both recording every line they receive. It stops with the object.
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

    // smtp_server.py's options, e.g. {"--tls", "starttls", "--login", "user:password"}.
    explicit SmtpServer(const QStringList &options = {});

    bool isRunning() const { return m_peer.isReady(); }
    QString failure() const { return m_peer.errorText(); }
    quint16 port() const { return m_peer.port(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    // The test's own CA, which signed the server's certificate (unless "--wrong-ca").
    QString caFile() const { return m_folder.filePath(QStringLiteral("ca.pem")); }

    QList<Message> messages() const;
    // How often "connect", "data" (the DATA command) or "quit" came.
    int count(const QString &event) const;
    // Every line received, without its line end ("--raw" and "--exim").
    QStringList lines() const;

private:
    QList<QJsonObject> records(const QString &event) const;

    QTemporaryDir m_folder;
    PythonPeer m_peer;
};

// This process and the programs it starts on a host named "vm" with no domain:
// look-ups stay on loopback (a hosts file naming localhost and vm, a name
// server that never answers) and /etc/mailname holds `mailName`. Needs root
// for its namespaces; false with the reason otherwise. Call it before any thread starts.
bool confineMailHost(QString *why);
// Replaces what /etc/mailname holds for this process; false when it cannot.
bool setMailName(const QByteArray &mailName);
