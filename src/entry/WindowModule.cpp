#include "entry/WindowModule.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace {

// No QCoreApplication exists yet (the module makes its own), so the
// program's folder comes from the running executable itself.
QString programFolder(const char *programName)
{
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    if (self.exists())
        return QFileInfo(self.canonicalFilePath()).absolutePath();
    return QFileInfo(QString::fromLocal8Bit(programName)).absolutePath();
}

} // namespace

namespace WindowModule {

std::optional<int> run(Request request, char *programName, QString *error)
{
    const QDir folder(programFolder(programName));
    const QStringList candidates {
        folder.filePath(QStringLiteral("ostrel-window")),
        folder.filePath(QStringLiteral(OSTREL_MODULE_RELDIR "/ostrel-window")),
    };
    QStringList errors;
    for (const QString &candidate : candidates) {
        QLibrary module(candidate);
        const auto entry = reinterpret_cast<EntryPoint>(module.resolve(kEntryPointName));
        if (!entry) {
            errors << module.errorString();
            continue;
        }
        // Only the program's name: the window takes no arguments, and Qt's
        // own options must not be read out of a calling sequence.
        char *arguments[] = { programName, nullptr };
        int count = 1;
        return entry(count, arguments, static_cast<int>(request));
    }
    if (error)
        *error = errors.join(QStringLiteral("; "));
    return std::nullopt;
}

} // namespace WindowModule
