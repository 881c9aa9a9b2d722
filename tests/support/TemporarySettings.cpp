#include "TemporarySettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

TemporarySettings::TemporarySettings()
{
    if (!m_folder.isValid())
        qFatal("cannot make a temporary settings folder");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_folder.path());
    // Programs this process starts look here as well.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_folder.path()));
}

QString TemporarySettings::filePath() const
{
    return m_folder.filePath(QStringLiteral("Ostrel/Ostrel.conf"));
}

std::optional<QByteArray> TemporarySettings::bytes() const
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool TemporarySettings::writeFile(const QByteArray &content) const
{
    if (!QDir().mkpath(QFileInfo(filePath()).absolutePath()))
        return false;
    QFile file(filePath());
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QMap<QString, QString> TemporarySettings::storedTexts() const
{
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Settings"));
    QMap<QString, QString> texts;
    for (const QString &key : settings.childKeys())
        texts.insert(key, settings.value(key).toString());
    return texts;
}
