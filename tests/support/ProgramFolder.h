#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

// A temporary folder holding a copy of the built program, so that its
// result logs land where the test can read them.
class ProgramFolder
{
public:
    struct Run {
        bool finished = false;
        QProcess::ExitStatus exitStatus = QProcess::CrashExit;
        int exitCode = -1;
        qint64 elapsedMs = 0;   // from start to the end of the process
        QByteArray standardOutput;
        QByteArray standardError;
    };

    ProgramFolder();

    QString path() const { return m_folder.path(); }
    QString filePath(const QString &name) const { return m_folder.filePath(name); }

    // Runs the program with these arguments and no display at all, waiting
    // at most `timeoutMs`; a run still going then is killed and reported unfinished.
    Run run(const QStringList &arguments, int timeoutMs = 60000,
            const QProcessEnvironment &environment = headless()) const;
    // Starts the program the same way and returns at once.
    std::unique_ptr<QProcess> launch(const QStringList &arguments,
                                     const QProcessEnvironment &environment = headless()) const;
    // The same as another user than root, for whom file permissions hold.
    Run runAsNobody(const QStringList &arguments, int timeoutMs = 60000,
                    const QProcessEnvironment &environment = headless()) const;

    static QProcessEnvironment headless();

    // The messages of a result log, one per line, each checked for its time
    // stamp, tab and CR LF; nothing when the file does not exist.
    std::optional<QStringList> logMessages(const QString &name) const;

private:
    Run start(const QString &program, const QStringList &arguments, int timeoutMs,
              const QProcessEnvironment &environment) const;

    QTemporaryDir m_folder;
};

// The same for a log at any path.
std::optional<QStringList> readLogMessages(const QString &path);
