#include "MarkerScript.h"

MarkerScript::MarkerScript()
{
    // The marker appears whole, by a rename.
    const QByteArray script = "#!/bin/sh\nprintf '%s\\n' \"$OSTREL_DEVICE|$OSTREL_PORT|$OSTREL_RESULT\" \"$@\" "
                              "> \"$0.partial\" && mv \"$0.partial\" \"$0.marker\"\n";
    if (!m_folder.isValid() || !writeExecutable(path(), script))
        qFatal("cannot write a marker script");
}

bool MarkerScript::writeExecutable(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size()
        && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
            | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

std::optional<MarkerScript::Record> MarkerScript::record() const
{
    QFile file(path() + ".marker");
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    lines.removeLast(); // after the last line end
    return Record { lines.value(0), lines.mid(1) };
}
