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
