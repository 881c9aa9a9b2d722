#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <optional>

// An empty per-user settings folder of its own: while it lives, every
// per-user store this process opens lies in it, never in the user's real
// ~/.config. A fresh one per test keeps one test's file out of the next.
class TemporarySettings
{
public:
    TemporarySettings();

    // Where the program keeps its settings in this folder.
    QString folder() const { return m_folder.path(); }
    QString filePath() const;

    // The file's bytes exactly; nothing when it does not exist.
    std::optional<QByteArray> bytes() const;
    // Writes the file as a user's hand would (parent folder included).
    bool writeFile(const QByteArray &content) const;
    // The texts stored in the section "Settings", as the store reads them.
    QMap<QString, QString> storedTexts() const;

private:
    QTemporaryDir m_folder;
};
