#include "ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

ProgramFolder::ProgramFolder()
{
    const QString built = QStringLiteral(OSTREL_BINARY);
    if (!m_folder.isValid() || !QFile::copy(built, m_folder.filePath(QStringLiteral("ostrel")))
        || !QFile::copy(QFileInfo(built).dir().filePath(QStringLiteral("ostrel-mail.so")),
            m_folder.filePath(QStringLiteral("ostrel-mail.so"))))
        qFatal("cannot copy the program into a temporary folder");
}

QProcessEnvironment ProgramFolder::headless()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "OSTREL_EXIT_STATUS", "OSTREL_LOG_DIR" })
        environment.remove(QString::fromLatin1(name));
    return environment;
}

ProgramFolder::Run ProgramFolder::run(const QStringList &arguments, int timeoutMs) const
{
    QProcess process;
    process.setProcessEnvironment(headless());
    process.start(m_folder.filePath(QStringLiteral("ostrel")), arguments);
    Run result;
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished)
        process.kill(), process.waitForFinished(5000);
    result.exitCode = process.exitCode();
    result.standardError = process.readAllStandardError();
    return result;
}

std::optional<QStringList> ProgramFolder::logMessages(const QString &name) const
{
    QFile log(m_folder.filePath(name));
    if (!log.open(QIODevice::ReadOnly))
        return std::nullopt;
    static const QRegularExpression line(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\t(.*)\\r$"));
    QStringList messages, lines = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'));
    // Every line ends in CR LF, so nothing follows the last one.
    const QString last = lines.takeLast();
    for (const QString &text : lines) {
        const auto match = line.match(text);
        messages << (match.hasMatch() ? match.captured(1) : QStringLiteral("<malformed line: %1>").arg(text));
    }
    if (!last.isEmpty())
        messages << QStringLiteral("<unterminated line: %1>").arg(last);
    return messages;
}
