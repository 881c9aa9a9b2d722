#include "shell/modDialogFile.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace modDialogFile {

namespace {

std::optional<QStringList> &presetChoice()
{
    static std::optional<QStringList> choice;
    return choice;
}

// "EXE Files (*.exe)\0*.exe\0All Files (*.*)\0*.*\0\0" -> Qt's name filters.
QStringList nameFilters(const QString &filter)
{
    QStringList parts = filter.split(QChar(0));
    while (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts.at(i + 1);
        // "*.*" means every file here, also those without a dot in their names.
        patterns.replace(QLatin1String("*.*"), QLatin1String("*"));
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt reads the patterns from the parentheses of the description.
        QString description = parts.at(i);
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open >= 0)
            description = description.left(open).trimmed();
        filters << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters;
}

void listExecutablesOnly(QFileDialog &dialog, bool only)
{
    const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::AllDirs;
    dialog.setFilter(only ? (QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot) : all);
}

} // namespace

void configure(QFileDialog &dialog, int mode, const QString &title, const QString &fileName,
               const QString &filter, const QString &initialDir, const QString &defaultExt,
               std::optional<bool> multiSelect)
{
    // Qt's own dialog: the same everywhere, and usable without a desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowTitle(title);
    dialog.setDefaultSuffix(defaultExt);
    if (!initialDir.isEmpty())
        dialog.setDirectory(initialDir);
    dialog.selectFile(fileName);
    if (mode == 1) {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        // Only existing files in existing folders can be chosen.
        dialog.setFileMode(multiSelect.value_or(false) ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        // The read-only box has no counterpart in Qt's dialog.
        dialog.setOption(QFileDialog::ReadOnly, false);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    }
    const QStringList filters = nameFilters(filter);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty()) {
        dialog.selectNameFilter(filters.first());
        listExecutablesOnly(dialog, filters.first().startsWith(kProgramsFilter + QLatin1String(" (")));
    }
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString &chosen) {
        listExecutablesOnly(dialog, chosen.startsWith(kProgramsFilter + QLatin1String(" (")));
    });
}

QString joinChoice(const QStringList &chosenPaths)
{
    if (chosenPaths.size() < 2)
        return chosenPaths.value(0);
    QStringList parts{QFileInfo(chosenPaths.first()).absolutePath()};
    for (const QString &path : chosenPaths)
        parts << QFileInfo(path).fileName();
    return parts.join(QLatin1Char(','));
}

QString Show_FileDialog(QWidget *owner, int mode, const QString &title, const QString &fileName,
                        const QString &filter, const QString &initialDir, const QString &defaultExt,
                        std::optional<bool> multiSelect)
{
    if (auto preset = std::exchange(presetChoice(), std::nullopt))
        return joinChoice(*preset);
    QFileDialog dialog(owner);
    configure(dialog, mode, title, fileName, filter, initialDir, defaultExt, multiSelect);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return joinChoice(dialog.selectedFiles());
}

void setNextChoice(const QStringList &chosenPaths)
{
    presetChoice() = chosenPaths;
}

} // namespace modDialogFile
