#pragma once

#include "PythonPeer.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

// An aiosmtpd peer on a loopback port (smtp_server.py) and the messages it took; it stops with the object.
class SmtpServer {
public:
    struct Message {
        QStringList rcptTos;
        QJsonObject headers; // each field's decoded values
        QString body;
        QStringList header(const QString &name) const { return headers[name].toVariant().toStringList(); }
    };

    SmtpServer()
        : m_peer(QStringLiteral("smtp_server.py"), QStringList { "--record", m_folder.path() })
    {
    }
    bool isRunning() const { return m_peer.isReady(); }
    QString failure() const { return m_peer.errorText(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_peer.port()); }

    QList<Message> messages() const
    {
        QList<Message> messages;
        QFile file(m_folder.filePath(QStringLiteral("messages")));
        for (const QByteArray &line : file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QByteArrayList()) {
            if (const QJsonObject record = QJsonDocument::fromJson(line).object(); !record.isEmpty())
                messages << Message { record["rcpt_tos"].toVariant().toStringList(), record["headers"].toObject(),
                    record["body"].toString() };
        }
        return messages;
    }

private:
    QTemporaryDir m_folder;
    PythonPeer m_peer;
};
