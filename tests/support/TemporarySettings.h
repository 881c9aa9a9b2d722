#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <optional>

// An empty per-user settings folder ($XDG_CONFIG_HOME) of its own, for this
// process and the programs it starts, never the user's real ~/.config. A
// fresh one per test keeps one test's file out of the next.
class TemporarySettings
{
public:
    TemporarySettings();
    ~TemporarySettings(); // puts the earlier $XDG_CONFIG_HOME back

    QString folder() const { return m_folder.path(); }
    // Where the program keeps its settings in this folder.
    QString filePath() const { return m_folder.filePath(QStringLiteral("Ostrel/Ostrel.conf")); }

    // The bytes of a file here (the settings file by default); nothing when it does not exist.
    std::optional<QByteArray> bytes(const QString &name = QStringLiteral("Ostrel/Ostrel.conf")) const;
    // Writes a file here as a user's hand would, parent folder included.
    bool writeFile(const QByteArray &content, const QString &name = QStringLiteral("Ostrel/Ostrel.conf")) const;
    // The texts stored in the section "Settings".
    QMap<QString, QString> storedTexts() const;

private:
    QTemporaryDir m_folder;
    QByteArray m_previous = qgetenv("XDG_CONFIG_HOME");
};
