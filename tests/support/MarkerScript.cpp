#include "MarkerScript.h"

#include <sys/stat.h>
#include <unistd.h>

MarkerScript::MarkerScript(const QString &name)
    : m_name(name)
{
    const QByteArray marker = QFile::encodeName(markerPath());
    // One line each: the three streams, the folder, the arguments; the marker appears whole, by a rename.
    const QByteArray script
        = "#!/bin/sh\nPATH=/usr/bin:/bin\n"
          "in=$(readlink /proc/$$/fd/0) out=$(readlink /proc/$$/fd/1) err=$(readlink /proc/$$/fd/2)\n"
          "printf '%s\\n' \"$in\" \"$out\" \"$err\" \"$(pwd -P)\" \"$@\" > '"
        + marker
        + ".partial'\n"
          "mv '"
        + marker + ".partial' '" + marker
        + "'\n"
          "echo 'marker script output'\necho 'marker script error output' >&2\n";
    // Writable by all, for runs as another user.
    if (!m_folder.isValid() || ::chmod(QFile::encodeName(folder()).constData(), 0777) != 0
        || !writeExecutable(path(), script))
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
    QFile file(markerPath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    lines.removeLast(); // after the last line end
    if (lines.size() < 4)
        return std::nullopt;
    return Record { lines.at(0), lines.at(1), lines.at(2), lines.at(3), lines.mid(4) };
}

QString descriptorTarget(int fd)
{
    char target[4096];
    const ssize_t size
        = ::readlink(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(), target, sizeof target);
    return size < 0 ? QString() : QString::fromLocal8Bit(target, size);
}
