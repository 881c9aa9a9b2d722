#include "TemporarySettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

TemporarySettings::TemporarySettings()
{
    if (!m_folder.isValid())
        qFatal("cannot make a temporary settings folder");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_folder.path()));
}

TemporarySettings::~TemporarySettings()
{
    qputenv("XDG_CONFIG_HOME", m_previous);
}

std::optional<QByteArray> TemporarySettings::bytes(const QString &name) const
{
    QFile file(m_folder.filePath(name));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool TemporarySettings::writeFile(const QByteArray &content, const QString &name) const
{
    QFile file(m_folder.filePath(name));
    return QDir().mkpath(QFileInfo(file).absolutePath()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(content) == content.size();
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
