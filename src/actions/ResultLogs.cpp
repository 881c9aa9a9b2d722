#include "actions/ResultLogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace ResultLog {

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString timeStamp(const QDateTime &when)
{
    // One fixed form whatever the user's locale: scripts that read the logs
    // can split it, and it sorts by time.
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void writeLine(const QString &path, const QString &message, bool append)
{
    QFile file(path);
    const QIODevice::OpenMode mode =
        QIODevice::WriteOnly | (append ? QIODevice::Append : QIODevice::Truncate);
    if (!file.open(mode))
        return;
    const QString line = timeStamp(QDateTime::currentDateTime()) + QLatin1Char('\t') + message
        + QStringLiteral("\r\n");
    file.write(line.toUtf8());
}

} // namespace ResultLog

namespace modCommand {

void Log_Success(const QString &strMessage)
{
    ResultLog::writeLine(QDir(ResultLog::programFolder()).filePath(ResultLog::kSuccessLog),
                         strMessage, false);
}

void Log_Error(const QString &strMessage)
{
    ResultLog::writeLine(QDir(ResultLog::programFolder()).filePath(ResultLog::kErrorLog),
                         strMessage, true);
}

} // namespace modCommand
