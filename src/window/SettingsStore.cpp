#include "window/SettingsStore.h"

#include "base/TextRules.h"
#include "base/Version.h"
#include "qt/Utf8.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace {

const QString kSection = QStringLiteral("Settings");

// Qt reads a file once per process and reports a format error only then;
// a later store on the same file, unchanged since, must still know it.
struct FileStamp {
    qint64 size;
    QDateTime modified;
};

FileStamp stampOf(const QString &fileName)
{
    const QFileInfo file(fileName);
    return { file.size(), file.lastModified() };
}

QHash<QString, FileStamp> &unreadableFiles()
{
    static QHash<QString, FileStamp> files;
    return files;
}

} // namespace

// The user's own file alone: Qt's per-user store would also read its
// fallbacks ($XDG_CONFIG_HOME/Ostrel.conf, /etc/xdg), and a broken one of
// those would keep the user's valid file from being read or written.
SettingsStore::SettingsStore()
    : SettingsStore(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/')
        + QLatin1String(Version::kTitle) + QLatin1Char('/') + QLatin1String(Version::kTitle) + QStringLiteral(".conf"))
{
}

SettingsStore::SettingsStore(const QString &fileName)
    : m_settings(std::make_unique<QSettings>(fileName, QSettings::NativeFormat))
{
    m_settings->beginGroup(kSection);
    usable(); // notes a file that Qt could not read, for the stores after this one
}

SettingsStore::~SettingsStore() = default;

// A file that cannot be read, or one that is not in the store's format (a
// hand edit gone wrong), is left exactly as it is: writing to it would
// replace what could not be read with only our own keys.
bool SettingsStore::usable() const
{
    const QString name = m_settings->fileName();
    if (m_settings->status() == QSettings::FormatError)
        unreadableFiles().insert(name, stampOf(name));
    if (m_settings->status() != QSettings::NoError)
        return false;
    const auto known = unreadableFiles().constFind(name);
    if (known == unreadableFiles().cend())
        return true;
    const FileStamp now = stampOf(name);
    return now.size != known->size || now.modified != known->modified;
}

std::optional<QString> SettingsStore::read(const QString &key, const std::optional<QString> &defaultText) const
{
    if (!usable())
        return std::nullopt;
    if (!m_settings->contains(key))
        return defaultText;
    const QVariant value = m_settings->value(key);
    // Unquoted commas in a hand-edited line ("a@x, b@y") make a list of it.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

bool SettingsStore::write(const QString &key, const QString &text)
{
    if (!usable() || !m_settings->isWritable())
        return false;
    m_settings->setValue(key, text);
    return true;
}

bool SettingsStore::flush()
{
    if (!usable())
        return false;
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

std::optional<bool> SettingsStore::toTruthValue(const QString &text)
{
    const QString word = Utf8::to(TextRules::trimSpaces(Utf8::from(text)));
    if (word.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (word.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    if (const auto number = TextRules::toNumber(Utf8::from(text)))
        return *number != 0;
    return std::nullopt;
}
