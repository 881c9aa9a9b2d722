#include "ProgramFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <unistd.h>

ProgramFolder::ProgramFolder()
{
    // The program and the mail module it loads when a mail is due.
    const QString built = QStringLiteral(OSTREL_BINARY);
    if (!m_folder.isValid() || !QFile::copy(built, filePath(QStringLiteral("ostrel")))
        || !QFile::copy(QFileInfo(built).dir().filePath(QStringLiteral("ostrel-mail.so")),
            filePath(QStringLiteral("ostrel-mail.so"))))
        qFatal("cannot copy the program into a temporary folder");
}

QProcessEnvironment ProgramFolder::headless()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
        environment.remove(QString::fromLatin1(name));
    return environment;
}

std::unique_ptr<QProcess> ProgramFolder::launch(
    const QStringList &arguments, const QProcessEnvironment &environment, bool asNobody) const
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(QDir::tempPath());
    const QString program = filePath(QStringLiteral("ostrel"));
    // Dropping to another user needs root; others are such a user already.
    const bool drop = asNobody && ::geteuid() == 0;
    const QStringList nobody { "--reuid=65534", "--regid=65534", "--clear-groups", program };
    process->start(drop ? QStringLiteral("setpriv") : program, drop ? nobody + arguments : arguments);
    return process;
}

ProgramFolder::Run ProgramFolder::run(
    const QStringList &arguments, int timeoutMs, const QProcessEnvironment &environment, bool asNobody) const
{
    QElapsedTimer clock;
    clock.start();
    const auto process = launch(arguments, environment, asNobody);
    Run result;
    result.finished = process->waitForFinished(timeoutMs);
    result.elapsedMs = clock.elapsed();
    if (!result.finished)
        process->kill(), process->waitForFinished(5000);
    result.exitStatus = process->exitStatus();
    result.exitCode = process->exitCode();
    result.standardOutput = process->readAllStandardOutput();
    result.standardError = process->readAllStandardError();
    return result;
}

std::optional<QStringList> readLogMessages(const QString &path)
{
    QFile log(path);
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
