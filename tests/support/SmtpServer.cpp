#include "SmtpServer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

QStringList serverArguments(const SmtpServer::Options &options, const QString &record)
{
    QStringList arguments{QStringLiteral("--record"), record, QStringLiteral("--host"), options.host,
                          QStringLiteral("--port"), QString::number(options.port)};
    if (options.rejectSender)
        arguments << QStringLiteral("--reject-sender");
    for (const QString &address : options.rejectRecipients)
        arguments << QStringLiteral("--reject-recipient") << address;
    if (options.dropInData)
        arguments << QStringLiteral("--drop-in-data");
    const std::pair<bool, const char *> flags[] = {{options.noEhlo, "--no-ehlo"},   {options.smtputf8, "--smtputf8"},
                                                   {options.wrongCa, "--wrong-ca"},  {options.exim, "--exim"}};
    for (const auto &[set, flag] : flags) {
        if (set)
            arguments << QLatin1String(flag);
    }
    if (options.delayMs)
        arguments << QStringLiteral("--delay") << QString::number(options.delayMs / 1000.0);
    if (!options.tls.isEmpty())
        arguments << QStringLiteral("--tls") << options.tls;
    if (!options.login.isEmpty())
        arguments << QStringLiteral("--login") << options.login;
    return arguments;
}

SmtpServer::Headers headerPairs(const QJsonValue &value)
{
    SmtpServer::Headers headers;
    for (const QJsonValue &header : value.toArray())
        headers.append({header[0].toString(), header[1].toString()});
    return headers;
}

} // namespace

SmtpServer::SmtpServer()
    : SmtpServer(Options())
{
}

SmtpServer::SmtpServer(const Options &options)
    : m_options(options)
    , m_peer(QStringLiteral("smtp_server.py"),
             serverArguments(options, m_folder.filePath(QStringLiteral("record.jsonl"))))
{
}

QString SmtpServer::address() const
{
    const QString host = m_options.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + m_options.host + QLatin1Char(']')
                                                                    : m_options.host;
    return host + QLatin1Char(':') + QString::number(port());
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
        Message message{entry[QLatin1String("mail_from")].toString(), {}, entry[QLatin1String("data")].toString(),
                        headerPairs(entry[QLatin1String("headers")]), headerPairs(entry[QLatin1String("raw_headers")]),
                        {}, entry[QLatin1String("body")].toString(), {}, {}};
        for (const QJsonValue &problem : entry[QLatin1String("problems")].toArray())
            message.parseError += problem.toString() + QLatin1Char(';');
        for (const QJsonValue &address : entry[QLatin1String("to")].toArray())
            message.to << address.toString();
        for (const QJsonValue &recipient : entry[QLatin1String("rcpt_tos")].toArray())
            message.rcptTos << recipient.toString();
        for (const QJsonValue &attachment : entry[QLatin1String("attachments")].toArray())
            message.attachments.append({attachment[QLatin1String("filename")].toString(),
                                        QByteArray::fromBase64(attachment[QLatin1String("content")].toString().toLatin1())});
        messages << message;
    }
    return messages;
}

QStringList SmtpServer::Message::headerNames() const
{
    QStringList names;
    for (const auto &header : headers)
        names << header.first;
    return names;
}

QStringList SmtpServer::Message::valuesOf(const Headers &headers, const QString &name)
{
    QStringList values;
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            values << header.second;
    }
    return values;
}
