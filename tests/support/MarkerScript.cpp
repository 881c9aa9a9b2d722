#include "MarkerScript.h"

#include <QFile>
#include <QTest>
#include <unistd.h>

MarkerScript::MarkerScript(const QString &name)
    : m_name(name)
{
    // Readable by all and writable by all, for runs as another user.
    if (!m_folder.isValid()
        || !QFile::setPermissions(m_folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                       | QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
                                                       | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther))
        qFatal("cannot make a folder for a marker script");
    const QByteArray marker = QFile::encodeName(markerPath());
    const QByteArray script = "#!/bin/sh\n"
                              "PATH=/usr/bin:/bin\n"
                              "input=$(readlink /proc/$$/fd/0)\n"
                              "output=$(readlink /proc/$$/fd/1)\n"
                              "error=$(readlink /proc/$$/fd/2)\n"
                              "marker='" + marker + "'\n"
                              "{\n"
                              "  printf 'stdin %s\\n' \"$input\"\n"
                              "  printf 'stdout %s\\n' \"$output\"\n"
                              "  printf 'stderr %s\\n' \"$error\"\n"
                              "  printf 'folder %s\\n' \"$(pwd -P)\"\n"
                              "  for argument in \"$@\"; do printf 'argument %s\\n' \"$argument\"; done\n"
                              "} > \"$marker.partial\"\n"
                              "mv \"$marker.partial\" \"$marker\"\n"
                              "echo 'marker script output'\n"
                              "echo 'marker script error output' >&2\n";
    if (!writeExecutable(path(), script))
        qFatal("cannot write a marker script");
}

bool MarkerScript::writeExecutable(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    return file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                               | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

bool MarkerScript::waitForMarker(int timeoutMs) const
{
    return QTest::qWaitFor([this] { return QFile::exists(markerPath()); }, timeoutMs);
}

std::optional<MarkerScript::Record> MarkerScript::record() const
{
    QFile file(markerPath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    Record record;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QString text = QString::fromLocal8Bit(line);
        const QString value = text.section(QLatin1Char(' '), 1);
        if (text.startsWith(QLatin1String("stdin ")))
            record.standardInput = value;
        else if (text.startsWith(QLatin1String("stdout ")))
            record.standardOutput = value;
        else if (text.startsWith(QLatin1String("stderr ")))
            record.standardError = value;
        else if (text.startsWith(QLatin1String("folder ")))
            record.folder = value;
        else if (text.startsWith(QLatin1String("argument ")))
            record.arguments << value;
    }
    return record;
}

QString descriptorTarget(int fd)
{
    char target[4096];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t size = ::readlink(link.constData(), target, sizeof target);
    return size < 0 ? QString() : QString::fromLocal8Bit(target, size);
}
