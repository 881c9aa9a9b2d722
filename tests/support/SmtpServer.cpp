#include "SmtpServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr int kStartMs = 20000;
constexpr int kStopMs = 5000;

QString recordPath(const QTemporaryDir &folder)
{
    return folder.filePath(QStringLiteral("record.jsonl"));
}

} // namespace

SmtpServer::SmtpServer()
    : SmtpServer(Options())
{
}

SmtpServer::SmtpServer(const Options &options)
    : m_options(options)
{
    QStringList arguments{QStringLiteral(OSTREL_TEST_SUPPORT_DIR "/smtp_server.py"), QStringLiteral("--record"),
                          recordPath(m_folder), QStringLiteral("--host"), options.host, QStringLiteral("--port"),
                          QString::number(options.port)};
    if (options.rejectSender)
        arguments << QStringLiteral("--reject-sender");
    for (const QString &address : options.rejectRecipients)
        arguments << QStringLiteral("--reject-recipient") << address;
    if (options.dropInData)
        arguments << QStringLiteral("--drop-in-data");
    if (options.noEhlo)
        arguments << QStringLiteral("--no-ehlo");
    if (options.multilineGreeting)
        arguments << QStringLiteral("--multiline-greeting");

    // The Debian interpreter, which has aiosmtpd; the one on PATH may not.
    m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
    const QDeadlineTimer deadline(kStartMs);
    QByteArray output;
    while (m_process.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())))) {
        output += m_process.readAllStandardOutput();
        if (output.startsWith("PORT ") && output.contains('\n')) {
            m_port = static_cast<quint16>(output.mid(5, output.indexOf('\n') - 5).trimmed().toUInt());
            return;
        }
        if (deadline.hasExpired())
            break;
    }
    m_failure = QString::fromLocal8Bit(output + m_process.readAllStandardError());
}

SmtpServer::~SmtpServer()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // The server ends when its input closes.
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(kStopMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopMs);
    }
}

QString SmtpServer::address() const
{
    return m_options.host + QLatin1Char(':') + QString::number(m_port);
}

QList<QByteArray> SmtpServer::recordLines() const
{
    QFile record(recordPath(m_folder));
    if (!record.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = record.readAll().split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

int SmtpServer::connections() const
{
    int count = 0;
    for (const QByteArray &line : recordLines())
        count += QJsonDocument::fromJson(line).object().value(QLatin1String("event")).toString() == QLatin1String("connect");
    return count;
}

QList<SmtpServer::Message> SmtpServer::messages() const
{
    QList<Message> messages;
    for (const QByteArray &line : recordLines()) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.value(QLatin1String("event")).toString() != QLatin1String("message"))
            continue;
        Message message;
        message.mailFrom = entry.value(QLatin1String("mail_from")).toString();
        for (const QJsonValue &recipient : entry.value(QLatin1String("rcpt_tos")).toArray())
            message.rcptTos << recipient.toString();
        message.data = entry.value(QLatin1String("data")).toString();
        for (const QJsonValue &header : entry.value(QLatin1String("headers")).toArray())
            message.headers.append({header.toArray().at(0).toString(), header.toArray().at(1).toString()});
        for (const QJsonValue &header : entry.value(QLatin1String("raw_headers")).toArray())
            message.rawHeaders.append({header.toArray().at(0).toString(), header.toArray().at(1).toString()});
        message.body = entry.value(QLatin1String("body")).toString();
        for (const QJsonValue &value : entry.value(QLatin1String("attachments")).toArray()) {
            const QJsonObject attachment = value.toObject();
            message.attachments.append(
                {attachment.value(QLatin1String("filename")).toString(),
                 QByteArray::fromBase64(attachment.value(QLatin1String("content")).toString().toLatin1())});
        }
        message.parseError = entry.value(QLatin1String("parse_error")).toString();
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

namespace {

QStringList valuesOf(const QList<QPair<QString, QString>> &headers, const QString &name)
{
    QStringList values;
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            values << header.second;
    }
    return values;
}

} // namespace

QStringList SmtpServer::Message::header(const QString &name) const
{
    return valuesOf(headers, name);
}

QStringList SmtpServer::Message::rawHeader(const QString &name) const
{
    return valuesOf(rawHeaders, name);
}
