#include "SmtpServer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

QStringList texts(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &item : value.toArray())
        list << item.toString();
    return list;
}

} // namespace

SmtpServer::SmtpServer(const QString &flags)
    : m_peer(QStringLiteral("smtp_server.py"),
        QStringList { QStringLiteral("--record"), m_folder.filePath(QStringLiteral("record.jsonl")) }
            + flags.split(QLatin1Char(' '), Qt::SkipEmptyParts))
{
}

QList<QJsonObject> SmtpServer::records(const QString &event) const
{
    QFile file(m_folder.filePath(QStringLiteral("record.jsonl")));
    QList<QJsonObject> entries;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QJsonObject entry = QJsonDocument::fromJson(line).object();
            if (entry.value(QLatin1String("event")).toString() == event)
                entries << entry;
        }
    }
    return entries;
}

int SmtpServer::count(const QString &event) const { return static_cast<int>(records(event).size()); }

QList<SmtpServer::Message> SmtpServer::messages() const
{
    QList<Message> messages;
    for (const QJsonObject &entry : records(QStringLiteral("message"))) {
        Message message { entry[QLatin1String("mail_from")].toString(), texts(entry[QLatin1String("rcpt_tos")]), {},
            texts(entry[QLatin1String("to")]), entry[QLatin1String("body")].toString(),
            texts(entry[QLatin1String("problems")]).join(QLatin1Char(';')) };
        for (const QJsonValue &header : entry[QLatin1String("headers")].toArray())
            message.headers.append({ header[0].toString(), header[1].toString() });
        messages << message;
    }
    return messages;
}

QStringList SmtpServer::Message::header(const QString &name) const
{
    QStringList values;
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            values << header.second;
    }
    return values;
}
