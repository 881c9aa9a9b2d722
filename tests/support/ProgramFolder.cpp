#include "ProgramFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <unistd.h>

ProgramFolder::ProgramFolder()
{
    const QString program = m_folder.filePath(QStringLiteral("ostrel"));
    if (!m_folder.isValid() || !QFile::copy(QStringLiteral(OSTREL_BINARY), program))
        qFatal("cannot copy the program into a temporary folder");
}

QProcessEnvironment ProgramFolder::headless()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

ProgramFolder::Run ProgramFolder::run(const QStringList &arguments, int timeoutMs,
                                      const QProcessEnvironment &environment) const
{
    return start(m_folder.filePath(QStringLiteral("ostrel")), arguments, timeoutMs, environment);
}

std::unique_ptr<QProcess> ProgramFolder::launch(const QStringList &arguments,
                                                const QProcessEnvironment &environment) const
{
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(QDir::tempPath());
    process->start(m_folder.filePath(QStringLiteral("ostrel")), arguments);
    return process;
}

ProgramFolder::Run ProgramFolder::runAsNobody(const QStringList &arguments, int timeoutMs,
                                              const QProcessEnvironment &environment) const
{
    if (::geteuid() != 0)
        return run(arguments, timeoutMs, environment);
    return start(QStringLiteral("setpriv"),
                 QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                             QStringLiteral("--clear-groups"), m_folder.filePath(QStringLiteral("ostrel"))}
                     + arguments,
                 timeoutMs, environment);
}

ProgramFolder::Run ProgramFolder::start(const QString &program, const QStringList &arguments,
                                        int timeoutMs, const QProcessEnvironment &environment) const
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(QDir::tempPath());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    Run result;
    result.finished = process.waitForFinished(timeoutMs);
    result.elapsedMs = clock.elapsed();
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitStatus = process.exitStatus();
    result.exitCode = process.exitCode();
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    return result;
}

std::optional<QStringList> ProgramFolder::logMessages(const QString &name) const
{
    return readLogMessages(m_folder.filePath(name));
}

std::optional<QStringList> readLogMessages(const QString &path)
{
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly))
        return std::nullopt;
    static const QRegularExpression line(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\t(.*)\\r$"));
    QStringList messages;
    QList<QByteArray> lines = log.readAll().split('\n');
    // Every line ends in CR LF, so nothing follows the last one.
    const QString last = QString::fromUtf8(lines.takeLast());
    for (const QByteArray &text : lines) {
        const auto match = line.match(QString::fromUtf8(text));
        messages << (match.hasMatch() ? match.captured(1)
                                      : QStringLiteral("<malformed line: %1>").arg(QString::fromUtf8(text)));
    }
    if (!last.isEmpty())
        messages << QStringLiteral("<unterminated line: %1>").arg(last);
    return messages;
}
