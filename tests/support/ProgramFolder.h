#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

// A temporary folder holding a copy of the built program and its mail module, so that its result logs land
// where the test reads them. Runs have no display at all unless the environment given says otherwise.
class ProgramFolder {
public:
    struct Run {
        bool finished = false;
        int exitCode = -1;
        QByteArray standardError;
    };

    ProgramFolder();

    // Waits at most `timeoutMs`; a run still going then is killed and reported unfinished.
    Run run(const QStringList &arguments, int timeoutMs = 60000) const;

    static QProcessEnvironment headless();

    // The messages of a log, one per line, each checked for its time stamp, tab and CR LF; nothing when there
    // is no such file.
    std::optional<QStringList> logMessages(const QString &name) const;

private:
    QTemporaryDir m_folder;
};
