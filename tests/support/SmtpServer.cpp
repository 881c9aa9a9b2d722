#include "SmtpServer.h"
#include "LoopbackResolver.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryFile>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

QStringList texts(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &item : value.toArray())
        list << item.toString();
    return list;
}

} // namespace

SmtpServer::SmtpServer(const QStringList &options)
    : m_peer(QStringLiteral("smtp_server.py"),
        QStringList { QStringLiteral("--record"), m_folder.filePath(QStringLiteral("record.jsonl")) } + options)
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

QStringList SmtpServer::lines() const
{
    QStringList lines;
    for (const QJsonObject &entry : records(QStringLiteral("line")))
        lines << entry[QLatin1String("text")].toString();
    return lines;
}

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

bool confineMailHost(QString *why)
{
    const QByteArray server = LoopbackResolver::silentNameServer();
    if (server.isEmpty() || !LoopbackResolver::confine(why, { server, "127.0.0.1 vm\n::1 vm", "timeout:5 attempts:2" }))
        return why->append(QStringLiteral(" (no silent name server)")), false;
    if (::unshare(CLONE_NEWUTS) != 0 || ::sethostname("vm", 2) != 0)
        return *why = QStringLiteral("no host name of our own"), false;
    return setMailName({}) || (*why = QStringLiteral("no /etc/mailname of our own"), false);
}

bool setMailName(const QByteArray &mailName)
{
    static QTemporaryFile file; // the mount shows what it holds now
    static const bool mounted = file.open()
        && ::mount(QFile::encodeName(file.fileName()).constData(), "/etc/mailname", nullptr, MS_BIND, nullptr) == 0;
    return mounted && file.resize(0) && file.seek(0) && file.write(mailName) == mailName.size() && file.flush();
}
