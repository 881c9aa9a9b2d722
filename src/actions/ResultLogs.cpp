#include "actions/ResultLogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ResultLog {

namespace {

    // A line break in a device name or command must not forge a line of its own.
    QString blankControls(QString message)
    {
        for (QChar &c : message) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                c = QLatin1Char(' ');
        }
        return message;
    }

    bool writeAll(int fd, const QByteArray &bytes)
    {
        ssize_t written;
        do
            written = ::write(fd, bytes.constData(), size_t(bytes.size()));
        while (written < 0 && errno == EINTR);
        return written == bytes.size();
    }

    // Nonblocking, so a FIFO without a reader fails at once instead of holding
    // the run; a link is never followed, and only a plain file with no other
    // name is written (a hard link could lead anywhere).
    void appendLine(const QByteArray &path, const QByteArray &line)
    {
        const int fd = ::open(
            path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd < 0)
            return;
        struct stat status { };
        if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1)
            writeAll(fd, line);
        ::close(fd);
    }

    // The new file gets a name of its own that nobody can have planted
    // (O_EXCL fails on anything already there, a link included), then replaces
    // the log in one rename: readers and other runs see the old file or the new
    // one, never a half-written one.
    void replaceWith(const QByteArray &path, const QByteArray &line)
    {
        const int slash = path.lastIndexOf('/');
        const QByteArray stem = path.left(slash + 1) + '.' + path.mid(slash + 1) + '.' + QByteArray::number(::getpid());
        for (int attempt = 0; attempt < 8; ++attempt) {
            const QByteArray temporary = stem + '.' + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
            const int fd
                = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
            if (fd < 0) {
                if (errno == EEXIST)
                    continue;
                return;
            }
            const bool written = writeAll(fd, line);
            const bool closed = ::close(fd) == 0;
            if (!written || !closed || ::rename(temporary.constData(), path.constData()) != 0)
                ::unlink(temporary.constData());
            return;
        }
    }

} // namespace

QString programFolder() { return QCoreApplication::applicationDirPath(); }

QString timeStamp(const QDateTime &when)
{
    // One fixed form whatever the user's locale: scripts that read the logs
    // can split it, and it sorts by time.
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void writeLine(const QString &path, const QString &message, bool append)
{
    const QByteArray line = (timeStamp(QDateTime::currentDateTime()) + QLatin1Char('\t') + blankControls(message)
        + QStringLiteral("\r\n"))
                                .toUtf8();
    if (append)
        appendLine(QFile::encodeName(path), line);
    else
        replaceWith(QFile::encodeName(path), line);
}

void remove(const QString &path) { ::unlink(QFile::encodeName(path).constData()); }

} // namespace ResultLog

namespace modCommand {

void Log_Success(const QString &strMessage)
{
    ResultLog::writeLine(QDir(ResultLog::programFolder()).filePath(ResultLog::kSuccessLog), strMessage, false);
}

void Log_Error(const QString &strMessage)
{
    ResultLog::writeLine(QDir(ResultLog::programFolder()).filePath(ResultLog::kErrorLog), strMessage, true);
}

} // namespace modCommand
