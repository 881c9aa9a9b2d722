#pragma once

#include "PythonPeer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QTemporaryDir>

// A real SMTP server (aiosmtpd, run by smtp_server.py) on a loopback port,
// recording every connection and message it gets. It stops with the object.
class SmtpServer
{
public:
    struct Options {
        bool rejectSender = false;
        QStringList rejectRecipients;
        bool dropInData = false;
        bool noEhlo = false;
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
        QString body;         // the text part, decoded
        QList<QPair<QString, QByteArray>> attachments;   // file names and contents
        QString parseError;

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

    QList<Message> messages() const;
    int connections() const { return static_cast<int>(records(QStringLiteral("connect")).size()); }

private:
    QList<QJsonObject> records(const QString &event) const;

    Options m_options;
    QTemporaryDir m_folder;
    PythonPeer m_peer;
};
