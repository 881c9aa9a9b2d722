#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

// A shell script in a folder of its own that anyone may write to. It records in a marker file beside it what
// its environment says of the check (OSTREL_DEVICE|OSTREL_PORT|OSTREL_RESULT) and its arguments.
class MarkerScript {
public:
    struct Record {
        QString check;
        QStringList arguments;
    };

    MarkerScript();

    QString path() const { return m_folder.filePath(QStringLiteral("marker.sh")); }

    // The script runs detached, so the marker is polled for.
    bool waitForMarker(int timeoutMs = 20000) const
    {
        return QTest::qWaitFor([this] { return QFile::exists(path() + ".marker"); }, timeoutMs);
    }
    // Nothing while the script has not finished the marker.
    std::optional<Record> record() const;

    // Writes an executable file (mode 0755) with this content.
    static bool writeExecutable(const QString &path, const QByteArray &content);

private:
    QTemporaryDir m_folder;
};
