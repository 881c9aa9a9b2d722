#pragma once

#include "PythonPeer.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

// An SMTP peer on a loopback port (smtp_server.py with its options); it stops with the object.
class SmtpServer {
public:
    struct Message {
        QStringList rcptTos;
        QJsonObject headers; // each field's decoded values
        QString body;
        QStringList header(const QString &name) const { return headers[name].toVariant().toStringList(); }
    };

    explicit SmtpServer(const QStringList &options = {})
        : m_peer(
            QStringLiteral("smtp_server.py"), QStringList { "--record", m_folder.filePath("record.jsonl") } + options)
    {
    }
    bool isRunning() const { return m_peer.isReady(); }
    QString failure() const { return m_peer.errorText(); }
    quint16 port() const { return m_peer.port(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    QString caFile() const { return m_folder.filePath(QStringLiteral("ca.pem")); } // with "--tls"

    // "line": each command received, "message": each message taken.
    QList<QJsonObject> records(const QString &event) const
    {
        QFile file(m_folder.filePath("record.jsonl"));
        QList<QJsonObject> records;
        for (const QByteArray &line : file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList()) {
            if (const QJsonObject record = QJsonDocument::fromJson(line).object(); record["event"] == event)
                records << record;
        }
        return records;
    }
    QList<Message> messages() const
    {
        QList<Message> messages;
        for (const QJsonObject &record : records("message"))
            messages << Message { record["rcpt_tos"].toVariant().toStringList(), record["headers"].toObject(),
                record["body"].toString() };
        return messages;
    }

private:
    QTemporaryDir m_folder;
    PythonPeer m_peer;
};
