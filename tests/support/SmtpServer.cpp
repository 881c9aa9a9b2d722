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

SmtpServer::Pairs pairs(const QJsonValue &value)
{
    SmtpServer::Pairs list;
    for (const QJsonValue &item : value.toArray())
        list.append({item[0].toString(), item[1].toString()});
    return list;
}

} // namespace

SmtpServer::SmtpServer(const QString &flags)
    : m_peer(QStringLiteral("smtp_server.py"),
             QStringList{QStringLiteral("--record"), m_folder.filePath(QStringLiteral("record.jsonl"))}
                 + flags.split(QLatin1Char(' '), Qt::SkipEmptyParts))
{
}

QList<QJsonObject> SmtpServer::records(const QString &event) const
{
    QFile file(m_folder.filePath(QStringLiteral("record.jsonl")));
    QList<QJsonObject> entries;
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.value(QLatin1String("event")).toString() == event)
            entries << entry;
    }
    return entries;
}

QList<SmtpServer::Message> SmtpServer::messages() const
{
    QList<Message> messages;
    for (const QJsonObject &entry : records(QStringLiteral("message"))) {
        messages << Message{entry[QLatin1String("mail_from")].toString(), texts(entry[QLatin1String("rcpt_tos")]),
                            entry[QLatin1String("data")].toString(),      pairs(entry[QLatin1String("headers")]),
                            texts(entry[QLatin1String("to")]),            entry[QLatin1String("body")].toString(),
                            pairs(entry[QLatin1String("attachments")]),
                            texts(entry[QLatin1String("problems")]).join(QLatin1Char(';'))};
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
