#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

// A shell script in a folder of its own that anyone may write to. It records in a marker file beside
// it where its standard streams lead, its working folder and its arguments, then prints a line on
// its standard output and error.
class MarkerScript {
public:
    struct Record {
        QString standardInput, standardOutput, standardError; // where /proc/<pid>/fd/0, 1 and 2 point
        QString folder; // physical working folder
        QStringList arguments;
    };

    explicit MarkerScript(const QString &name = QStringLiteral("marker.sh"));

    QString folder() const { return m_folder.path(); }
    QString path() const { return filePath(m_name); }
    QString filePath(const QString &name) const { return m_folder.filePath(name); }

    // The script runs detached, so the marker is polled for.
    bool waitForMarker(int timeoutMs = 20000) const
    {
        return QTest::qWaitFor([this] { return QFile::exists(markerPath()); }, timeoutMs);
    }
    // Nothing while the script has not finished the marker.
    std::optional<Record> record() const;

    // Writes an executable file (mode 0755) with this content.
    static bool writeExecutable(const QString &path, const QByteArray &content);

private:
    QString markerPath() const { return filePath(m_name + QStringLiteral(".marker")); }

    QTemporaryDir m_folder;
    QString m_name;
};

// Where this process's own file descriptor leads ("/dev/null", "pipe:[123]"...).
QString descriptorTarget(int fd);
