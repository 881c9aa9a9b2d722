#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

// A shell script, in a folder of its own that every user may write to, which
// records how it was started in a marker file beside it: where its standard
// streams lead, its working folder and its arguments. It then prints a line
// on its standard output and error.
class MarkerScript
{
public:
    struct Record {
        QString standardInput;    // what /proc/<pid>/fd/0 points at
        QString standardOutput;
        QString standardError;
        QString folder;           // physical working folder
        QStringList arguments;
    };

    explicit MarkerScript(const QString &name = QStringLiteral("marker.sh"));

    QString folder() const { return m_folder.path(); }
    QString path() const { return m_folder.filePath(m_name); }
    QString filePath(const QString &name) const { return m_folder.filePath(name); }
    QString markerPath() const { return m_folder.filePath(m_name + QStringLiteral(".marker")); }

    // The script runs detached, so the marker is polled for, within the time given.
    bool waitForMarker(int timeoutMs = 20000) const;
    // The marker's content; nothing while the script has not finished it.
    std::optional<Record> record() const;

    // Writes an executable file (mode 0755) with this content.
    static bool writeExecutable(const QString &path, const QByteArray &content);

private:
    QTemporaryDir m_folder;
    QString m_name;
};

// Where this process's own file descriptor leads ("/dev/null", "pipe:[123]"...).
QString descriptorTarget(int fd);
