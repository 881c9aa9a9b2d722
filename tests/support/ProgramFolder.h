#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

// The messages of a result log at any path, one per line, each checked for its time stamp, tab and
// CR LF; nothing when the file does not exist.
std::optional<QStringList> readLogMessages(const QString &path);

// A temporary folder holding a copy of the built program, so that its result logs land where the
// test reads them. Runs have no display at all unless the environment given says otherwise.
class ProgramFolder {
public:
    struct Run {
        bool finished = false;
        QProcess::ExitStatus exitStatus = QProcess::CrashExit;
        int exitCode = -1;
        qint64 elapsedMs = 0;
        QByteArray standardOutput, standardError;
    };

    ProgramFolder();

    QString path() const { return m_folder.path(); }
    QString filePath(const QString &name) const { return m_folder.filePath(name); }

    // Waits at most `timeoutMs`; a run still going then is killed and reported unfinished.
    // `asNobody`: as another user than root, for whom file permissions hold.
    Run run(const QStringList &arguments, int timeoutMs = 60000, const QProcessEnvironment &environment = headless(),
        bool asNobody = false) const;
    // Starts the program and returns at once.
    std::unique_ptr<QProcess> launch(
        const QStringList &arguments, const QProcessEnvironment &environment = headless(), bool asNobody = false) const;

    static QProcessEnvironment headless();

    std::optional<QStringList> logMessages(const QString &name) const { return readLogMessages(filePath(name)); }

private:
    QTemporaryDir m_folder;
};
