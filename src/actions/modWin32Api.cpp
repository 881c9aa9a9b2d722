#include "actions/modWin32Api.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace modWin32Api {

namespace {

    // The xdg tools answer in milliseconds; a hung one must not hold the caller.
    constexpr int kQueryTimeoutMs = 5000;

    void setStreams(QProcess &process, qint32 showState)
    {
        if (showState != SW_HIDE)
            return;
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
    }

    // The file as a path from the current folder: a bare name is looked for on
    // PATH as a shell would, and else taken from the current folder.
    QString locate(const QString &file)
    {
        if (!file.contains(QLatin1Char('/'))) {
            const QString onPath = QStandardPaths::findExecutable(file);
            if (!onPath.isEmpty())
                return onPath;
        }
        return QDir::current().absoluteFilePath(file);
    }

    qint32 missing(const QString &path, int error)
    {
        switch (error) {
        case EACCES:
            return SE_ERR_ACCESSDENIED;
        case ENOTDIR:
            return SE_ERR_PNF;
        case ENOENT:
            return QFileInfo(QFileInfo(path).absolutePath()).isDir() ? SE_ERR_FNF : SE_ERR_PNF;
        default:
            return SE_ERR_FNF;
        }
    }

    qint32 startProgram(const QString &path, const QString &parameters, qint32 showState)
    {
        QProcess process;
        process.setProgram(path);
        process.setArguments(QProcess::splitCommand(parameters));
        setStreams(process, showState);
        if (process.startDetached())
            return kShellAccepted;
        return ::access(QFile::encodeName(path).constData(), X_OK) == 0 ? ERROR_BAD_FORMAT : SE_ERR_ACCESSDENIED;
    }

    // The first line an xdg tool prints, or empty text when it fails or hangs.
    QString query(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(program, arguments);
        if (!process.waitForFinished(kQueryTimeoutMs)) {
            process.kill();
            process.waitForFinished(kQueryTimeoutMs);
            return QString();
        }
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return QString();
        const QString firstLine
            = QString::fromLocal8Bit(process.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0);
        return firstLine.section(QLatin1Char(';'), 0, 0).trimmed();
    }

    // Only an application the desktop names for the document's type counts: on a
    // machine without a display, or without one for the type, xdg-open would fall
    // back to text-mode browsers on whatever terminal there is.
    qint32 openDocument(const QString &path, qint32 showState)
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            return SE_ERR_NOASSOC;
        const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
        const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        if (xdgMime.isEmpty() || xdgOpen.isEmpty())
            return SE_ERR_NOASSOC;
        const QString type = query(xdgMime, { QStringLiteral("query"), QStringLiteral("filetype"), path });
        if (type.isEmpty())
            return SE_ERR_NOASSOC;
        if (query(xdgMime, { QStringLiteral("query"), QStringLiteral("default"), type }).isEmpty())
            return SE_ERR_NOASSOC;

        QProcess opener;
        opener.setProgram(xdgOpen);
        opener.setArguments({ path }); // absolute, so never read as an option
        setStreams(opener, showState);
        return opener.startDetached() ? kShellAccepted : SE_ERR_NOASSOC;
    }

} // namespace

qint32 Shell_Execute(const QString &strFile, const QString &strParameters, const qint32 &lngShowCmd)
{
    if (strFile.isEmpty())
        return SE_ERR_FNF;
    const QString path = locate(strFile);
    const QByteArray native = QFile::encodeName(path);
    struct stat status { };
    if (::stat(native.constData(), &status) != 0)
        return missing(path, errno);
    if (S_ISREG(status.st_mode) && ::access(native.constData(), X_OK) == 0)
        return startProgram(path, strParameters, lngShowCmd);
    if (::access(native.constData(), R_OK) != 0)
        return SE_ERR_ACCESSDENIED;
    return openDocument(path, lngShowCmd);
}

} // namespace modWin32Api
