#pragma once

#include <QtTest>
#include <QtWidgets>

// A data table of one column, "row", holding structs named by their first member.
#define ROWS(Type, ...)                                                                                                \
    QTest::addColumn<Type>("row");                                                                                     \
    for (const Type &row : std::initializer_list<Type> { __VA_ARGS__ })                                                \
        QTest::newRow(row.name) << row;

// Parent folder included; only its owner may read and write it, and run it when told.
inline bool writeFile(const QString &path, const QByteArray &content, QFile::Permissions run = {})
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly)
        && file.write(content) == content.size() && file.setPermissions(run | QFile::ReadOwner | QFile::WriteOwner);
}

// A per-user settings folder ($XDG_CONFIG_HOME) of the test's own, for it and the programs it starts; never ~/.config.
class TemporarySettings {
    QTemporaryDir m_folder;

public:
    const QString file = m_folder.filePath("Ostrel/Ostrel.conf");
    TemporarySettings() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_folder.path())); }
    QMap<QString, QString> stored() const
    {
        QSettings settings(file, QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("Settings"));
        QMap<QString, QString> texts;
        for (const QString &key : settings.childKeys())
            texts.insert(key, settings.value(key).toString());
        return texts;
    }
};

// Acts on the next modal window from inside its own event loop, so a test can open one with the real exec() and
// never block: polls every 10 ms while it lives, and closes the window by force 0.5 s after the action.
class ModalWatch : public QTimer {
public:
    explicit ModalWatch(std::function<void(QWidget *modal)> action)
    {
        callOnTimeout([this, action] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                stop();
                action(modal);
                QTimer::singleShot(500, modal, &QWidget::close);
            }
        });
        start(10);
    }
};

// A test server in Python (tests/support/*.py) run by Debian's interpreter, which has the server packages. The
// script prints "ready <port>" once it listens and ends when its input closes.
class PythonPeer {
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;

public:
    PythonPeer(const QString &script, const QStringList &arguments)
    {
        m_process.start(QStringLiteral("/usr/bin/python3"),
            QStringList { QStringLiteral(OSTREL_TEST_SUPPORT_DIR "/") + script } + arguments);
        const QDeadlineTimer deadline(20000);
        while (!m_process.canReadLine() && m_process.waitForReadyRead(int(deadline.remainingTime())))
            continue;
        const QByteArray line = m_process.readLine();
        if (line.startsWith("ready "))
            m_port = quint16(line.mid(6).trimmed().toUInt());
        else
            m_error = script + " did not come up: " + QString::fromLocal8Bit(line + m_process.readAllStandardError());
    }
    ~PythonPeer()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill(), m_process.waitForFinished(5000);
    }
    // False when the script did not come up in time; why is in errorText().
    bool isReady() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString errorText() const { return m_error; }
};
