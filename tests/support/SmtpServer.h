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
        : m_peer(QStringLiteral("smtp_server.py"), QStringList { "--record", m_folder.path() } + options)
    {
    }
    bool isRunning() const { return m_peer.isReady(); }
    QString failure() const { return m_peer.errorText(); }
    quint16 port() const { return m_peer.port(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    QString caFile() const { return m_folder.filePath(QStringLiteral("ca.pem")); } // with "--tls"

    // Each command received, a MAIL whole and any other by its first word; the message left out.
    QStringList lines() const { return QString::fromUtf8(read("lines")).split('\n', Qt::SkipEmptyParts); }
    QList<Message> messages() const
    {
        QList<Message> messages;
        for (const QByteArray &line : read("messages").split('\n')) {
            if (const QJsonObject record = QJsonDocument::fromJson(line).object(); !record.isEmpty())
                messages << Message { record["rcpt_tos"].toVariant().toStringList(), record["headers"].toObject(),
                    record["body"].toString() };
        }
        return messages;
    }

private:
    QByteArray read(const QString &name) const
    {
        QFile file(m_folder.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir m_folder;
    PythonPeer m_peer;
};
