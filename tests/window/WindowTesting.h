#pragma once

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// Every window test class lives in one executable (tst_window), run one
// class at a time by name: tst_window TestCheckWindow [QTest options].
namespace WindowTesting {

template <typename Control = QWidget> Control *control(const QWidget &window, const QString &name)
{
    auto *found = window.findChild<Control *>(name);
    return found ? found : (qFatal("no control named %s", qPrintable(name)), nullptr);
}

bool add(const char *name, std::function<std::unique_ptr<QObject>()> make);

} // namespace WindowTesting

#define WINDOW_TEST(Class)                                                                                             \
    [[maybe_unused]] static const bool registered##Class                                                               \
        = WindowTesting::add(#Class, [] { return std::unique_ptr<QObject>(new Class); });

// A data table of one column, "row", holding structs named by their first member.
#define ROWS(Type, ...)                                                                                                \
    QTest::addColumn<Type>("row");                                                                                     \
    for (const Type &row : std::initializer_list<Type> { __VA_ARGS__ })                                                \
        QTest::newRow(row.name) << row;

// An empty per-user settings folder ($XDG_CONFIG_HOME) of its own while it
// lives, for this process and the programs it starts; never ~/.config.
class TemporarySettings {
    QTemporaryDir m_folder;
    QByteArray m_previous = qgetenv("XDG_CONFIG_HOME");

public:
    TemporarySettings() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_folder.path())); }
    ~TemporarySettings() { qputenv("XDG_CONFIG_HOME", m_previous); }
    QString folder() const { return m_folder.path(); }
    QString filePath(const QString &name = QStringLiteral("Ostrel/Ostrel.conf")) const
    {
        return m_folder.filePath(name);
    }
    // Writes a file here as a user's hand would, parent folder included.
    bool writeFile(const QByteArray &content, const QString &name = QStringLiteral("Ostrel/Ostrel.conf")) const
    {
        QFile file(filePath(name));
        return QDir().mkpath(QFileInfo(file).absolutePath()) && file.open(QIODevice::WriteOnly)
            && file.write(content) == content.size();
    }
    QMap<QString, QString> storedTexts() const // of the section "Settings"
    {
        QSettings settings(filePath(), QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("Settings"));
        QMap<QString, QString> texts;
        for (const QString &key : settings.childKeys())
            texts.insert(key, settings.value(key).toString());
        return texts;
    }
};

// Acts on the next modal window from inside its own event loop, so a test can
// open one with the real exec() and never block. Polls every 10 ms for at
// most 10 s; a window still open 0.5 s after the action is closed by force.
class ModalWatch {
    QTimer m_timer;
    QPointer<QWidget> m_modal;
    int m_polls = 0;
    bool m_seen = false, m_forced = false;

public:
    explicit ModalWatch(std::function<void(QWidget *modal)> action)
    {
        m_timer.callOnTimeout([this, action] {
            if (++m_polls > 1000 || (m_seen && (!m_modal || !m_modal->isVisible())))
                m_timer.stop();
            else if (!m_seen && (m_modal = QApplication::activeModalWidget()) && m_modal->isVisible())
                m_seen = true, m_polls = 950, action(m_modal);
            else if (m_seen && m_polls == 1000)
                m_forced = true, m_modal->close();
        });
        m_timer.start(10);
    }
    bool seen() const { return m_seen; }
    bool forced() const { return m_forced; }
};
