#pragma once

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

template <typename Control = QWidget> Control *control(const QWidget &window, const QString &name)
{
    auto *found = window.findChild<Control *>(name);
    return found ? found : (qFatal("no control named %s", qPrintable(name)), nullptr);
}

// A data table of one column, "row", holding structs named by their first member.
#define ROWS(Type, ...)                                                                                                \
    QTest::addColumn<Type>("row");                                                                                     \
    for (const Type &row : std::initializer_list<Type> { __VA_ARGS__ })                                                \
        QTest::newRow(row.name) << row;

inline bool writeExecutable(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
        && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// An empty per-user settings folder ($XDG_CONFIG_HOME) of its own while it
// lives, for this process and the programs it starts; never ~/.config.
class TemporarySettings {
    QTemporaryDir m_folder;
    QByteArray m_previous = qgetenv("XDG_CONFIG_HOME");

public:
    TemporarySettings() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_folder.path())); }
    ~TemporarySettings() { qputenv("XDG_CONFIG_HOME", m_previous); }
    QString filePath(const QString &name = QStringLiteral("Ostrel/Ostrel.conf")) const
    {
        return m_folder.filePath(name);
    }
    QString stored(const QString &key) const
    {
        return QSettings(filePath(), QSettings::IniFormat).value("Settings/" + key).toString();
    }
};

// Acts on the next modal window from inside its own event loop, so a test can
// open one with the real exec() and never block. Polls every 10 ms for at
// most 10 s; a window still open 0.5 s after the action is closed by force.
class ModalWatch {
    QTimer m_timer;
    int m_polls = 0;
    bool m_seen = false;

public:
    explicit ModalWatch(std::function<void(QWidget *modal)> action)
    {
        m_timer.callOnTimeout([this, action] {
            QWidget *modal = QApplication::activeModalWidget();
            if (++m_polls > 1000) {
                m_timer.stop();
            } else if (!m_seen && modal) {
                m_seen = true;
                m_polls = 950;
                action(modal);
            } else if (m_polls == 1000 && modal) {
                modal->close();
            }
        });
        m_timer.start(10);
    }
};
